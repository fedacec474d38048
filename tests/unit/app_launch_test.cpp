#include "cua_actions/windows/app_launch.h"

#include <gtest/gtest.h>

#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/dispatcher.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kOwnThread = 1;
constexpr std::uint32_t kAppThread = 20;
constexpr std::uint32_t kOtherThread = 30;

sim::SimAppWindow app_window(std::string title, Rect rect = {100, 100, 900, 700},
                             std::uint32_t thread = kAppThread, std::uint32_t pid = 4242) {
    sim::SimAppWindow window;
    window.title = text::utf8_to_utf16(title);
    window.rect = rect;
    window.thread_id = thread;
    window.process_id = pid;
    return window;
}

std::string dump(const Json& value) {
    return text::json_dump(value);
}

class OpenAppTest : public ::testing::Test {
  protected:
    OpenAppTest() {
        reset_app_index_cache_for_testing();
        desktop->current_thread_id = kOwnThread;
        // Another program's window holds the foreground.
        other = desktop->add_app_window(app_window("Terminal", {0, 0, 400, 300}, kOtherThread, 7));
        desktop->foreground_window = other;
    }
    ~OpenAppTest() override { reset_app_index_cache_for_testing(); }

    std::vector<std::string> shell_files() {
        std::vector<std::string> files;
        for (const auto& call : desktop->shell_calls) {
            files.push_back(call.file);
        }
        return files;
    }
    std::vector<sim::SimWindowCall> calls_named(const std::string& name) {
        std::vector<sim::SimWindowCall> found;
        for (const auto& call : desktop->window_calls) {
            if (call.call == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    sim::ScopedSimDesktop desktop;
    Handle other = 0;
};

// --- placement ----------------------------------------------------------------------

TEST(WindowPlacement, CentresAndClampsToTheDisplay) {
    struct Case {
        DisplayInfo display;
        std::int64_t w, h;
        WindowPlacement expected;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1080, true}, 200, 150, {800, 420, 320, 240}},
        {{1920, 0, 1920, 1080, false}, 3000, 2000, {1920, 0, 1920, 1080}},
        {{0, 0, 1920, 1080, true}, 801, 601, {559, 239, 801, 601}},  // floor of the half
        {{-1280, -200, 1280, 1024, false}, 320, 240, {-800, 192, 320, 240}},
        {{0, 0, 200, 100, true}, 500, 500, {0, 0, 320, 240}},  // display smaller than the minimum
        {{0, 0, 1920, 1080, true}, -50, 0, {800, 420, 320, 240}},
        {{2147483500, 0, 1000, 1000, false}, 320, 240, {2147483647, 380, 320, 240}},  // saturates
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win_place_window(c.display, c.w, c.h), c.expected) << c.w << "x" << c.h;
    }
}

// --- existing window and the success sequence ---------------------------------------

TEST_F(OpenAppTest, MissingAppName) {
    for (const Json& params : {Json::object(), Json{{"app_name", 5}}, Json{{"app_name", nullptr}},
                               Json(nullptr), Json{{"appName", "notepad"}}}) {
        EXPECT_EQ(dump(handle_open_app(params)), R"({"error":"Missing app_name","ok":false})");
    }
    EXPECT_TRUE(desktop->shell_calls.empty());
    EXPECT_TRUE(desktop->children.empty());
}

