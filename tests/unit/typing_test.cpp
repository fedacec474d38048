// "type": the preview line, Unicode events, the input-method check and the
// clipboard paste fallback with the user's clipboard written back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cua_actions/windows/dispatcher.h"
#include "cua_actions/windows/typing_pointer.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

using Contents = std::vector<std::pair<std::uint32_t, std::vector<std::byte>>>;

std::vector<std::byte> bytes_of(std::u16string_view units, bool terminate = true) {
    std::vector<std::byte> bytes((units.size() + (terminate ? 1 : 0)) * 2);
    std::memcpy(bytes.data(), units.data(), units.size() * 2);
    return bytes;
}

std::vector<std::byte> bytes_of(std::string_view raw) {
    const auto* begin = reinterpret_cast<const std::byte*>(raw.data());
    return std::vector<std::byte>(begin, begin + raw.size());
}

constexpr std::uint32_t kCfDib = 8;
constexpr std::uint32_t kCfBitmap = 2;
constexpr Handle kTarget = 0x500;

const char* const kIme =
    "[CUA-type-win] IME appears open for foreground window, using clipboard paste fallback";
const char* const kRefused =
    "[CUA-type-win] unicode SendInput failed, fallback to clipboard paste path";

class TypingTest : public ::testing::Test {
  protected:
    TypingTest() {
        desktop->foreground_window = kTarget;
        desktop->ime_windows[kTarget] = sim::SimImeWindow{};  // another program, IME closed
    }
    ~TypingTest() override {
        // Whatever path ran, nothing leaks and the clipboard is left closed.
        EXPECT_EQ(desktop->leaked_global_blocks(), 0u);
        EXPECT_EQ(desktop->clipboard_misuse, std::vector<std::string>{});
        EXPECT_FALSE(desktop->clipboard_open);
        EXPECT_EQ(desktop->ime_contexts_held, 0);
    }
    void open_ime_in_own_window() { desktop->ime_windows[kTarget] = sim::SimImeWindow{true, true}; }
    // The user's clipboard before the paste: a text, a DIB and a bitmap handle.
    void arrange_user_clipboard() {
        desktop->put_clipboard_text(u"user text");
        desktop->put_clipboard_bytes(kCfDib, bytes_of(std::string_view("DIB\0bytes", 9)));
        desktop->put_clipboard_non_memory(kCfBitmap);
    }
    static Contents user_clipboard_after_write_back() {
        return {{kCfUnicodeText, bytes_of(u"user text")},
                {kCfDib, bytes_of(std::string_view("DIB\0bytes", 9))}};
    }
    // The keyboard records, as "vk/scan/flags" strings with their times.
    std::vector<std::string> key_events() {
        std::vector<std::string> lines;
        for (const sim::SimEvent& event : desktop->events) {
            const KeyboardInput& key = event.input.keyboard;
            lines.push_back("t=" + std::to_string(event.at_ms) + " " + std::to_string(key.vk) +
                            "/" + std::to_string(key.scan) + "/" + std::to_string(key.flags));
        }
        return lines;
    }
    sim::ScopedSimDesktop desktop;
};

TEST_F(TypingTest, UnicodeTextIsOneBatchOfPressAndReleasePerUnit) {
    EXPECT_EQ(dispatch("type", Json{{"text", "h\xC3\xA9llo"}}), (Json{{"ok", true}}));
    EXPECT_EQ(key_events(),
              (std::vector<std::string>{"t=0 0/104/4", "t=0 0/104/6", "t=0 0/233/4", "t=0 0/233/6",
                                        "t=0 0/108/4", "t=0 0/108/6", "t=0 0/108/4", "t=0 0/108/6",
                                        "t=0 0/111/4", "t=0 0/111/6"}));
    EXPECT_EQ(desktop->send_input_calls, 1u);
    EXPECT_EQ(desktop->now_ms(), 60u);
    EXPECT_EQ(desktop->stderr_lines,
              std::vector<std::string>{"[CUA-type-win] text=\"h\xC3\xA9llo\""});
    EXPECT_EQ(desktop->clipboard_opens, 0u);
}

TEST_F(TypingTest, CharacterOutsideTheBasicPlaneIsTwoSurrogateUnits) {
    dispatch("type", Json{{"text", "\xF0\x9F\x98\x80"}});  // U+1F600
    EXPECT_EQ(key_events(), (std::vector<std::string>{"t=0 0/55357/4", "t=0 0/55357/6",
                                                      "t=0 0/56832/4", "t=0 0/56832/6"}));
}

