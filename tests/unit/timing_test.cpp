#include "cua_actions/timing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cua_actions/windows/dispatcher.h"
#include "support/log_sandbox.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"

namespace cua_actions {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

class TimingTest : public ::testing::Test {
  protected:
    // Runs one timing call that took `elapsed` on the virtual clock.
    void record(const std::string& action, const Json& params, const ActionResult& result,
                nanoseconds elapsed = milliseconds(35)) {
        log_native_action_timing("cua-actions-windows", action, params, elapsed,
                                 desktop->get_env(kVerboseLogVariable), result);
    }
    std::vector<Json> records() {
        std::vector<Json> parsed;
        for (const std::string& line : sandbox.all_lines()) {
            parsed.push_back(Json::parse(line));
        }
        return parsed;
    }
    Json only_record() {
        const auto all = records();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? Json() : all.front();
    }
    void verbose(const char* value) { desktop->environment["ZELTO_CUA_VERBOSE_LOG"] = value; }

    sim::ScopedSimDesktop desktop;
    logtest::ScopedLogSandbox sandbox;
};

const ActionResult kFailed = error_result("Missing position");

TEST_F(TimingTest, FailedRequestIsAWarnRecordWithFixedShape) {
    record("click", Json{{"position", {500, 500}}, {"extra", 1}}, kFailed, milliseconds(35));
    const Json rec = only_record();
    EXPECT_EQ(rec["level"], "warn");
    EXPECT_EQ(rec["source"], "tauri");
    EXPECT_EQ(rec["event"], "cua.action.timing");
    EXPECT_EQ(rec["component"], "cua-actions-windows");
    EXPECT_EQ(rec["mode"], "cua");
    EXPECT_EQ(rec["target"], "click");
    EXPECT_EQ(rec["message"], "CUA native action click failed in 35ms");
    EXPECT_FALSE(rec.contains("outcome"));
    EXPECT_EQ(text::json_dump(rec["data"]),
              R"({"action":"click","durationMs":35,"durationSeconds":0.035,)"
              R"("params":{"position":[500,500]},)"
              R"("result":{"error":"Missing position","ok":false}})");
}

TEST_F(TimingTest, DurationIsTruncatedToWholeMilliseconds) {
    const struct {
        nanoseconds elapsed;
        const char* ms;
        const char* seconds;
    } cases[] = {
        {nanoseconds(999'000), "0", "0.0"},
        {nanoseconds(1'999'999), "1", "0.001"},
        {milliseconds(1234), "1234", "1.234"},
        {milliseconds(60'000), "60000", "60.0"},
    };
    for (const auto& c : cases) {
        record("nope", Json::object(), kFailed, c.elapsed);
    }
    const auto all = records();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(text::json_dump(all[i]["data"]["durationMs"]), cases[i].ms);
        EXPECT_EQ(text::json_dump(all[i]["data"]["durationSeconds"]), cases[i].seconds);
        EXPECT_EQ(all[i]["message"],
                  std::string("CUA native action nope failed in ") + cases[i].ms + "ms");
    }
}

TEST_F(TimingTest, SuccessIsRecordedOnlyWhenVerboseLoggingIsOn) {
    const ActionResult ok = ok_result(Json{{"global", {960, 540}}});
    const struct {
        const char* value;  // nullptr: unset
        bool on;
    } cases[] = {
        {nullptr, false},   {"", false},   {"0", false},         {"2", false},
        {"enabled", false}, {"no", false}, {"1", true},          {" Yes ", true},
        {"TRUE", true},     {"on", true},  {"\u3000oN\t", true}, {"y es", false},
    };
    for (const auto& c : cases) {
        if (c.value != nullptr) {
            verbose(c.value);
        } else {
            desktop->environment.erase("ZELTO_CUA_VERBOSE_LOG");
        }
        const std::size_t before = sandbox.all_lines().size();
        record("move", Json{{"position", {0.5, 0.5}}}, ok);
        EXPECT_EQ(sandbox.all_lines().size() - before, c.on ? 1u : 0u)
            << (c.value ? c.value : "(unset)");
    }
}

TEST_F(TimingTest, SuccessWithoutVerboseLoggingTouchesNoDirectory) {
    record("click", Json{{"position", {1, 1}}}, ok_result());
    EXPECT_FALSE(std::filesystem::exists(sandbox.home() / ".zelto-enterprise"));
}

TEST_F(TimingTest, VerboseSuccessIsAnInfoRecordWithPositionOnly) {
    verbose(" Yes ");
    const ActionResult ok = ok_result(Json{{"global", {960, 540}},
                                           {"physical", {960, 540}},
                                           {"normalized", {0.5, 0.5}},
                                           {"unrelated", "x"}});
    record("move", Json{{"position", {0.5, 0.5}}, {"display_id", 1}}, ok, milliseconds(7));
    const Json rec = only_record();
    EXPECT_EQ(rec["level"], "info");
    EXPECT_EQ(rec["message"], "CUA native action move completed in 7ms");
    EXPECT_EQ(rec["data"]["params"], (Json{{"position", {0.5, 0.5}}}));
    EXPECT_EQ(rec["data"]["result"], (Json{{"ok", true},
                                           {"global", {960, 540}},
                                           {"physical", {960, 540}},
                                           {"normalized", {0.5, 0.5}}}));
}

TEST_F(TimingTest, FailureIgnoresTheVerboseSwitchAndNonBooleanOkFails) {
    verbose("0");
    record("click", Json::object(), ActionResult{{"ok", "true"}});
    record("click", Json::object(), ActionResult{{"data", {{"width", 1}}}});
    record("click", Json::object(), Json::array());
    const auto all = records();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["data"]["result"], (Json{{"ok", false}}));
    EXPECT_EQ(all[0]["level"], "warn");
    EXPECT_EQ(all[1]["data"]["result"], (Json{{"ok", false}, {"width", 1}}));
    EXPECT_EQ(all[2]["data"]["result"], (Json{{"ok", false}}));
}

TEST_F(TimingTest, ParameterSummaryForEveryActionName) {
    const Json params = {
        {"text", "hello"},     {"script", "Get-Date"},  {"key", "enter"},  {"key1", "ctrl"},
        {"key2", "c"},         {"position", {1, 2}},    {"amount", -3},    {"position1", {3, 4}},
        {"position2", {5, 6}}, {"app_name", "Notepad"}, {"display_id", 2}, {"contents_only", true},
        {"password", "pw"},
    };
    const Json whole_redacted = [&] {
        Json copy = params;
        copy["password"] = "[REDACTED]";
        return copy;
    }();
    const struct {
        const char* action;
        Json summary;
    } cases[] = {
        {"type", {{"textLength", 5}, {"textPreview", "hello"}}},
        {"run_applescript", {{"scriptLength", 8}, {"scriptPreview", "Get-Date"}}},
        {"press", {{"key", "enter"}}},
        {"press_combination", {{"key1", "ctrl"}, {"key2", "c"}, {"key3", nullptr}}},
        {"click", {{"position", {1, 2}}}},
        {"right_click", {{"position", {1, 2}}}},
        {"move", {{"position", {1, 2}}}},
        {"scroll", {{"position", {1, 2}}, {"amount", -3}}},
        {"drag", {{"position1", {3, 4}}, {"position2", {5, 6}}}},
        {"open_app", {{"appName", "Notepad"}}},
        {"screenshot", {{"displayId", 2}, {"contentsOnly", true}}},
        {"run_powershell", whole_redacted},
        {"check_permissions", whole_redacted},
        {"Click", whole_redacted},  // names match exactly
        {"no_such_action", whole_redacted},
    };
    for (const auto& c : cases) {
        record(c.action, params, kFailed);
    }
    const auto all = records();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]["data"]["params"], cases[i].summary) << cases[i].action;
        EXPECT_EQ(all[i]["data"]["action"], cases[i].action);
        EXPECT_EQ(all[i]["target"], cases[i].action);
    }
}

