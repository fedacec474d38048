#include "mcp/jsonrpc.h"

#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace mcp {
namespace {

Incoming invalid(Json id, int code, std::string text) {
    Incoming message;
    message.kind = Incoming::Kind::invalid;
    message.id = std::move(id);
    message.error_code = code;
    message.error_text = std::move(text);
    return message;
}

// MCP ids are strings or integers; null is not an id.
bool is_usable_id(const Json& id) {
    return id.is_string() || id.is_number_integer() || id.is_number_unsigned();
}

}  // namespace

Incoming parse_message(std::string_view line) {
    if (!text::is_valid_utf8(line)) {
        return invalid(nullptr, kParseError, "Parse error: not UTF-8");
    }
    const text::JsonReadResult parsed = text::read_json(line);
    if (!parsed.ok()) {
        return invalid(nullptr, kParseError, "Parse error: " + parsed.error);
    }
    const Json& value = parsed.value;
    if (value.is_array()) {
        return invalid(nullptr, kInvalidRequest, "Invalid Request: batches are not supported");
    }
    if (!value.is_object()) {
        return invalid(nullptr, kInvalidRequest, "Invalid Request: not an object");
    }
    const auto id = value.find("id");
    const bool has_id = id != value.end();
    Json usable_id = has_id && is_usable_id(*id) ? *id : Json(nullptr);

    const auto version = value.find("jsonrpc");
    if (version == value.end() || *version != "2.0") {
        return invalid(usable_id, kInvalidRequest, "Invalid Request: \"jsonrpc\" must be \"2.0\"");
    }
    const auto method = value.find("method");
    if (method == value.end()) {
        if (has_id && (value.contains("result") || value.contains("error"))) {
            Incoming response;
            response.kind = Incoming::Kind::response;
            response.id = std::move(usable_id);
            return response;
        }
        return invalid(usable_id, kInvalidRequest, "Invalid Request: no \"method\"");
    }
    if (!method->is_string()) {
        return invalid(usable_id, kInvalidRequest, "Invalid Request: \"method\" must be a string");
    }
    if (has_id && !is_usable_id(*id)) {
        return invalid(nullptr, kInvalidRequest,
                       "Invalid Request: \"id\" must be a string or an integer");
    }
    const auto params = value.find("params");
    if (params != value.end() && !params->is_object() && !params->is_array()) {
        return invalid(usable_id, kInvalidRequest,
                       "Invalid Request: \"params\" must be an object or an array");
    }
    Incoming message;
    message.kind = has_id ? Incoming::Kind::request : Incoming::Kind::notification;
    message.id = std::move(usable_id);
    message.method = method->get<std::string>();
    message.params = params != value.end() ? *params : Json(nullptr);
    return message;
}

std::string result_message(const Json& id, const Json& result) {
    return text::json_dump(Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

std::string error_message(const Json& id, int code, std::string_view text) {
    return text::json_dump(Json{{"jsonrpc", "2.0"},
                                {"id", id},
                                {"error", Json{{"code", code}, {"message", std::string(text)}}}});
}

}  // namespace mcp
