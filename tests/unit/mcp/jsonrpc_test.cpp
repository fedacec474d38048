#include "mcp/jsonrpc.h"

#include <gtest/gtest.h>

namespace mcp {
namespace {

using Kind = Incoming::Kind;

TEST(JsonRpc, ClassifiesEachLine) {
    struct Case {
        std::string line;
        Kind kind;
        Json id;
        int code;  // invalid only
        std::string method;
    };
    const Case cases[] = {
        {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", Kind::request, 1, 0, "ping"},
        {R"({"jsonrpc":"2.0","id":"a-1","method":"tools/list","params":{}})", Kind::request, "a-1",
         0, "tools/list"},
        {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", Kind::notification, nullptr,
         0, "notifications/initialized"},
        {R"({"jsonrpc":"2.0","id":7,"result":{}})", Kind::response, 7, 0, ""},
        {R"({"jsonrpc":"2.0","id":7,"error":{"code":1,"message":"x"}})", Kind::response, 7, 0, ""},
        // Not JSON: the id cannot be known.
        {"garbage", Kind::invalid, nullptr, kParseError, ""},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping"} x)", Kind::invalid, nullptr, kParseError, ""},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xff\"}", Kind::invalid, nullptr, kParseError,
         ""},
        // Shaped wrong: answered to the id when there is a usable one.
        {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", Kind::invalid, nullptr, kInvalidRequest,
         ""},
        {R"("ping")", Kind::invalid, nullptr, kInvalidRequest, ""},
        {R"({"id":3,"method":"ping"})", Kind::invalid, 3, kInvalidRequest, ""},
        {R"({"jsonrpc":"1.0","id":3,"method":"ping"})", Kind::invalid, 3, kInvalidRequest, ""},
        {R"({"jsonrpc":"2.0","id":3,"method":5})", Kind::invalid, 3, kInvalidRequest, ""},
        {R"({"jsonrpc":"2.0","id":3})", Kind::invalid, 3, kInvalidRequest, ""},
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", Kind::invalid, nullptr, kInvalidRequest,
         ""},
        {R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})", Kind::invalid, nullptr, kInvalidRequest,
         ""},
        {R"({"jsonrpc":"2.0","id":{},"method":"ping"})", Kind::invalid, nullptr, kInvalidRequest,
         ""},
        {R"({"jsonrpc":"2.0","id":4,"method":"ping","params":"x"})", Kind::invalid, 4,
         kInvalidRequest, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Incoming message = parse_message(c.line);
        EXPECT_EQ(message.kind, c.kind);
        EXPECT_EQ(message.id, c.id);
        EXPECT_EQ(message.method, c.method);
        if (c.kind == Kind::invalid) {
            EXPECT_EQ(message.error_code, c.code);
            EXPECT_FALSE(message.error_text.empty());
        }
    }
}

TEST(JsonRpc, KeepsParamsAndRejectsDeepNestingWithoutCrashing) {
    const Incoming call =
        parse_message(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"move"}})");
    EXPECT_EQ(call.params, (Json{{"name", "move"}}));
    EXPECT_EQ(parse_message(R"({"jsonrpc":"2.0","id":2,"method":"ping"})").params, nullptr);

    std::string deep = R"({"jsonrpc":"2.0","id":1,"method":"x","params":)";
    deep.append(100000, '[');
    deep.append(100000, ']');
    deep += '}';
    EXPECT_EQ(parse_message(deep).error_code, kParseError);
}

TEST(JsonRpc, MessagesAreSingleCompactLines) {
    EXPECT_EQ(result_message(1, Json::object()), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(
        error_message(nullptr, kParseError, "Parse error: a\nb"),
        R"({"error":{"code":-32700,"message":"Parse error: a\nb"},"id":null,"jsonrpc":"2.0"})");
}

}  // namespace
}  // namespace mcp