TEST_F(TimingTest, ParametersThatAreNotAnObjectGiveNullsAndEmptyPreviews) {
    const struct {
        const char* action;
        Json params;
        Json summary;
    } cases[] = {
        {"press", Json::array({1}), {{"key", nullptr}}},
        {"press", Json::object(), {{"key", nullptr}}},
        {"type", Json("text"), {{"textLength", 0}, {"textPreview", ""}}},
        {"type", Json{{"text", 42}}, {{"textLength", 0}, {"textPreview", ""}}},
        {"run_applescript", Json(nullptr), {{"scriptLength", 0}, {"scriptPreview", ""}}},
        {"screenshot", Json(5), {{"displayId", nullptr}, {"contentsOnly", nullptr}}},
        {"run_powershell", Json("raw"), Json("raw")},
        {"other", Json::array({" a ", 2}), Json::array({"a", 2})},
    };
    for (const auto& c : cases) {
        record(c.action, c.params, kFailed);
    }
    const auto all = records();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]["data"]["params"], cases[i].summary) << cases[i].action;
    }
}

TEST_F(TimingTest, TextAndScriptPreviewsAreCutByCharacters) {
    const std::string hundred = repeat("\u00E9", 100);
    record("type", Json{{"text", hundred}}, kFailed);
    record("type", Json{{"text", "   abc"}}, kFailed);
    record("run_applescript", Json{{"script", repeat("s", 500)}}, kFailed);
    record("run_powershell", Json{{"script", repeat("p", 2500)}}, kFailed);
    const auto all = records();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0]["data"]["params"],
              (Json{{"textLength", 100}, {"textPreview", repeat("\u00E9", 80)}}));
    // Length counts the spaces; the writer trims the stored preview.
    EXPECT_EQ(all[1]["data"]["params"], (Json{{"textLength", 6}, {"textPreview", "abc"}}));
    EXPECT_EQ(all[2]["data"]["params"],
              (Json{{"scriptLength", 500}, {"scriptPreview", repeat("s", 120)}}));
    EXPECT_EQ(all[3]["data"]["params"]["script"], repeat("p", 2000) + "\u2026 [truncated]");
}