TEST_F(TypingTest, EmptyTextSendsNothingAndWaits) {
    EXPECT_EQ(dispatch("type", Json{{"text", ""}}), (Json{{"ok", true}}));
    EXPECT_TRUE(desktop->events.empty());
    EXPECT_EQ(desktop->send_input_calls, 0u);
    EXPECT_EQ(desktop->now_ms(), 60u);
    EXPECT_EQ(desktop->stderr_lines, std::vector<std::string>{"[CUA-type-win] text=\"\""});
}

TEST_F(TypingTest, MissingText) {
    for (const Json& params :
         {Json::object(), Json{{"text", 5}}, Json{{"text", nullptr}}, Json(nullptr)}) {
        EXPECT_EQ(dispatch("type", params), (Json{{"ok", false}, {"error", "Missing text"}}))
            << params;
    }
    EXPECT_TRUE(desktop->stderr_lines.empty());
    EXPECT_TRUE(desktop->events.empty());
}

TEST(TypePreview, FirstThirtyCharactersEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nfeed\r\ttab", "\"line\\nfeed\\r\\ttab\""},
        {std::string("nul\0x", 5), "\"nul\\0x\""},
        {"\x07\x1B", "\"\\u{7}\\u{1b}\""},
        {"e\xCC\x81", "\"e\\u{301}\""},  // combining acute accent
        {"\xC2\xA0|\xE2\x80\x8B|\xE2\x80\xA8", "\"\\u{a0}|\\u{200b}|\\u{2028}\""},
        {"h\xC3\xA9llo w\xC3\xB6rld \xE6\x97\xA5\xF0\x9F\x98\x80",
         "\"h\xC3\xA9llo w\xC3\xB6rld \xE6\x97\xA5\xF0\x9F\x98\x80\""},
        {"it's", "\"it's\""},
        {"\xEE\x80\x80", "\"\\u{e000}\""},  // private use
        {"\xFF", "\"\xEF\xBF\xBD\""},       // invalid byte shown as U+FFFD
        {std::string(31, 'x'), text::concat({"\"", std::string(30, 'x'), "\""})},
        {std::string(29, 'x').append("\xC3\xA9\xC3\xA9"),
         text::concat({"\"", std::string(29, 'x'), "\xC3\xA9\""})},
    };
    for (const auto& [input, preview] : cases) {
        EXPECT_EQ(type_preview(input), preview) << input;
    }
}

