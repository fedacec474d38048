// JSON-RPC 2.0 as MCP uses it over stdio: one message per line, no batches.
// Classifies an incoming line and builds the outgoing messages.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace mcp {

using Json = nlohmann::json;

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;

struct Incoming {
    enum class Kind {
        request,       // has an id: answer it exactly once
        notification,  // no id: never answered
        response,      // the client answering us; we send no requests, so it is dropped
        invalid,       // answer with `error_code` and `error_text` to `id`
    };
    Kind kind = Kind::invalid;
    Json id;  // request: a string or an integer; invalid: the id when readable, else null
    std::string method;
    Json params;  // null when absent
    int error_code = 0;
    std::string error_text;
};

// Reads one line (without its line feed). A line that is not UTF-8 JSON is a
// parse error; a batch array or anything not shaped like a message is invalid.
[[nodiscard]] Incoming parse_message(std::string_view line);

// The compact lines (without line feed) answering request `id`.
[[nodiscard]] std::string result_message(const Json& id, const Json& result);
[[nodiscard]] std::string error_message(const Json& id, int code, std::string_view text);

}  // namespace mcp
