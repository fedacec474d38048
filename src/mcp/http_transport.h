// MCP over Streamable HTTP: one endpoint, /mcp, where each POST carries one
// JSON-RPC message. Every session opened by initialize has a Server of its
// own (its own queue, cancellation and screenshot memory); a request's POST
// waits for that request's answer line.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "mcp/http_checks.h"
#include "mcp/server.h"

namespace mcp {

// Fixed limits of the HTTP side.
inline constexpr std::size_t kHttpMaxBodyBytes = 1 << 20;
inline constexpr std::size_t kHttpMaxConnections = 96;  // handled at once; more wait their turn
inline constexpr std::size_t kHttpMaxSessions = 64;
inline constexpr std::chrono::minutes kHttpSessionIdleLimit{30};
// A connection that sends nothing for this long is closed.
inline constexpr std::chrono::seconds kHttpReadTimeout{10};

// Makes the Server of one new session, writing to `out`.
using ServerFactory = std::function<std::unique_ptr<Server>(LineSink& out)>;

// Listens on `policy.listen` and serves until the process ends. Returns only
// when the address cannot be bound. `log` takes one diagnostic line.
[[nodiscard]] zelto::Status serve_http(const HttpPolicy& policy, const ServerFactory& make_server,
                                       const std::function<void(const std::string&)>& log);

}  // namespace mcp