TEST_F(TypingTest, OpenImeInOwnWindowPastesAndWritesTheClipboardBack) {
    open_ime_in_own_window();
    arrange_user_clipboard();
    EXPECT_EQ(dispatch("type", Json{{"text", "\xE6\x97\xA5\xE6\x9C\xAC"}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->stderr_lines,
              (std::vector<std::string>{"[CUA-type-win] text=\"\xE6\x97\xA5\xE6\x9C\xAC\"", kIme}));
    // Control down, V down, V up, Control up, 10 ms apart, after 50 ms.
    EXPECT_EQ(key_events(), (std::vector<std::string>{"t=50 17/0/0", "t=60 86/0/0", "t=70 86/0/2",
                                                      "t=80 17/0/2"}));
    EXPECT_EQ(desktop->now_ms(), 180u);
    EXPECT_EQ(desktop->clipboard_contents(), user_clipboard_after_write_back());
    EXPECT_EQ(desktop->clipboard_opens, 3u);    // snapshot, text, write-back
    EXPECT_TRUE(desktop->ime_queries.empty());  // the context answered
}

TEST_F(TypingTest, ClosedImeInOwnWindowIsNotAskedAgainThroughItsImeWindow) {
    desktop->ime_windows[kTarget] = sim::SimImeWindow{true, false};
    dispatch("type", Json{{"text", "x"}});
    EXPECT_EQ(desktop->inputs().size(), 2u);
    EXPECT_TRUE(desktop->ime_queries.empty());
}

TEST_F(TypingTest, OpenImeOfAnotherProgramIsFoundThroughTheFocusedWindowsImeWindow) {
    const Handle focus = 0x600;
    desktop->foreground_thread_info = GuiThreadInfo{kTarget, focus};
    desktop->ime_windows[focus] = sim::SimImeWindow{false, true};
    dispatch("type", Json{{"text", "x"}});
    ASSERT_EQ(desktop->ime_queries.size(), 1u);
    EXPECT_EQ(desktop->stderr_lines.back(), kIme);
    EXPECT_EQ(desktop->inputs().size(), 4u);  // the paste keystroke only
}

TEST_F(TypingTest, ImeWindowQueryCases) {
    struct Case {
        const char* name;
        std::optional<GuiThreadInfo> thread_info;
        sim::SimImeWindow target;
        bool pasted;
        std::uint64_t extra_ms;
    };
    const Case cases[] = {
        // No focus reported: the foreground window itself is asked.
        {"foreground asked", std::nullopt, {false, true}, true, 0},
        {"closed", std::nullopt, {false, false}, false, 0},
        {"no IME window", std::nullopt, {false, true, false}, false, 0},
        // A hung target costs the short limit and counts as closed.
        {"hung", std::nullopt, {false, true, true, true}, false, 200},
        {"focus 0", GuiThreadInfo{kTarget, 0}, {false, true}, true, 0},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop local;
        local->foreground_window = kTarget;
        local->foreground_thread_info = c.thread_info;
        local->ime_windows[kTarget] = c.target;
        EXPECT_EQ(dispatch("type", Json{{"text", "ab"}}), (Json{{"ok", true}})) << c.name;
        EXPECT_EQ(local->clipboard_opens > 0, c.pasted) << c.name;
        EXPECT_EQ(local->now_ms(), (c.pasted ? 180u : 60u) + c.extra_ms) << c.name;
    }
    sim::ScopedSimDesktop none;  // no foreground window at all: typed directly
    dispatch("type", Json{{"text", "ab"}});
    EXPECT_EQ(none->inputs().size(), 4u);
    EXPECT_EQ(none->clipboard_opens, 0u);
}

TEST_F(TypingTest, PartlyAcceptedEventsFallBackToPastingTheWholeText) {
    arrange_user_clipboard();
    desktop->fail.send_input_accepts = 3;
    EXPECT_EQ(dispatch("type", Json{{"text", "abc"}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->stderr_lines.back(), kRefused);
    // 3 accepted records of the batch, then the paste keystroke.
    EXPECT_EQ(desktop->inputs().size(), 3u + 4u);
    EXPECT_EQ(desktop->clipboard_contents(), user_clipboard_after_write_back());
}

TEST_F(TypingTest, TheTextOnTheClipboardIsMarkedPrivate) {
    desktop->clipboard_fail.open.calls = {0};  // no snapshot, so nothing is written back
    desktop->fail.send_input = true;
    EXPECT_EQ(dispatch("type", Json{{"text", "s3cret"}}), (Json{{"ok", true}}));
    const std::uint32_t exclude =
        desktop->clipboard_format_names.at("ExcludeClipboardContentFromMonitorProcessing");
    const std::uint32_t history =
        desktop->clipboard_format_names.at("CanIncludeInClipboardHistory");
    const std::uint32_t cloud = desktop->clipboard_format_names.at("CanUploadToCloudClipboard");
    const std::vector<std::byte> zero_dword(4);
    EXPECT_EQ(desktop->clipboard_contents(), (Contents{{kCfUnicodeText, bytes_of(u"s3cret")},
                                                       {exclude, {}},
                                                       {history, zero_dword},
                                                       {cloud, zero_dword}}));
}

TEST_F(TypingTest, FailingPrivacyFormatsDoNotStopThePaste) {
    open_ime_in_own_window();
    desktop->clipboard_fail.register_format.always = true;
    desktop->clipboard_fail.open.calls = {0};
    EXPECT_EQ(dispatch("type", Json{{"text", "x"}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->clipboard_contents(), (Contents{{kCfUnicodeText, bytes_of(u"x")}}));
    EXPECT_EQ(desktop->inputs().size(), 4u);
}

TEST_F(TypingTest, EmptyTextWithOpenImePastesOnlyTheTerminator) {
    open_ime_in_own_window();
    desktop->clipboard_fail.open.calls = {0};
    EXPECT_EQ(dispatch("type", Json{{"text", ""}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->clipboard_contents().at(0),
              (std::pair{kCfUnicodeText, std::vector<std::byte>(2)}));
}

TEST_F(TypingTest, ClipboardHeldByAnotherProgramFailsWithoutPasting) {
    open_ime_in_own_window();
    arrange_user_clipboard();
    desktop->clipboard_fail.open.always = true;
    EXPECT_EQ(dispatch("type", Json{{"text", "x"}}),
              (Json{{"ok", false}, {"error", "Failed to set clipboard text"}}));
    EXPECT_TRUE(desktop->inputs().empty());
    EXPECT_EQ(desktop->clipboard.size(), 3u);  // untouched
}

TEST_F(TypingTest, FailureAfterEmptyingWritesTheUsersClipboardBack) {
    struct Case {
        const char* name;
        void (*arrange)(sim::SimDesktop&);
    };
    const Case cases[] = {
        {"set", [](sim::SimDesktop& d) { d.clipboard_fail.set.calls = {0}; }},
        {"alloc", [](sim::SimDesktop& d) { d.clipboard_fail.alloc.calls = {0}; }},
        {"lock",
         [](sim::SimDesktop& d) {
             d.clipboard_fail.lock.calls = {2};
         }},  // after two snapshot locks
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop local;
        local->foreground_window = kTarget;
        local->ime_windows[kTarget] = sim::SimImeWindow{true, true};
        local->put_clipboard_text(u"user text");
        local->put_clipboard_bytes(kCfDib, bytes_of(std::string_view("DIB\0bytes", 9)));
        c.arrange(*local);
        EXPECT_EQ(dispatch("type", Json{{"text", "x"}}),
                  (Json{{"ok", false}, {"error", "Failed to set clipboard text"}}))
            << c.name;
        EXPECT_TRUE(local->inputs().empty()) << c.name;
        EXPECT_EQ(local->clipboard_contents(), user_clipboard_after_write_back()) << c.name;
        EXPECT_EQ(local->leaked_global_blocks(), 0u) << c.name;
        EXPECT_EQ(local->clipboard_misuse, std::vector<std::string>{}) << c.name;
    }
}

TEST_F(TypingTest, WriteBackGivesUpAfterThreeAttempts) {
    open_ime_in_own_window();
    arrange_user_clipboard();
    desktop->clipboard_fail.open.calls = {2, 3, 4};  // after the snapshot and the text
    EXPECT_EQ(dispatch("type", Json{{"text", "x"}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->now_ms(), 180u + 3 * 50);
    EXPECT_EQ(desktop->clipboard_contents().at(0), (std::pair{kCfUnicodeText, bytes_of(u"x")}));
}

TEST_F(TypingTest, WriteBackRetriesAFailedAttempt) {
    open_ime_in_own_window();
    arrange_user_clipboard();
    desktop->clipboard_fail.set.calls = {5};  // text + 3 privacy formats, then the first entry
    EXPECT_EQ(dispatch("type", Json{{"text", "x"}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->now_ms(), 180u + 50);
    EXPECT_EQ(desktop->clipboard_contents(), user_clipboard_after_write_back());
    EXPECT_EQ(desktop->clipboard_opens, 4u);
}

TEST_F(TypingTest, AFormatThatCannotBeLockedIsLeftOutOfTheSnapshot) {
    open_ime_in_own_window();
    arrange_user_clipboard();
    desktop->clipboard_fail.lock.calls = {0};  // the text format
    dispatch("type", Json{{"text", "x"}});
    EXPECT_EQ(desktop->clipboard_contents(),
              (Contents{{kCfDib, bytes_of(std::string_view("DIB\0bytes", 9))}}));
}

TEST_F(TypingTest, SnapshotOfAnEmptyClipboardLeavesItEmpty) {
    open_ime_in_own_window();
    dispatch("type", Json{{"text", "x"}});
    EXPECT_TRUE(desktop->clipboard.empty());
}

// No length limit but memory: a text past 2^18 UTF-16 units is still one batch of key events,
// with nothing on standard error but the preview, and the clipboard is never needed, so another
// program holding it open changes nothing.
TEST_F(TypingTest, HugeTextIsOneBatchEvenWhileTheClipboardIsHeld) {
    const std::string text = std::string(262'143, 'a') + "\xF0\x9F\x98\x80";  // 262,145 units
    desktop->clipboard_fail.open.always = true;
    EXPECT_EQ(dispatch("type", Json{{"text", text}}), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->stderr_lines,
              std::vector<std::string>{"[CUA-type-win] text=\"" + std::string(30, 'a') + "\""});
    EXPECT_EQ(desktop->send_input_calls, 1u);
    EXPECT_EQ(desktop->clipboard_opens, 0u);
    const std::vector<InputRecord> inputs = desktop->inputs();
    ASSERT_EQ(inputs.size(), 524'290u);
    const std::u16string units = text::utf8_to_utf16(text);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::uint32_t flags =
            i % 2 == 0 ? kKeyEventUnicode : kKeyEventUnicode | kKeyEventKeyUp;
        ASSERT_EQ(inputs[i], InputRecord::key_event(0, units[i / 2], flags)) << i;
    }
    EXPECT_EQ(desktop->now_ms(), 60u);
}

// An event list that cannot be allocated takes the paste fallback, announced like refused input.
TEST_F(TypingTest, EventListThatCannotBeAllocatedFallsBackToPasting) {
    desktop->clipboard_fail.open.calls = {0};  // no snapshot, so nothing is written back
    const std::u16string_view impossible(u"abc", std::size_t{1} << 60);
    EXPECT_EQ(unicode_typing_events(impossible), std::nullopt);
    EXPECT_EQ(type_as_unicode_events("abc", impossible), (Json{{"ok", true}}));
    EXPECT_EQ(desktop->stderr_lines, std::vector<std::string>{kRefused});
    EXPECT_EQ(desktop->clipboard_contents().at(0), (std::pair{kCfUnicodeText, bytes_of(u"abc")}));
    EXPECT_EQ(desktop->inputs().size(), 4u);  // the paste keystroke only
}

}  // namespace
}  // namespace cua_actions::windows
