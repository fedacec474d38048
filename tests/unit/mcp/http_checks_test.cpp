#include "mcp/http_checks.h"

#include <gtest/gtest.h>

namespace mcp {
namespace {

// Built member by member: GCC 12 wrongly warns of nested aggregate strings.
HttpPolicy policy(std::string host, std::string token, std::vector<std::string> origins = {},
                  std::vector<std::string> hosts = {}) {
    HttpPolicy out;
    out.listen.host = std::move(host);
    out.listen.port = 8765;
    out.token = std::move(token);
    out.allowed_origins = std::move(origins);
    out.allowed_hosts = std::move(hosts);
    return out;
}

// One table for what a request must show: each row a policy, the headers and
// the status it gets (0: it may go on).
TEST(HttpChecksTest, HostOriginTokenAndVersionDecideEveryRequest) {
    const HttpPolicy loopback = policy("127.0.0.1", "");
    const HttpPolicy tokened = policy("127.0.0.1", "s3cret", {"https://app.example"});
    const HttpPolicy everywhere = policy("0.0.0.0", "s3cret", {}, {"vm1.lan"});
    const auto ok = [](std::string host) {
        return RequestHeaders{std::move(host), std::nullopt, std::nullopt, std::nullopt};
    };
    const auto with = [](RequestHeaders headers, std::optional<std::string> origin,
                         std::optional<std::string> authorization,
                         std::optional<std::string> version) {
        headers.origin = std::move(origin);
        headers.authorization = std::move(authorization);
        headers.protocol_version = std::move(version);
        return headers;
    };
    struct Case {
        const char* what;
        const HttpPolicy& policy;
        RequestHeaders headers;
        int status;
    };
    const Case cases[] = {
        {"loopback by address", loopback, ok("127.0.0.1:8765"), 0},
        {"loopback by name", loopback, ok("localhost:8765"), 0},
        {"loopback v6", loopback, ok("[::1]:8765"), 0},
        {"rebound name", loopback, ok("evil.example:8765"), 403},
        {"other port", loopback, ok("127.0.0.1:9999"), 403},
        {"no port means 80", loopback, ok("127.0.0.1"), 403},
        {"no Host", loopback, {}, 403},
        {"foreign origin", loopback, with(ok("127.0.0.1:8765"), "https://evil.example", {}, {}),
         403},
        {"null origin", loopback, with(ok("127.0.0.1:8765"), "null", {}, {}), 403},
        {"allowed origin", tokened,
         with(ok("127.0.0.1:8765"), "https://app.example", "Bearer s3cret", {}), 0},
        {"token missing", tokened, ok("127.0.0.1:8765"), 401},
        {"token wrong", tokened, with(ok("127.0.0.1:8765"), {}, "Bearer s3cres", {}), 401},
        {"token prefix", tokened, with(ok("127.0.0.1:8765"), {}, "Bearer s3cre", {}), 401},
        {"token longer", tokened, with(ok("127.0.0.1:8765"), {}, "Bearer s3cret!", {}), 401},
        {"basic scheme", tokened, with(ok("127.0.0.1:8765"), {}, "Basic s3cret", {}), 401},
        {"scheme any case", tokened, with(ok("127.0.0.1:8765"), {}, "bearer s3cret", {}), 0},
        {"wildcard takes IP hosts", everywhere, with(ok("192.0.2.7:8765"), {}, "Bearer s3cret", {}),
         0},
        {"wildcard refuses names", everywhere, with(ok("other.lan:8765"), {}, "Bearer s3cret", {}),
         403},
        {"allowed host name", everywhere, with(ok("VM1.lan:8765"), {}, "Bearer s3cret", {}), 0},
        {"known version", loopback, with(ok("127.0.0.1:8765"), {}, {}, "2025-06-18"), 0},
        {"unknown version", loopback, with(ok("127.0.0.1:8765"), {}, {}, "2099-01-01"), 400},
    };
    for (const Case& c : cases) {
        const std::optional<Refusal> refusal = check_request(c.policy, c.headers);
        EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.what;
        if (refusal) {
            EXPECT_EQ(refusal->reason.find("s3cret"), std::string::npos) << c.what;
        }
    }
}

TEST(HttpChecksTest, ListenAddressesSessionsAndThePolicy) {
    struct Listen {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    };
    const Listen listens[] = {
        {"8765", "127.0.0.1", 8765}, {"0.0.0.0:80", "0.0.0.0", 80},
        {"[::1]:8765", "::1", 8765}, {"localhost:1", "localhost", 1},
        {"65536", nullptr, 0},       {"host:", nullptr, 0},
        {"0", nullptr, 0},           {"127.0.0.1", nullptr, 0},
        {"[::1]8765", nullptr, 0},   {"", nullptr, 0},
    };
    for (const Listen& l : listens) {
        const auto parsed = parse_listen_address(l.text);
        ASSERT_EQ(parsed.ok(), l.host != nullptr) << l.text;
        if (parsed) {
            EXPECT_EQ(parsed->host, l.host);
            EXPECT_EQ(parsed->port, l.port);
        }
    }
    EXPECT_TRUE(check_policy(policy("127.0.0.1", "")).ok());
    EXPECT_TRUE(check_policy(policy("localhost", "")).ok());
    EXPECT_FALSE(check_policy(policy("0.0.0.0", "")).ok());
    EXPECT_FALSE(check_policy(policy("192.0.2.7", "")).ok());
    EXPECT_TRUE(check_policy(policy("0.0.0.0", "t")).ok());

    const auto known = [](const std::string& id) { return id == "abc"; };
    using Kind = SessionVerdict::Kind;
    EXPECT_EQ(check_session(true, std::nullopt, known).kind, Kind::open_new);
    EXPECT_EQ(check_session(true, "abc", known).refusal.status, 400);
    EXPECT_EQ(check_session(false, std::nullopt, known).refusal.status, 400);
    EXPECT_EQ(check_session(false, "abd", known).refusal.status, 404);
    EXPECT_EQ(check_session(false, "abc", known).kind, Kind::existing);
    EXPECT_FALSE(tokens_equal("", ""));
}

}  // namespace
}  // namespace mcp
