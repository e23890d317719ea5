# Every project target compiles warning-clean with -Wall -Wextra.
function(nb_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A subsystem library made of every source in its folder. Folders that have
# no sources yet give an interface library, so dependants link regardless.
# Sources of one platform's mechanism are listed after LINUX or WINDOWS and
# compiled on that platform only; DEPS_LINUX and DEPS_WINDOWS likewise.
function(nb_add_subsystem target)
  cmake_parse_arguments(ARG "" "" "DEPS;LINUX;WINDOWS;DEPS_LINUX;DEPS_WINDOWS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(WIN32)
    set(other_platform ${ARG_LINUX})
    list(APPEND ARG_DEPS ${ARG_DEPS_WINDOWS})
  else()
    set(other_platform ${ARG_WINDOWS})
    list(APPEND ARG_DEPS ${ARG_DEPS_LINUX})
  endif()
  foreach(file ${other_platform})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    nb_target_defaults(${target})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# Keeps the listed sources that exist, so a suite still being written does
# not stop the rest of the tree from configuring.
macro(nb_existing_sources var)
  set(_kept "")
  foreach(_src ${${var}})
    if(IS_ABSOLUTE ${_src})
      set(_path ${_src})
    else()
      set(_path ${CMAKE_CURRENT_SOURCE_DIR}/${_src})
    endif()
    if(EXISTS ${_path})
      list(APPEND _kept ${_src})
    endif()
  endforeach()
  set(${var} ${_kept})
endmacro()

# Executables of a sanitizer build carry the suppressions for what system
# libraries leak or race on their own, so only our own faults are reported.
function(nb_sanitizer_defaults target)
  if(NB_SANITIZE)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/sanitizer_suppressions.cpp)
  endif()
endfunction()

# A GoogleTest executable whose cases are registered with CTest one by one.
function(nb_add_test target)
  cmake_parse_arguments(ARG "THREADED;RUN_SERIAL" "TIMEOUT;RESOURCE_LOCK;FIXTURES;LABELS" "SOURCES;LINUX;WINDOWS;LIBS" ${ARGN})
  # Cases of one platform's mechanism are listed after LINUX or WINDOWS.
  if(WIN32)
    list(APPEND ARG_SOURCES ${ARG_WINDOWS})
  else()
    list(APPEND ARG_SOURCES ${ARG_LINUX})
  endif()
  nb_existing_sources(ARG_SOURCES)
  if(NOT ARG_SOURCES)
    message(STATUS "${target}: no sources yet, skipped")
    return()
  endif()
  add_executable(${target} ${ARG_SOURCES})
  nb_target_defaults(${target})
  nb_sanitizer_defaults(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # THREADED suites exercise the threads: the tsan stage builds just these.
  if(ARG_THREADED AND TARGET nb_concurrency_suites)
    add_dependencies(nb_concurrency_suites ${target})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Empty values vanish from the property list and would swallow the next
  # property name, so optional ones are added only when given.
  set(optional_properties "")
  if(ARG_RESOURCE_LOCK)
    list(APPEND optional_properties RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  # Cases that need the X focus on wine's shared display: any window another
  # suite shows may take it, so they run with nothing else beside them.
  if(ARG_RUN_SERIAL)
    list(APPEND optional_properties RUN_SERIAL TRUE)
  endif()
  if(ARG_LABELS)
    list(APPEND optional_properties LABELS "${ARG_LABELS}")
  endif()
  # A server or other set-up the cases need, started by a ctest fixture.
  if(ARG_FIXTURES)
    list(APPEND optional_properties FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  # Listing a suite's cases under wine can take seconds while the prefix is
  # fresh; five (the default) is too tight there.
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${optional_properties}
               ENVIRONMENT "NB_SOURCE_DIR=${NB_TEST_SOURCE_DIR}")
endfunction()

# A Google Benchmark executable under bench/. Built only when asked for by
# name (scripts/bench.sh does), so the test build does not wait for them.
function(nb_add_bench target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  nb_existing_sources(ARG_SOURCES)
  if(NOT ARG_SOURCES)
    message(STATUS "${target}: no sources yet, skipped")
    return()
  endif()
  add_executable(${target} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  nb_target_defaults(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