TEST_F(OpenAppTest, ExistingWindowIsPlacedMaximizedAndFocusedWithoutLaunching) {
    const Handle notepad =
        desktop->add_app_window(app_window("Untitled - Notepad", {0, 0, 200, 150}));
    desktop->add_app_window(app_window("Notepad helper"));  // higher in Z order, also matches
    desktop->app_windows.front().ex_style = kWsExToolWindow;

    const ActionResult result = dispatch("open_app", Json{{"app_name", "notepad"}});
    EXPECT_EQ(
        dump(result),
        R"({"data":{"app_name":"notepad","focused":true,"foreground_title":"Untitled - Notepad",)"
        R"("maximized":true,"pid":4242,"target_title":"Untitled - Notepad"},"ok":true})");
    EXPECT_TRUE(desktop->shell_calls.empty());
    EXPECT_TRUE(desktop->children.empty());  // the index was not built

    // Placement, maximize, show, Alt tap, one focus attempt: 160 + 20 + 120 ms.
    ASSERT_EQ(desktop->window_calls.size(), 7u);
    const auto& calls = desktop->window_calls;
    EXPECT_EQ(calls[0].call, "set_pos");
    EXPECT_EQ(calls[0].rect, (Rect{800, 420, 1120, 660}));
    EXPECT_EQ(calls[0].a, kSwpNoZOrder);
    EXPECT_EQ(calls[1].call, "show");
    EXPECT_EQ(calls[1].a, kSwShowMaximized);
    EXPECT_EQ(calls[2].call, "show");
    EXPECT_EQ(calls[2].a, kSwShow);
    EXPECT_EQ(calls[2].at_ms, 160u);
    EXPECT_EQ(calls[3].call, "bring_to_top");
    EXPECT_EQ(calls[3].at_ms, 180u);
    EXPECT_EQ(calls[4].call, "set_pos");
    EXPECT_EQ(calls[4].a, 0x43);
    EXPECT_EQ(calls[5].call, "set_foreground");
    EXPECT_EQ(calls[6].call, "set_focus");
    EXPECT_EQ(desktop->now_ms(), 300u);

    const auto inputs = desktop->inputs();
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0], InputRecord::key_event(0x12, 0, 0));
    EXPECT_EQ(inputs[1], InputRecord::key_event(0x12, 0, kKeyEventKeyUp));
    EXPECT_EQ(desktop->events[0].at_ms, 160u);
    EXPECT_EQ(desktop->events[1].at_ms, 170u);

    // Attached to the foreground thread, then the window's; detached in reverse.
    ASSERT_EQ(desktop->attach_calls.size(), 4u);
    const std::pair<std::uint32_t, bool> expected[] = {
        {kOtherThread, true}, {kAppThread, true}, {kAppThread, false}, {kOtherThread, false}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(desktop->attach_calls[i].from, kOwnThread);
        EXPECT_EQ(desktop->attach_calls[i].to, expected[i].first);
        EXPECT_EQ(desktop->attach_calls[i].attach, expected[i].second);
    }
    EXPECT_TRUE(desktop->attached_threads.empty());
    EXPECT_EQ(desktop->foreground_window, notepad);
    EXPECT_TRUE(desktop->app_window(notepad)->maximized);
}

TEST_F(OpenAppTest, ForegroundThatCannotBeTakenGivesTheNotFocusedFailureWithData) {
    desktop->add_app_window(app_window("Editor", {0, 0, 800, 600}));
    desktop->foreground_locked = true;
    const ActionResult result = handle_open_app(Json{{"app_name", "editor"}});
    EXPECT_EQ(
        dump(result),
        R"({"data":{"app_name":"editor","focused":false,"foreground_title":"Terminal",)"
        R"("maximized":true,"pid":4242,"target_title":"Editor"},)"
        R"("error":"Application 'editor' opened but did not receive foreground focus","ok":false})");
    // Five attempts and the last resort, 120 ms after each.
    const auto foreground_calls = calls_named("set_foreground");
    ASSERT_EQ(foreground_calls.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(foreground_calls[i].at_ms, 180u + 120u * i);
    }
    EXPECT_EQ(calls_named("bring_to_top").size(), 5u);
    EXPECT_EQ(desktop->now_ms(), 160u + 20u + 6u * 120u);
    // Attach pairs per attempt plus one pair around the last resort.
    EXPECT_EQ(desktop->attach_calls.size(), 5u * 4u + 2u);
    EXPECT_EQ(desktop->attach_calls[20].to, kOtherThread);
    EXPECT_TRUE(desktop->attach_calls[20].attach);
    EXPECT_FALSE(desktop->attach_calls[21].attach);
    EXPECT_TRUE(desktop->attached_threads.empty());
}