TEST_F(TimingTest, ResultSummaryKeepsGeometryButNotTheImage) {
    const Json data = {
        {"display_id", 1},
        {"width", 1920},
        {"height", 1080},
        {"sourceWidth", 3840},
        {"sourceHeight", 2160},
        {"scaleFactor", 2.0},
        {"image", "data:image/png;base64,AAAA"},
        {"normalized", {0.5, 0.5}},
        {"display_relative", {1, 2}},
        {"physical", {3, 4}},
        {"global", {5, 6}},
        {"screen", {{"w", 1}}},
        {"sourceScreen", {{"w", 2}}},
        {"origin", {0, 0}},
        {"pid", 4242},
    };
    record("screenshot", Json::object(),
           ActionResult{{"ok", false}, {"error", repeat("e", 500)}, {"data", data}});
    const Json summary = only_record()["data"]["result"];
    EXPECT_EQ(text::json_dump(summary), text::json_dump(Json{{"displayId", 1},
                                                             {"display_relative", {1, 2}},
                                                             {"error", repeat("e", 160)},
                                                             {"global", {5, 6}},
                                                             {"height", 1080},
                                                             {"normalized", {0.5, 0.5}},
                                                             {"ok", false},
                                                             {"origin", {0, 0}},
                                                             {"physical", {3, 4}},
                                                             {"pid", 4242},
                                                             {"scaleFactor", 2.0},
                                                             {"screen", {{"w", 1}}},
                                                             {"sourceHeight", 2160},
                                                             {"sourceScreen", {{"w", 2}}},
                                                             {"sourceWidth", 3840},
                                                             {"width", 1920}}));
}

TEST_F(TimingTest, PreviewNeverSplitsACharacter) {
    EXPECT_EQ(preview_for_log("", 5), "");
    EXPECT_EQ(preview_for_log("abc", 5), "abc");
    EXPECT_EQ(preview_for_log("  abc", 3), "  a");
    EXPECT_EQ(preview_for_log("\U0001F600\U0001F601x", 2), "\U0001F600\U0001F601");
    EXPECT_EQ(preview_for_log("abc", 0), "");
}

TEST_F(TimingTest, DispatcherRecordsUnknownActionsAndKeepsTheResult) {
    const ActionResult result = windows::dispatch("bogus", Json{{"a", 1}});
    EXPECT_EQ(text::json_dump(result), R"({"error":"Unknown CUA action: bogus","ok":false})");
    const Json rec = only_record();
    EXPECT_EQ(rec["message"], "CUA native action bogus failed in 0ms");
    EXPECT_EQ(rec["data"]["params"], (Json{{"a", 1}}));
    EXPECT_EQ(rec["data"]["result"], (Json{{"error", "Unknown CUA action: bogus"}, {"ok", false}}));
}

TEST_F(TimingTest, UnwritableLogDirectoryLeavesTheResultAndOutputAlone) {
    logtest::write_file(sandbox.home() / ".zelto-enterprise", "a file, not a directory");
    verbose("1");
    const ActionResult moved = windows::dispatch("move", Json{{"position", {0.5, 0.5}}});
    EXPECT_EQ(moved["ok"], true);
    const ActionResult failed = windows::dispatch("bogus", Json::object());
    EXPECT_EQ(text::json_dump(failed), R"({"error":"Unknown CUA action: bogus","ok":false})");
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

}  // namespace
}  // namespace cua_actions
