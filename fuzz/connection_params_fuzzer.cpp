// Deep links and command lines as a browser, a shell or a stranger's link
// can hand them over. Whatever the text, parsing ends with either a refusal
// or parameters inside their documented ranges.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "fuzz/support/fuzz_input.h"

namespace {

void check_params(const nb::ConnectionParams& params) {
    NB_FUZZ_CHECK(params.port >= 1);
    NB_FUZZ_CHECK(params.fps >= 1 && params.bitrate >= 1 && params.width >= 1 && params.height >= 1);
    NB_FUZZ_CHECK(nb::codec_number(params.codec) <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (const auto value = nb::parse_bounded_int(text, 65535)) NB_FUZZ_CHECK(*value >= 1 && *value <= 65535);
    NB_FUZZ_CHECK(nb::decode_query_value(text).size() <= text.size());

    nb::ConnectionParams from_link;
    if (nb::parse_connection_uri(text, from_link)) check_params(from_link);
    (void)nb::is_connection_uri(text);

    // One argument per line, after the program's own name.
    std::vector<std::string> args{"nubora-launcher"};
    size_t start = 0;
    while (start <= text.size() && args.size() < 64) {
        const size_t end = std::min(text.find('\n', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const nb::CommandLine cli = nb::read_command_line(static_cast<int>(args.size()), argv.data());
    if (cli.action == nb::CommandLine::Action::stream) check_params(cli.params);
    NB_FUZZ_CHECK((cli.action == nb::CommandLine::Action::invalid) == !cli.error.empty());
    return 0;
}