TEST_F(OpenAppTest, NoForegroundAndOwnThreadWindowNeedNoAttach) {
    desktop->foreground_window = 0;
    desktop->add_app_window(app_window("Mine", {0, 0, 800, 600}, kOwnThread, 0));
    const ActionResult result = handle_open_app(Json{{"app_name", "mine"}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["data"]["pid"], 0);
    EXPECT_TRUE(desktop->attach_calls.empty());
}

TEST_F(OpenAppTest, MinimizedWindowIsRestoredBeforePlacement) {
    sim::SimAppWindow window = app_window("Small", {0, 0, 800, 600});
    window.minimized = true;
    desktop->add_app_window(window);
    handle_open_app(Json{{"app_name", "small"}});
    const auto shows = calls_named("show");
    ASSERT_EQ(shows.size(), 3u);
    EXPECT_EQ(shows[0].a, kSwRestore);
    EXPECT_EQ(shows[0].at_ms, 0u);
    EXPECT_EQ(calls_named("set_pos")[0].at_ms, 80u);
    EXPECT_EQ(shows[1].a, kSwShowMaximized);
    EXPECT_EQ(shows[2].a, kSwShow);
    EXPECT_EQ(shows[2].at_ms, 240u);
}

TEST_F(OpenAppTest, WindowStillMinimizedAfterMaximizeIsRestoredFor50Ms) {
    sim::SimAppWindow window = app_window("Stubborn", {0, 0, 800, 600});
    window.maximize_minimizes = true;
    desktop->add_app_window(window);
    handle_open_app(Json{{"app_name", "stubborn"}});
    const auto shows = calls_named("show");
    ASSERT_EQ(shows.size(), 3u);
    EXPECT_EQ(shows[0].a, kSwShowMaximized);
    EXPECT_EQ(shows[1].a, kSwRestore);
    EXPECT_EQ(shows[1].at_ms, 160u);
    EXPECT_EQ(shows[2].a, kSwShow);
    EXPECT_EQ(shows[2].at_ms, 210u);
}

TEST_F(OpenAppTest, UnreadableRectUsesEightyPercentOfTheDisplay) {
    sim::SimAppWindow window = app_window("Opaque");
    window.rect_fails = true;
    desktop->add_app_window(window);
    handle_open_app(Json{{"app_name", "opaque"}});
    EXPECT_EQ(calls_named("set_pos")[0].rect, (Rect{192, 108, 192 + 1536, 108 + 864}));
}

TEST_F(OpenAppTest, DisplayIdStringChoosesTheDisplayAndOtherTypesTheFallback) {
    desktop->monitors.push_back(sim::SimMonitor{Rect{1920, 0, 3840, 1080}, 0});
    desktop->add_app_window(app_window("Big", {0, 0, 3000, 2000}));
    handle_open_app(Json{{"app_name", "big"}, {"display_id", "1920,0,1920,1080"}});
    EXPECT_EQ(calls_named("set_pos")[0].rect, (Rect{1920, 0, 3840, 1080}));
    EXPECT_EQ(desktop->app_windows.front().rect, (Rect{1920, 0, 3840, 1080}));  // maximized there

    desktop->window_calls.clear();
    desktop->app_windows.front().maximized = false;
    desktop->app_windows.front().rect = Rect{0, 0, 3000, 2000};
    for (const Json& id : {Json(1), Json("  "), Json(nullptr)}) {
        desktop->window_calls.clear();
        handle_open_app(Json{{"app_name", "big"}, {"display_id", id}});
        EXPECT_EQ(calls_named("set_pos")[0].rect, (Rect{0, 0, 1920, 1080})) << id;
    }
}

// --- window search --------------------------------------------------------------------

TEST_F(OpenAppTest, WindowSearchSkipsToolInvisibleAndUntitledWindowsAndPrefersEarlierTerms) {
    sim::SimAppWindow tool = app_window("WeChat tool");
    tool.ex_style = kWsExToolWindow | 0x100;
    sim::SimAppWindow hidden = app_window("WeChat hidden");
    hidden.visible = false;
    const Handle weixin = desktop->add_app_window(app_window("Weixin main"));
    desktop->add_app_window(tool);
    desktop->add_app_window(hidden);
    desktop->add_app_window(app_window(""));
    const Handle lower = desktop->add_app_window(app_window("my wechat notes"));
    EXPECT_EQ(win_find_window_any({"WeChat", "weixin"}), lower);  // case-insensitive
    EXPECT_EQ(win_find_window_any({"weixin", "WeChat"}), weixin);
    EXPECT_EQ(win_find_window_any({"absent"}), std::nullopt);
    EXPECT_EQ(win_find_window_any({}), std::nullopt);
}

TEST_F(OpenAppTest, TitleIsReadWith511UnitsAndAHalfPairBecomesReplacement) {
    std::u16string title(512, u'a');
    title[510] = 0xD83D;  // U+1F600, whose pair straddles the buffer's end
    title[511] = 0xDE00;
    sim::SimAppWindow window = app_window("");
    window.title = title;
    const Handle handle = desktop->add_app_window(window);
    EXPECT_EQ(win_window_title(handle), std::string(510, 'a').append("\uFFFD"));
}

// --- launch ---------------------------------------------------------------------------

TEST_F(OpenAppTest, UnresolvedNameFoundNowhereIsRefreshedOnceAndNeverHandedToTheShell) {
    desktop->path_programs["reg.exe"] = "C:\\Windows\\System32\\reg.exe";
    // The shell would find a program of that name planted in the current
    // directory or beside the executor.
    desktop->shell_programs["no-such-app-xyz"] = sim::SimShellProgram{};
    desktop->shell_programs[" no-such-app-xyz "] = sim::SimShellProgram{};
    const ActionResult result = handle_open_app(Json{{"app_name", " no-such-app-xyz "}});
    EXPECT_EQ(
        dump(result),
        R"({"error":"Application ' no-such-app-xyz ' not found or cannot be launched","ok":false})");
    EXPECT_EQ(desktop->children.size(), 6u);  // two builds of three reg queries
    EXPECT_TRUE(desktop->shell_calls.empty());
}

TEST_F(OpenAppTest, UnresolvedNameIsHandedToTheShellAsItsFullPathOrUnchanged) {
    desktop->add_file(std::string("C:\\Windows\\System32\\mspaint.exe"));
    struct Case {
        std::string request;
        std::optional<std::string> shell_file;  // nothing: not handed to the shell
    };
    const Case cases[] = {
        {" mspaint ", "C:\\Windows\\System32\\mspaint.EXE"},
        {"ms-settings:", "ms-settings:"},
        {" C:\\Tools\\tool.exe ", " C:\\Tools\\tool.exe "},
        {"\"C:\\Program Files\\t.exe\"", "\"C:\\Program Files\\t.exe\""},
        {".\\mspaint.exe", std::nullopt},
        {"Tools\\mspaint.exe", std::nullopt},
    };
    for (const Case& c : cases) {
        desktop->shell_calls.clear();
        handle_open_app(Json{{"app_name", c.request}});
        if (!c.shell_file) {
            EXPECT_TRUE(desktop->shell_calls.empty()) << c.request;
            continue;
        }
        ASSERT_EQ(desktop->shell_calls.size(), 1u) << c.request;
        EXPECT_EQ(desktop->shell_calls[0].file, *c.shell_file);
        EXPECT_EQ(desktop->shell_calls[0].verb, "open");
        EXPECT_EQ(desktop->shell_calls[0].parameters, std::nullopt);
        EXPECT_EQ(desktop->shell_calls[0].directory, std::nullopt);
        EXPECT_EQ(desktop->shell_calls[0].show_command, kSwShowNormal);
    }
}

TEST_F(OpenAppTest, ShortcutLaunchWaitsForTheWindowInFourHundredMsSteps) {
    const std::string lnk =
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Probe App.lnk";
    desktop->add_file(lnk);
    sim::SimShellProgram program;
    program.window = app_window("Zelto Probe", {10, 10, 210, 160});
    program.window_after_ms = 1900;
    desktop->shell_programs[lnk] = program;

    const ActionResult result = handle_open_app(Json{{"app_name", "probe"}});
    EXPECT_EQ(result["ok"], true) << dump(result);
    EXPECT_EQ(result["data"]["app_name"], "Probe App");
    EXPECT_EQ(result["data"]["target_title"], "Zelto Probe");
    EXPECT_EQ(shell_files(), (std::vector<std::string>{lnk}));
    // Found by the fifth search, at 2000 ms; then 300 ms of placement and focus.
    EXPECT_EQ(calls_named("set_pos")[0].at_ms, 2000u);
    EXPECT_EQ(desktop->now_ms(), 2300u);
}

TEST_F(OpenAppTest, ResolvedNameSearchesTheEntryNameFirst) {
    desktop->environment["APPDATA"] = "C:\\U";
    desktop->add_file(std::string("C:\\U\\Microsoft\\Windows\\Start Menu\\Programs\\WeChat.lnk"));
    sim::SimShellProgram program;
    program.window = app_window("微信");
    desktop->shell_programs["C:\\U\\Microsoft\\Windows\\Start Menu\\Programs\\WeChat.lnk"] =
        program;
    const ActionResult result = handle_open_app(Json{{"app_name", "weixin"}});
    EXPECT_EQ(result["ok"], true) << dump(result);
    EXPECT_EQ(result["data"]["app_name"], "WeChat");
    EXPECT_EQ(result["data"]["target_title"], "微信");
    EXPECT_EQ(desktop->stderr_lines,
              (std::vector<std::string>{
                  "[CUA-open-win] alias resolved 'weixin' via 'wechat' -> 'WeChat'"}));
}

TEST_F(OpenAppTest, DeletedShortcutWithNoTargetIsNotFound) {
    const std::string lnk = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Gone.lnk";
    desktop->add_file(lnk);
    const ActionResult result = handle_open_app(Json{{"app_name", "Gone"}});
    EXPECT_EQ(dump(result),
              R"({"error":"Application 'Gone' not found or cannot be launched","ok":false})");
    EXPECT_EQ(shell_files(), (std::vector<std::string>{lnk}));
}

TEST_F(OpenAppTest, StartAppsEntryOpensThroughExplorerWithItsAppId) {
    desktop->path_programs["powershell.exe"] = "C:\\ps.exe";
    sim::SimChildScript start_apps;
    start_apps.out = R"({"Name":"Photos","AppID":"Microsoft.Photos!App"})";
    desktop->child_scripts = {start_apps};
    sim::SimShellProgram explorer;
    explorer.window = app_window("Photos");
    explorer.window_after_ms = 400;
    desktop->add_file(std::string("C:\\Windows\\explorer.exe"));
    desktop->shell_programs["C:\\Windows\\explorer.exe"] = explorer;
    const ActionResult result = handle_open_app(Json{{"app_name", "photos"}});
    EXPECT_EQ(result["ok"], true) << dump(result);
    ASSERT_EQ(desktop->shell_calls.size(), 1u);
    EXPECT_EQ(desktop->shell_calls[0].file, "C:\\Windows\\explorer.exe");
    EXPECT_EQ(desktop->shell_calls[0].parameters, "shell:AppsFolder\\Microsoft.Photos!App");
}

TEST_F(OpenAppTest, WindowThatNeverAppearsGivesTheNotVisibleMessageAfterNineSearches) {
    desktop->add_file(std::string("C:\\Windows\\System32\\notepad.exe"));
    desktop->shell_programs["C:\\Windows\\System32\\notepad.exe"] = sim::SimShellProgram{};
    const ActionResult result = handle_open_app(Json{{"app_name", "NOTEPAD"}});
    EXPECT_EQ(
        dump(result),
        R"({"error":"Application 'Notepad' started but no visible window was found","ok":false})");
    EXPECT_EQ(desktop->now_ms(), 3200u);
}

TEST_F(OpenAppTest, BareIndexTargetIsLaunchedFromTheSystemFolderNotBySearch) {
    desktop->add_file(std::string("C:\\Windows\\System32\\notepad.exe"));
    desktop->shell_programs["notepad.exe"] = sim::SimShellProgram{};  // a planted one
    sim::SimShellProgram notepad;
    notepad.window = app_window("Untitled - Notepad");
    desktop->shell_programs["C:\\Windows\\System32\\notepad.exe"] = notepad;
    const ActionResult result = handle_open_app(Json{{"app_name", "notepad"}});
    EXPECT_EQ(result["ok"], true) << dump(result);
    EXPECT_EQ(shell_files(), (std::vector<std::string>{"C:\\Windows\\System32\\notepad.exe"}));
}

TEST(LaunchFileKind, TellsPathsUrisAndBareNamesApart) {
    const std::pair<std::string, LaunchFileKind> cases[] = {
        {"C:\\x\\app.exe", LaunchFileKind::full_path},
        {"d:/x/app.exe", LaunchFileKind::full_path},
        {"\\\\server\\share\\app.exe", LaunchFileKind::full_path},
        {"ms-settings:", LaunchFileKind::uri},
        {"ms-settings:display", LaunchFileKind::uri},
        {"shell:AppsFolder\\Zelto!App", LaunchFileKind::uri},
        {"https://example.invalid/", LaunchFileKind::uri},
        {"notepad", LaunchFileKind::bare_name},
        {"calc.exe", LaunchFileKind::bare_name},
        {"Visual Studio Code", LaunchFileKind::bare_name},
        {"C:app.exe", LaunchFileKind::relative_path},  // the current directory of drive C
        {"C:", LaunchFileKind::relative_path},
        {".\\app.exe", LaunchFileKind::relative_path},
        {"..\\app.exe", LaunchFileKind::relative_path},
        {"bin/app.exe", LaunchFileKind::relative_path},
        {"\\app.exe", LaunchFileKind::relative_path},
        {"app.exe:stream", LaunchFileKind::relative_path},  // a dot is no scheme character
        {"1x:y", LaunchFileKind::relative_path},
    };
    for (const auto& [file, kind] : cases) {
        EXPECT_EQ(win_launch_file_kind(file), kind) << file;
    }
}

class FindProgramTest : public ::testing::Test {
  protected:
    FindProgramTest() {
        desktop->environment["SystemRoot"] = "D:\\Win";
        desktop->environment["PATHEXT"] = ".COM;.EXE;;BAT; .CMD ";
    }
    sim::ScopedSimDesktop desktop;
};

TEST_F(FindProgramTest, SystemFoldersComeFirstInTheirOrderThenAppPathsThenPath) {
    auto& registry = desktop->registry_strings;
    const std::string hklm = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    const std::string wow =
        "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    const std::string hkcu = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    desktop->environment["ProgramFiles"] = "D:\\PF";
    desktop->add_file(std::string("D:\\Win\\System32\\both.exe"));
    desktop->add_file(std::string("D:\\Win\\both.exe"));
    desktop->add_file(std::string("D:\\Win\\System\\old.exe"));
    desktop->add_file(std::string("D:\\Win\\old.com"));
    desktop->add_file(std::string("D:\\Win\\System32\\tool.cmd"));
    desktop->add_file(std::string("D:\\Win\\System32\\folder.exe"), true);
    desktop->add_file(std::string("D:\\PF\\Reg App\\regapp.exe"));
    desktop->add_file(std::string("D:\\PF\\Mine\\mine.exe"));
    registry[hklm + "both.exe"] = "D:\\elsewhere\\both.exe";
    registry[hklm + "regapp.exe"] = "relative\\regapp.exe";  // not a full path: passed over
    registry[wow + "regapp.exe"] = " \"%ProgramFiles%\\Reg App\\regapp.exe\" ";
    registry[hklm + "mine.exe"] = "D:\\PF\\missing.exe";  // no such file: passed over
    registry[hkcu + "mine.exe"] = "D:\\PF\\Mine\\mine.exe";
    registry[hkcu + "pathapp.exe"] = "D:\\PF\\gone\\pathapp.exe";
    desktop->path_programs["pathapp.COM"] = "E:\\bin\\pathapp.COM";
    desktop->path_programs["pathapp.EXE"] = "E:\\bin\\pathapp.EXE";
    desktop->path_programs["folder.COM"] = "E:\\bin\\folder.COM";
    desktop->path_programs["script.CMD"] = "E:\\bin\\script.CMD";

    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"both", "D:\\Win\\System32\\both.EXE"},  // System32 before the Windows folder
        {"old", "D:\\Win\\System\\old.EXE"},      // each folder with every extension first
        {"tool", "D:\\Win\\System32\\tool.CMD"},  // the last listed extension
        {"TOOL.cmd", "D:\\Win\\System32\\TOOL.cmd"},
        {"regapp", "D:\\PF\\Reg App\\regapp.exe"},  // quoted, %-reference expanded
        {"mine", "D:\\PF\\Mine\\mine.exe"},
        {"pathapp", "E:\\bin\\pathapp.COM"},  // PATHEXT order
        {"folder", "E:\\bin\\folder.COM"},    // a folder is no program
        {"script", "E:\\bin\\script.CMD"},
        {"script.bat", std::nullopt},  // "BAT" has no dot: not an extension
        {"both.txt", std::nullopt},
        {"absent", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(win_find_program(name), expected) << name;
    }
}

TEST_F(FindProgramTest, WithoutSystemRootOrPathextTheDefaultsApply) {
    desktop->environment.clear();
    desktop->add_file(std::string("C:\\Windows\\System32\\calc.exe"));
    desktop->add_file(std::string("C:\\Windows\\System32\\msc.MSC"));
    EXPECT_EQ(win_find_program("calc"), "C:\\Windows\\System32\\calc.EXE");
    EXPECT_EQ(win_find_program("msc"), "C:\\Windows\\System32\\msc.MSC");
    desktop->environment["SystemDrive"] = "E:";
    EXPECT_EQ(win_find_program("calc"), std::nullopt);  // E:\Windows holds nothing
}

TEST_F(OpenAppTest, ShellRefusalAtOrBelow32IsNotAcceptance) {
    desktop->shell_programs["edge"] = sim::SimShellProgram{32, std::nullopt, 0};
    EXPECT_FALSE(win_shell_execute("edge", std::nullopt));
    desktop->shell_programs["edge"] = sim::SimShellProgram{33, std::nullopt, 0};
    EXPECT_TRUE(win_shell_execute("edge", "--x"));
    EXPECT_EQ(desktop->shell_calls.back().parameters, "--x");
}

}  // namespace
}  // namespace cua_actions::windows
