# The Linux backend simulator serves the WinHTTP suite from a ctest fixture:
# it is started in the background on a free loopback port, which it writes
# to a file the suite reads, and stops when the cleanup runs (or on its own
# after a minute without requests).
set(NB_LINUX_BACKEND_SIM ${PROJECT_SOURCE_DIR}/build/nubora-backend-sim CACHE FILEPATH
    "The Linux nubora-backend-sim that the Windows suites talk to")
set(backend_dir ${CMAKE_BINARY_DIR}/winhttp-backend)
set(backend_faults
    --fault GET:/test/slow=delay:20000
    --fault GET:/test/teapot=status:418
    --fault GET:/test/huge=huge:17000000
    --fault GET:/test/small=huge:4096
    --fault DELETE:/test/gone=status:204)
string(JOIN " " backend_fault_text ${backend_faults})

nb_add_test(nb_test_rest
  SOURCES rest_parsers_test.cpp
  WINDOWS rest_winhttp_test.cpp
  LIBS nb_ui_core nb_test_support
  FIXTURES winhttp_backend)

add_test(NAME winhttp_backend_start COMMAND /bin/sh -c
    "[ -x '${NB_LINUX_BACKEND_SIM}' ] || { echo 'no ${NB_LINUX_BACKEND_SIM}: build the Linux nubora-backend-sim first'; exit 1; }; \
     rm -rf '${backend_dir}'; mkdir -p '${backend_dir}' && cd '${backend_dir}' || exit 1; \
     '${NB_LINUX_BACKEND_SIM}' --port 0 --port-file port.tmp --seed-demo --fast-password-hash \
       --prepare-delay 0 --exit-after-idle 60 ${backend_fault_text} </dev/null >sim.log 2>&1 & \
     echo $! > '${backend_dir}/pid'; \
     for i in $(seq 100); do [ -s '${backend_dir}/port.tmp' ] && mv '${backend_dir}/port.tmp' '${backend_dir}/port' && exit 0; sleep 0.1; done; \
     cat '${backend_dir}/sim.log'; exit 1")
set_tests_properties(winhttp_backend_start PROPERTIES FIXTURES_SETUP winhttp_backend TIMEOUT 30)
add_test(NAME winhttp_backend_stop COMMAND /bin/sh -c "kill $(cat '${backend_dir}/pid') 2>/dev/null; exit 0")
set_tests_properties(winhttp_backend_stop PROPERTIES FIXTURES_CLEANUP winhttp_backend)
