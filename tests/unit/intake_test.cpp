#include "main/intake.h"
#include "main/stdin_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cua_actions/dispatch.h"
#include "support/sim_desktop.h"

namespace cua_entry {
namespace {

struct Call {
    std::string action;
    nlohmann::json params;
};

// Records what reaches the dispatcher and answers with a fixed result.
class RecordingDispatcher {
  public:
    nlohmann::json answer = {{"ok", true}};
    std::vector<Call> calls;

    Dispatcher as_function() {
        return [this](const std::string& action, const nlohmann::json& params) {
            calls.push_back(Call{action, params});
            return answer;
        };
    }
};

struct IntakeCase {
    std::string input;
    std::string line;
};

TEST(Intake, FailuresGiveTheirLineAndStatusOne) {
    const IntakeCase cases[] = {
        {"", R"({"error":"No input received on stdin","ok":false})"},
        {" \t\r\n\n\xE3\x80\x80\n", R"({"error":"No input received on stdin","ok":false})"},
        {"{\"action\":\"move\"}\n\xFF", R"({"error":"Failed to read stdin","ok":false})"},
        {"{\n  \"action\": \"move\"\n}",
         R"({"error":"Invalid request JSON: EOF while parsing an object at line 1 column 1","ok":false})"},
        {"\xEF\xBB\xBF{\"action\":\"move\"}",
         R"({"error":"Invalid request JSON: expected value at line 1 column 1","ok":false})"},
        {R"({"action":"a"} {"action":"b"})",
         R"({"error":"Invalid request JSON: trailing characters at line 1 column 16","ok":false})"},
        {R"({"action":""})", R"({"error":"Missing action in request","ok":false})"},
        {R"({"action":5})", R"({"error":"Missing action in request","ok":false})"},
        {R"([])", R"({"error":"Missing action in request","ok":false})"},
        {R"("screenshot")", R"({"error":"Missing action in request","ok":false})"},
        {R"({"params":{}})", R"({"error":"Missing action in request","ok":false})"},
    };
    for (const IntakeCase& c : cases) {
        RecordingDispatcher dispatcher;
        const IntakeOutcome outcome = handle_request(c.input, dispatcher.as_function());
        EXPECT_EQ(outcome.line, c.line + "\n") << c.input;
        EXPECT_EQ(outcome.exit_status, 1) << c.input;
        EXPECT_TRUE(dispatcher.calls.empty()) << c.input;
    }
    RecordingDispatcher dispatcher;
    EXPECT_EQ(handle_request(std::nullopt, dispatcher.as_function()).line,
              "{\"error\":\"Failed to read stdin\",\"ok\":false}\n");
}

TEST(Intake, FirstNonEmptyTrimmedLineIsTheRequest) {
    RecordingDispatcher dispatcher;
    const IntakeOutcome outcome = handle_request(
        "\n  \r\n\t{\"action\":\" type\",\"params\":null,\"extra\":1}\r\n{\"action\":\"other\"}\n",
        dispatcher.as_function());
    EXPECT_EQ(outcome.exit_status, 0);
    ASSERT_EQ(dispatcher.calls.size(), 1u);
    EXPECT_EQ(dispatcher.calls[0].action, " type");
    EXPECT_TRUE(dispatcher.calls[0].params.is_null());
}

TEST(Intake, ParamsPassThroughOrDefaultToEmptyObject) {
    RecordingDispatcher dispatcher;
    handle_request(R"({"action":"screenshot"})", dispatcher.as_function());
    handle_request(R"({"action":"x","params":[1,"a"]})", dispatcher.as_function());
    handle_request(R"({"action":"x","params":"s"})", dispatcher.as_function());
    ASSERT_EQ(dispatcher.calls.size(), 3u);
    EXPECT_EQ(dispatcher.calls[0].params, nlohmann::json::object());
    EXPECT_EQ(dispatcher.calls[1].params, nlohmann::json::array({1, "a"}));
    EXPECT_EQ(dispatcher.calls[2].params, "s");
}

TEST(Intake, ResultLineIsCompactSortedWithLineFeedAndStatusZeroEvenOnFailure) {
    RecordingDispatcher dispatcher;
    dispatcher.answer = {
        {"ok", false}, {"error", "x\"\\\x01/é"}, {"data", {{"b", 1.0}, {"a", nullptr}}}};
    const IntakeOutcome outcome = handle_request(R"({"action":"a"})", dispatcher.as_function());
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.line,
              "{\"data\":{\"a\":null,\"b\":1.0},\"error\":\"x\\\"\\\\\\u0001/é\",\"ok\":false}\n");
}

TEST(Intake, InvalidUtf8FromAnActionNeverBreaksTheLine) {
    RecordingDispatcher dispatcher;
    dispatcher.answer = {{"ok", true},
                         {"data",
                          {{"title", std::string("a\xFF"
                                                 "b")}}}};
    const IntakeOutcome outcome = handle_request(R"({"action":"a"})", dispatcher.as_function());
    EXPECT_EQ(outcome.line,
              "{\"data\":{\"title\":\"a\xEF\xBF\xBD"
              "b\"},\"ok\":true}\n");
}

TEST(Intake, DeepNestingAndLargeInputsFailCleanly) {
    RecordingDispatcher dispatcher;
    const std::string deep =
        "{\"action\":\"a\",\"params\":" + std::string(200, '[') + std::string(200, ']') + "}";
    const IntakeOutcome deep_outcome = handle_request(deep, dispatcher.as_function());
    EXPECT_EQ(deep_outcome.exit_status, 1);
    EXPECT_NE(deep_outcome.line.find("recursion limit exceeded at line 1 column"),
              std::string::npos);

    const std::string big(20 * 1024 * 1024, 'x');
    const IntakeOutcome big_outcome = handle_request(big, dispatcher.as_function());
    EXPECT_EQ(
        big_outcome.line,
        "{\"error\":\"Invalid request JSON: expected value at line 1 column 1\",\"ok\":false}\n");
    EXPECT_TRUE(dispatcher.calls.empty());
}

// A message-mode pipe: each message is handed out in buffer-sized pieces, every piece but
// the last of a message flagged as more data, then the end (or a failure) comes.
class MessagePipe {
  public:
    std::vector<std::string> messages;
    bool fails_at_end = false;

