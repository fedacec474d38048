// What an HTTP request must show before the MCP server reads it: the right
// Host (against DNS rebinding), no foreign Origin, the token, a protocol
// version we speak and a session we know. Pure decisions on header values;
// the HTTP transport applies them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace mcp {

inline constexpr std::string_view kDefaultHttpHost = "127.0.0.1";

struct ListenAddress {
    std::string host;  // a name or an IP literal, without brackets
    std::uint16_t port = 0;
};

// "[HOST:]PORT"; an IPv6 host is written in brackets: "[::1]:8765".
[[nodiscard]] zelto::Result<ListenAddress> parse_listen_address(std::string_view text);

// localhost, 127.0.0.0/8 and ::1.
[[nodiscard]] bool is_loopback_host(std::string_view host);
// 0.0.0.0 and ::, which listen on every interface.
[[nodiscard]] bool is_wildcard_host(std::string_view host);

// Compares in time that depends on the lengths only, never on where they differ.
[[nodiscard]] bool tokens_equal(std::string_view given, std::string_view expected);

struct HttpPolicy {
    ListenAddress listen;
    std::string token;                         // empty: none asked for
    std::vector<std::string> allowed_origins;  // exact, as a browser sends them
    std::vector<std::string> allowed_hosts;    // names, without port
};

// A listen address beyond loopback is refused without a token.
[[nodiscard]] zelto::Status check_policy(const HttpPolicy& policy);

// The request's header values that the checks read; absent headers are empty.
struct RequestHeaders {
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> authorization;
    std::optional<std::string> protocol_version;
};

struct Refusal {
    int status = 0;
    std::string reason;  // for the log line; never holds the token
};

// Host, Origin, token and protocol version, in that order; nothing when the
// request may go on.
[[nodiscard]] std::optional<Refusal> check_request(const HttpPolicy& policy,
                                                   const RequestHeaders& headers);

// Which session a POST belongs to. `initialize` opens one and must name none;
// every other message names one that exists.
struct SessionVerdict {
    enum class Kind { open_new, existing, refuse };
    Kind kind = Kind::refuse;
    Refusal refusal;  // for refuse
};
[[nodiscard]] SessionVerdict check_session(bool is_initialize,
                                           const std::optional<std::string>& session_id,
                                           const std::function<bool(const std::string&)>& known);

}  // namespace mcp
