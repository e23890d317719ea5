// Backend answers as a broken or hostile server sends them: any status with
// any body, through every response parser. None throws, a failure always
// says why, and every number the launcher uses stays in its range.
#include <cstdint>
#include <string_view>

#include "fuzz/support/fuzz_input.h"
#include "ui/rest_parsers.h"

using namespace nb::ui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    nb::fuzz::FuzzInput input(data, size);
    // Mostly the statuses the parsers tell apart, sometimes anything.
    static constexpr int k_statuses[] = {200, 201, 204, 400, 401, 404, 409, 422, 500, 0};
    const uint8_t pick = input.u8();
    const int status = pick < 200 ? k_statuses[pick % std::size(k_statuses)] : static_cast<int>(input.u16()) - 1000;
    const auto rest = input.bytes(input.remaining());
    const std::string_view body(reinterpret_cast<const char*>(rest.data()), rest.size());

    const auto check = [](const auto& result) { NB_FUZZ_CHECK(result.ok == result.error.empty()); };
    check(parse_login_response(status, body));
    check(parse_register_response(status, body));
    check(parse_profile_response(status, body));
    check(parse_create_session_response(status, body));

    const ServerListResult list = parse_server_list_response(status, body);
    check(list);
    NB_FUZZ_CHECK(list.servers.size() <= body.size());

    const ActiveSession active = parse_active_session_response(status, body);
    check(active);
    NB_FUZZ_CHECK(active.duration_sec >= 0);

    const ConnectInfo connect = parse_connect_info_response(status, body);
    check(connect);
    NB_FUZZ_CHECK(connect.port >= 1 && connect.control_port >= 1);
    NB_FUZZ_CHECK(connect.fps >= 1 && connect.fps <= 240);
    NB_FUZZ_CHECK(connect.bitrate >= 1 && connect.bitrate <= 1'000'000);
    return 0;
}
