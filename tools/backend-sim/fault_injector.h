// Test switches that make chosen requests fail in the shapes clients must
// cope with: validation errors with and without detail items, plain-text
// error pages, a bare null, slow, truncated and oversized answers.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace nb {

struct FaultRule {
    enum class Kind { Validation, ValidationEmpty, ValidationNoMsg, Detail, Message, Status, Text, Null, Json,
                      Delay, Truncate, Huge };
    std::string method;  // empty: any
    std::string path;    // exact, or a prefix when it ends with '*'
    Kind kind = Kind::Status;
    int status = 500;
    std::string text;    // message or body, by kind
    int64_t amount = 0;  // milliseconds for Delay, bytes for Huge
    int remaining = -1;  // answers left; -1: every matching request

    bool matches(const std::string& method, const std::string& path) const;
};

class FaultInjector {
public:
    // Parses "[METHOD:]PATH=KIND[:ARG...]"; false with `error` saying why.
    static bool parse(std::string_view spec, FaultRule& rule, std::string& error);
    // Every kind with its arguments, for --help and error messages.
    static const char* kinds_help();

    void add(FaultRule rule);
    void clear();

    // Before routing: waits out matching delays, then answers for the
    // first matching error rule. True when the response is complete.
    bool before_routing(const httplib::Request& req, httplib::Response& res);
    // After routing: cuts the body of a request a truncate rule matches.
    void after_routing(const httplib::Request& req, httplib::Response& res);

private:
    // Finds and uses up the first matching rule of the wanted sort.
    bool take(const httplib::Request& req, bool want_delay, bool want_truncate, FaultRule& out);

    std::mutex mutex_;  // guards rules_
    std::vector<FaultRule> rules_;
};

}  // namespace nb
