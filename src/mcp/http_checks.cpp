#include "mcp/http_checks.h"

#include <algorithm>

#include "mcp/server.h"
#include "text/text.h"

namespace mcp {
namespace {

constexpr std::uint16_t kDefaultHttpPort = 80;

std::optional<std::uint16_t> read_port(std::string_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    std::uint32_t port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

bool is_ipv4_literal(std::string_view host) {
    int parts = 0;
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(std::string(part)) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        host.remove_prefix(dot + 1);
    }
}

// A name cannot be rebound to another address when it is an address.
bool is_ip_literal(std::string_view host) {
    return is_ipv4_literal(host) || host.find(':') != std::string_view::npos;
}

struct HostAndPort {
    std::string host;
    std::optional<std::uint16_t> port;  // absent: none written
};

// "name", "name:port", "[v6]" or "[v6]:port".
std::optional<HostAndPort> split_host_port(std::string_view text) {
    HostAndPort out;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        out.host = std::string(text.substr(1, close - 1));
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.rfind(':');
        out.host = std::string(text.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (out.host.empty()) {
        return std::nullopt;
    }
    if (!rest.empty()) {
        if (rest.front() != ':') {
            return std::nullopt;
        }
        out.port = read_port(rest.substr(1));
        if (!out.port) {
            return std::nullopt;
        }
    }
    return out;
}

bool host_allowed(const HttpPolicy& policy, std::string_view header) {
    const std::optional<HostAndPort> given = split_host_port(header);
    if (!given || given->port.value_or(kDefaultHttpPort) != policy.listen.port) {
        return false;
    }
    const std::string name = text::ascii_lower(given->host);
    const std::string& listen = policy.listen.host;
    if (name == text::ascii_lower(listen) || (is_loopback_host(listen) && is_loopback_host(name)) ||
        (is_wildcard_host(listen) && is_ip_literal(name))) {
        return true;
    }
    return std::any_of(
        policy.allowed_hosts.begin(), policy.allowed_hosts.end(),
        [&](const std::string& allowed) { return text::ascii_lower(allowed) == name; });
}

std::optional<std::string> bearer_token(std::string_view authorization) {
    constexpr std::string_view kScheme = "bearer ";
    if (authorization.size() <= kScheme.size() ||
        text::ascii_lower(authorization.substr(0, kScheme.size())) != kScheme) {
        return std::nullopt;
    }
    return text::trim(authorization.substr(kScheme.size()));
}

}  // namespace

zelto::Result<ListenAddress> parse_listen_address(std::string_view text) {
    const auto refuse = [&] {
        return zelto::fail(text::concat(
            {"--http takes [HOST:]PORT (PORT 1 to 65535, an IPv6 HOST in brackets), not \"", text,
             "\""}));
    };
    if (const std::optional<std::uint16_t> port = read_port(text)) {
        return ListenAddress{std::string(kDefaultHttpHost), *port};
    }
    const std::optional<HostAndPort> split = split_host_port(text);
    if (!split || !split->port) {
        return refuse();
    }
    return ListenAddress{split->host, *split->port};
}

bool is_loopback_host(std::string_view host) {
    const std::string name = text::ascii_lower(host);
    return name == "localhost" || name == "::1" ||
           (is_ipv4_literal(name) && name.starts_with("127."));
}

bool is_wildcard_host(std::string_view host) {
    return host == "0.0.0.0" || host == "::";
}

bool tokens_equal(std::string_view given, std::string_view expected) {
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return difference == 0 && !expected.empty();
}

zelto::Status check_policy(const HttpPolicy& policy) {
    if (policy.token.empty() && !is_loopback_host(policy.listen.host)) {
        return zelto::fail(text::concat(
            {"[CUA-mcp] listening on ", policy.listen.host,
             " needs a token: set ZELTO_CUA_MCP_TOKEN or pass --token-file, or listen on "
             "127.0.0.1"}));
    }
    return zelto::done();
}

std::optional<Refusal> check_request(const HttpPolicy& policy, const RequestHeaders& headers) {
    if (!headers.host || !host_allowed(policy, *headers.host)) {
        return Refusal{403, text::concat({"Host \"", headers.host.value_or(""),
                                          "\" is not this server's (see --allow-host)"})};
    }
    if (headers.origin && std::find(policy.allowed_origins.begin(), policy.allowed_origins.end(),
                                    *headers.origin) == policy.allowed_origins.end()) {
        return Refusal{403, text::concat({"Origin \"", *headers.origin,
                                          "\" is not allowed (see --allow-origin)"})};
    }
    if (!policy.token.empty()) {
        const std::optional<std::string> token =
            headers.authorization ? bearer_token(*headers.authorization) : std::nullopt;
        if (!token) {
            return Refusal{401, "no bearer token"};
        }
        if (!tokens_equal(*token, policy.token)) {
            return Refusal{401, "wrong bearer token"};
        }
    }
    // Without the header a client speaks the first version of this transport.
    if (headers.protocol_version &&
        std::find(std::begin(kProtocolVersions), std::end(kProtocolVersions),
                  *headers.protocol_version) == std::end(kProtocolVersions)) {
        return Refusal{400, text::concat({"unsupported MCP-Protocol-Version \"",
                                          *headers.protocol_version, "\""})};
    }
    return std::nullopt;
}

SessionVerdict check_session(bool is_initialize, const std::optional<std::string>& session_id,
                             const std::function<bool(const std::string&)>& known) {
    if (is_initialize) {
        if (session_id) {
            return {SessionVerdict::Kind::refuse, {400, "initialize inside a session"}};
        }
        return {SessionVerdict::Kind::open_new, {}};
    }
    if (!session_id) {
        return {SessionVerdict::Kind::refuse, {400, "no Mcp-Session-Id"}};
    }
    if (!known(*session_id)) {
        return {SessionVerdict::Kind::refuse, {404, "unknown or expired session"}};
    }
    return {SessionVerdict::Kind::existing, {}};
}

}  // namespace mcp