    ChunkReader reader() {
        return [this](char* buffer, std::size_t capacity) {
            if (next_ == messages.size()) {
                return ReadChunk{fails_at_end ? ReadOutcome::failed : ReadOutcome::end, 0};
            }
            const std::string& message = messages[next_];
            const std::size_t bytes = std::min(capacity, message.size() - offset_);
            message.copy(buffer, bytes, offset_);
            offset_ += bytes;
            if (offset_ < message.size()) {
                return ReadChunk{ReadOutcome::more_data, bytes};
            }
            ++next_;
            offset_ = 0;
            return ReadChunk{ReadOutcome::data, bytes};
        };
    }

  private:
    std::size_t next_ = 0;
    std::size_t offset_ = 0;
};

TEST(StdinReader, MessagesLongerThanTheBufferArriveWhole) {
    const std::string text(200 * 1000, 'x');
    const std::string request = R"({"action":"type","params":{"text":")" + text + "\"}}\n";
    MessagePipe pipe;
    pipe.messages = {request, "\n"};
    const auto input = read_to_end(pipe.reader());
    ASSERT_TRUE(input.has_value());
    EXPECT_EQ(*input, request + "\n");

    RecordingDispatcher dispatcher;
    EXPECT_EQ(handle_request(input, dispatcher.as_function()).exit_status, 0);
    ASSERT_EQ(dispatcher.calls.size(), 1u);
    EXPECT_EQ(dispatcher.calls[0].params["text"], text);

    // A failure after data still fails the whole read.
    MessagePipe broken;
    broken.messages = {request};
    broken.fails_at_end = true;
    EXPECT_EQ(read_to_end(broken.reader()), std::nullopt);
}

// From request text to result line through the real dispatcher: the integer -0 is 0 wherever a
// float is needed, while a float -0.0 keeps its sign, and the mapping's floats come out shortest.
TEST(Intake, MinusZeroAndShortestFloatsFromRequestToResultLine) {
    const IntakeCase cases[] = {
        {R"({"action":"move","params":{"position":[-0,0.5]}})", R"("normalized":[0.0,0.5])"},
        {R"({"action":"move","params":{"position":[-0.0,0.5]}})", R"("normalized":[-0.0,0.5])"},
        {R"({"action":"move","params":{"position":[0.5,0.5],"_screen":{"sourceWidth":-0}}})",
         R"("sourceScreen":[1920.0,1080.0])"},
        {R"({"action":"move","params":{"position":[0.4959708893842458,0.5],)"
         R"("_screen":{"sourceWidth":2722.270532675401}}})",
         R"("normalized":[0.4959708893842458,0.5],"origin":[0,0],"physical":[1350,540],)"
         R"("screen":[1920,1080],"sourceScreen":[2722.270532675401,1080.0]})"},
    };
    for (const IntakeCase& c : cases) {
        sim::ScopedSimDesktop desktop;
        const IntakeOutcome outcome = handle_request(c.input, cua_actions::dispatch);
        EXPECT_EQ(outcome.exit_status, 0);
        EXPECT_NE(outcome.line.find(c.line), std::string::npos) << outcome.line;
    }
}

}  // namespace
}  // namespace cua_entry
