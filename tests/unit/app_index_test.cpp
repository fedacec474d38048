#include "cua_actions/windows/app_index.h"

#include <gtest/gtest.h>

#include "support/sim_desktop.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

std::vector<std::string> names_of(const std::vector<WinAppEntry>& entries) {
    std::vector<std::string> names;
    for (const WinAppEntry& entry : entries) {
        names.push_back(entry.name);
    }
    return names;
}

std::vector<std::string> aliases(std::string_view name) {
    const auto group = win_app_alias_names(name);
    return {group.begin(), group.end()};
}

WinAppEntry named(std::string name) {
    return WinAppEntry{std::move(name), {}, {}, {}};
}

// --- names --------------------------------------------------------------------------

TEST(AppNames, Normalize) {
    const std::pair<std::string, std::string> cases[] = {
        {"  Code.exe ", "Code"}, {"App .exe", "App"},  {"App.EXE", "App"}, {"App.Exe", "App.Exe"},
        {"x.exe.exe", "x.exe"},  {".exe", ""},         {"exe", "exe"},     {"", ""},
        {" \t\u3000", ""},       {"My App", "My App"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(win_normalize_app_name(input), expected) << "'" << input << "'";
    }
}

TEST(AppNames, AliasGroups) {
    const std::vector<std::string> lark{"lark", "feishu", "飞书"};
    const std::vector<std::string> wechat{"wechat", "weixin", "微信"};
    const std::vector<std::string> meeting{"tencentmeeting", "tencent meeting", "wemeet",
                                           "腾讯会议"};
    EXPECT_EQ(aliases(" WeChat "), wechat);
    EXPECT_EQ(aliases("微信"), wechat);
    EXPECT_EQ(aliases("LARK"), lark);
    EXPECT_EQ(aliases("飞书"), lark);
    EXPECT_EQ(aliases("Tencent Meeting"), meeting);
    EXPECT_EQ(aliases("WEMEET"), meeting);
    for (const char* miss : {"Lark Suite", "tencent  meeting", "tencent-meeting", "", "notepad"}) {
        EXPECT_TRUE(aliases(miss).empty()) << miss;
    }
}

TEST(AppNames, SkipMarkersAreSubstrings) {
    for (const char* skipped :
         {"Uninstall Foo", "README", "MySetupTool", "Windows Update Assistant", "LicenseViewer",
          "Lark Updater", "  setup  ", "Release Notes", "Documentation"}) {
        EXPECT_TRUE(win_should_skip_app_name(skipped)) << skipped;
    }
    for (const char* kept : {"Notepad", "Calculator", "", "Release  Notes", "Upd ate"}) {
        EXPECT_FALSE(win_should_skip_app_name(kept)) << kept;
    }
}

TEST(AppNames, WindowSearchTerms) {
    const WinAppEntry wechat = named("WeChat");
    EXPECT_EQ(win_window_search_terms("wechat", &wechat),
              (std::vector<std::string>{"WeChat", "wechat", "weixin", "微信"}));
    EXPECT_EQ(win_window_search_terms("  notepad ", nullptr),
              (std::vector<std::string>{"notepad"}));
    EXPECT_TRUE(win_window_search_terms("   ", nullptr).empty());
    // Aliases follow the request, not the entry; a blank entry name is dropped.
    const WinAppEntry lark = named("Lark");
    EXPECT_EQ(win_window_search_terms("notepad", &lark),
              (std::vector<std::string>{"Lark", "notepad"}));
    const WinAppEntry blank = named("  ");
    EXPECT_EQ(win_window_search_terms("飞书", &blank),
              (std::vector<std::string>{"飞书", "lark", "feishu"}));
}

// --- parsers -------------------------------------------------------------------------

class AppIndexSim : public ::testing::Test {
  protected:
    AppIndexSim() { reset_app_index_cache_for_testing(); }
    ~AppIndexSim() override { reset_app_index_cache_for_testing(); }
    sim::ScopedSimDesktop desktop;
};

TEST_F(AppIndexSim, RegOutputParsing) {
    desktop->environment["ProgramFiles"] = "C:\\Program Files";
    const std::string output =
        "    (Default)    REG_SZ    C:\\before\\any_key.exe\r\n"
        "\r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\app.exe\r\n"
        "    (Default)    REG_EXPAND_SZ    %ProgramFiles%\\App\\app.exe\r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\dword.exe\r\n"
        "    (Default)    REG_DWORD    0x1\r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\empty.exe\r\n"
        "    (Default)    REG_SZ\r\n"
        "    (Default)    REG_SZ    \t \r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App "
        "Paths\\Updater.exe\r\n"
        "    (Default)    REG_SZ    C:\\u\\Updater.exe\r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\pct.EXE\n"
        "    (Default)    REG_SZ    \"C:\\100%%\\%Missing%\\p.exe\" %\n"
        "End of search: 6 match(es) found.\n"
        "hkey_lower\n"
        "    (Default)    REG_SZ    C:\\x\\after_lowercase_line.exe\n";
    const std::vector<WinAppEntry> entries = win_parse_reg_app_paths(output);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (WinAppEntry{"app", {}, "C:\\Program Files\\App\\app.exe", {}}));
    EXPECT_EQ(entries[1], (WinAppEntry{"pct", {}, "\"C:\\100%%\\%Missing%\\p.exe\" %", {}}));
    // A line not starting with HKEY_ is no key: the value goes to the last key.
    EXPECT_EQ(entries[2], (WinAppEntry{"pct", {}, "C:\\x\\after_lowercase_line.exe", {}}));

    desktop->environment.erase("ProgramFiles");
    const auto absent = win_parse_reg_app_paths(
        "HKEY_CURRENT_USER\\X\\App Paths\\app.exe\n    (Default)    REG_EXPAND_SZ    "
        "%ProgramFiles%\\a.exe");
    ASSERT_EQ(absent.size(), 1u);
    EXPECT_EQ(absent[0].target, "%ProgramFiles%\\a.exe");
}

TEST_F(AppIndexSim, RegKeyWithoutBackslashAndInvalidBytes) {
    const auto entries =
        win_parse_reg_app_paths("HKEY_tool.exe\n (Default) REG_SZ\u3000C:\\t\xff.exe\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "HKEY_tool");
    EXPECT_EQ(entries[0].target, "C:\\t\uFFFD.exe");
}

TEST_F(AppIndexSim, ExpandEnvRefs) {
    desktop->environment["A"] = "alpha";
    desktop->environment["B"] = "%A%";  // values are not expanded again
    const std::pair<std::string, std::string> cases[] = {
        {"%A%\\x", "alpha\\x"}, {"100%%", "100%%"},       {"%A", "%A"},
        {"%Z%%A%", "%Z%alpha"}, {"%%A%", "%alpha"},       {"%B%", "%A%"},
        {"a%b", "a%b"},         {"%A%%A%", "alphaalpha"}, {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(win_expand_env_refs(input), expected) << input;
    }
}

TEST(AppIndexParse, StartAppsOutput) {
    EXPECT_EQ(
        win_parse_start_apps(
            R"({"Name":"Mail","AppID":" microsoft.windowscommunicationsapps!mail "})"),
        (std::vector<WinAppEntry>{{"Mail",
                                   {},
                                   "explorer.exe",
                                   "shell:AppsFolder\\microsoft.windowscommunicationsapps!mail"}}));
    const auto entries = win_parse_start_apps(
        " \r\n[{\"Name\":42,\"AppID\":\"num\"},"
        "{\"Name\":\"Lower.exe\",\"appid\":\"low\"},"
        "{\"Name\":\"NoId\"},"
        "{\"Name\":null,\"name\":\"Shadowed\",\"AppID\":\"s\"},"
        "{\"name\":\"Second\",\"AppId\":7,\"appid\":\"ignored\"},"
        "\"text\",{\"Name\":\"App Setup\",\"AppID\":\"x\"},"
        "{\"Name\":\" Calc \",\"AppID\":\"c\",\"AppId\":\"later\"}]\n");
    EXPECT_EQ(entries,
              (std::vector<WinAppEntry>{{"Lower", {}, "explorer.exe", "shell:AppsFolder\\low"},
                                        {"Calc", {}, "explorer.exe", "shell:AppsFolder\\c"}}));
    for (const char* nothing : {"", "  ", "[]", "null", "42", "\"x\"", "{bad", "[{}] trailing"}) {
        EXPECT_TRUE(win_parse_start_apps(nothing).empty()) << nothing;
    }
    // A NUL ends the text for the JSON library alone, which would add the entry.
    const std::string nul_then_junk("[{\"Name\":\"A\",\"AppID\":\"b\"}]\0junk", 31);
    EXPECT_TRUE(win_parse_start_apps(nul_then_junk).empty());
    EXPECT_TRUE(win_parse_start_apps(nul_then_junk.substr(0, 27)).empty());  // a NUL alone
}

TEST(AppIndexParse, FilterSkipsAndKeepsFirstOfEachLowercasedName) {
    std::vector<WinAppEntry> entries{
        {"Code", "a.lnk", {}, {}},    {"Uninstall Foo", "u.lnk", {}, {}},
        {"code", {}, "code.exe", {}}, {"Code Insiders", {}, "ci.exe", {}},
        {"ΟΔΟΣ", {}, "1", {}},        {"οδος", {}, "2", {}}};
    const auto kept = win_filter_app_entries(entries);
    EXPECT_EQ(kept, (std::vector<WinAppEntry>{{"Code", "a.lnk", {}, {}},
                                              {"Code Insiders", {}, "ci.exe", {}},
                                              {"ΟΔΟΣ", {}, "1", {}}}));
}

// --- sources --------------------------------------------------------------------------

TEST_F(AppIndexSim, LnkScanRecursesAndDropsAFolderWithAnUnreadableEntry) {
    desktop->add_file(std::string("C:\\M\\Zed.LNK"));
    desktop->add_file(std::string("C:\\M\\Sub\\Deep\\Tool.lnk"));
    desktop->add_file(std::string("C:\\M\\readme.txt"));
    desktop->add_file(std::string("C:\\M\\.lnk"));
    desktop->add_file(std::string("C:\\M\\a.lnkx"));
    desktop->add_file(std::string("C:\\M\\Bad\\One.lnk"));
    desktop->add_file(std::string("C:\\M\\Bad\\Two.lnk"));
    desktop->folders[u"C:\\M\\Bad"].items[1].read_fails = true;
    desktop->add_file(u"C:\\M\\Odd\xD800\\Hidden.lnk");  // folder name not valid Unicode
    desktop->add_file(u"C:\\M\\Lone\xDC00.lnk");
    const auto entries = win_scan_lnk_dir(u"C:\\M");
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(*entries, (std::vector<WinAppEntry>{{"Zed", "C:\\M\\Zed.LNK", {}, {}},
                                                  {"Tool", "C:\\M\\Sub\\Deep\\Tool.lnk", {}, {}}}));
    EXPECT_FALSE(win_scan_lnk_dir(u"C:\\M\\Bad").has_value());
    EXPECT_FALSE(win_scan_lnk_dir(u"C:\\Nowhere").has_value());
}

TEST_F(AppIndexSim, ExeScanStopsBelowDepthThreeAndPassesOverBadEntries) {
    desktop->add_file(std::string("C:\\P\\root.exe"));
    desktop->add_file(std::string("C:\\P\\a\\b\\c\\three.EXE"));
    desktop->add_file(std::string("C:\\P\\a\\b\\c\\d\\four.exe"));
    desktop->add_file(std::string("C:\\P\\setup.exe"));
    desktop->add_file(std::string("C:\\P\\broken.exe"));
    desktop->add_file(std::string("C:\\P\\after.exe"));
    desktop->add_file(std::string("C:\\P\\note.txt"));
    desktop->add_file(u"C:\\P\\bad\xD800.exe");  // stem not valid Unicode: empty name
    ASSERT_EQ(desktop->folders[u"C:\\P"].items[3].name, u"broken.exe");
    desktop->folders[u"C:\\P"].items[3].read_fails = true;
    std::vector<WinAppEntry> out;
    win_scan_exe_dir(out, u"C:\\P", 0);
    EXPECT_EQ(names_of(out), (std::vector<std::string>{"root", "three", "after"}));
    EXPECT_EQ(out[1].target, "C:\\P\\a\\b\\c\\three.EXE");
}

TEST_F(AppIndexSim, LnkScanEndsLinkLoopsAndKeepsTheOrdinaryEntriesInOrder) {
    desktop->add_file(std::string("C:\\M\\Zed.lnk"));
    desktop->add_folder_link("C:\\M\\Up", "C:\\M");  // listed before the folders below
    desktop->add_file(std::string("C:\\M\\Sub\\Tool.lnk"));
    desktop->add_folder_link("C:\\M\\Sub\\Parent", "C:\\M");
    desktop->add_folder_link("C:\\M\\Sub\\Self", "C:\\M\\Sub");
    desktop->add_file(std::string("C:\\M\\Sub\\Deep\\Last.lnk"));
    const auto entries = win_scan_lnk_dir(u"C:\\M");
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(*entries, (std::vector<WinAppEntry>{{"Zed", "C:\\M\\Zed.lnk", {}, {}},
                                                  {"Tool", "C:\\M\\Sub\\Tool.lnk", {}, {}},
                                                  {"Last", "C:\\M\\Sub\\Deep\\Last.lnk", {}, {}}}));
    // Each link was looked at once and not entered: three folders, three links.
    EXPECT_EQ(desktop->identity_queries.size(), 6u);
}

TEST_F(AppIndexSim, LnkScanFollowsALinkOnceByWhatItNamesNotByItsPath) {
    // A link to a folder outside the tree is entered like any folder; the
    // folder it names is not entered again under its own path.
    desktop->add_folder_link("C:\\M\\Apps", "C:\\Shared\\Apps");
    desktop->add_file(std::string("C:\\Shared\\Apps\\Mail.lnk"));
    desktop->add_folder_link("C:\\M\\Again", "C:\\Shared\\Apps");
    desktop->add_folder_link("C:\\M\\Dangling", "C:\\Gone");
    const auto entries = win_scan_lnk_dir(u"C:\\M");
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(*entries, (std::vector<WinAppEntry>{{"Mail", "C:\\M\\Apps\\Mail.lnk", {}, {}}}));
}

TEST_F(AppIndexSim, FoldersAreTheSameOnlyWhenVolumeAndFileIndexBothMatch) {
    struct Case {
        const char* name;
        FolderIdentity identity;
        bool entered;
    };
    const Case cases[] = {
        {"A", {1, 7}, true},
        {"B", {2, 7}, true},   // same file index on another volume
        {"C", {1, 8}, true},   // same volume, another file
        {"D", {2, 7}, false},  // what B is, under another name
    };
    desktop->add_file(std::string("C:\\M"), true);
    desktop->folders[u"C:\\M"].identity = FolderIdentity{9, 9};
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        const std::string folder = std::string("C:\\M\\") + c.name;
        desktop->add_file(folder + "\\In" + c.name + ".lnk");
        desktop->folders[text::utf8_to_utf16(folder)].identity = c.identity;
        if (c.entered) {
            expected.push_back(std::string("In") + c.name);
        }
    }
    const auto entries = win_scan_lnk_dir(u"C:\\M");
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(names_of(*entries), expected);
}

TEST_F(AppIndexSim, AFolderWhoseIdentityCannotBeReadIsNotEntered) {
    desktop->add_file(std::string("C:\\M\\Top.lnk"));
    desktop->add_file(std::string("C:\\M\\Opaque\\Hidden.lnk"));
    desktop->add_file(std::string("C:\\M\\Later.lnk"));
    desktop->folders[u"C:\\M\\Opaque"].identity_fails = true;
    const auto entries = win_scan_lnk_dir(u"C:\\M");
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(names_of(*entries), (std::vector<std::string>{"Top", "Later"}));
    EXPECT_FALSE(win_scan_lnk_dir(u"C:\\M\\Opaque").has_value());

    std::vector<WinAppEntry> out;
    desktop->add_file(std::string("C:\\P\\app.exe"));
    desktop->folders[u"C:\\P"].identity_fails = true;
    win_scan_exe_dir(out, u"C:\\P", 0);
    EXPECT_TRUE(out.empty());
}

TEST_F(AppIndexSim, ExeScanEntersEachFolderOnceWithinTheDepthLimit) {
    desktop->add_file(std::string("C:\\P\\root.exe"));
    desktop->add_folder_link("C:\\P\\a\\Loop", "C:\\P");
    desktop->add_file(std::string("C:\\P\\a\\one.exe"));
    desktop->add_folder_link("C:\\P\\a\\Side", "C:\\Q");
    desktop->add_file(std::string("C:\\Q\\b\\three.exe"));  // a, Side, b: three levels down
    desktop->add_file(std::string("C:\\Q\\b\\c\\four.exe"));
    std::vector<WinAppEntry> out;
    win_scan_exe_dir(out, u"C:\\P", 0);
    EXPECT_EQ(names_of(out), (std::vector<std::string>{"root", "one", "three"}));
    EXPECT_EQ(out[2].target, "C:\\P\\a\\Side\\b\\three.exe");
}

TEST_F(AppIndexSim, BuildOrderSourcesAndDeduplication) {
    auto& env = desktop->environment;
    env["SystemDrive"] = "D:";
    env["ProgramData"] = "D:\\PD";
    env["APPDATA"] = "D:\\U\\Roaming";
    env["LOCALAPPDATA"] = "D:\\U\\Local\\";
    env["SystemRoot"] = "D:\\Win";
    const std::string all_menu = "D:\\PD\\Microsoft\\Windows\\Start Menu\\Programs";
    const std::string user_menu = "D:\\U\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    desktop->add_file(all_menu + "\\Notepad.lnk");
    desktop->add_file(all_menu + "\\Uninstall Foo.lnk");
    desktop->add_file(user_menu + "\\Code.lnk");
    desktop->add_file(std::string("D:\\U\\Local\\Programs\\code\\code.exe"));
    desktop->add_file(std::string("D:\\U\\Local\\Programs\\Code Insiders.exe"));
    desktop->add_file(std::string("D:\\Win\\System32\\notepad.exe"));
    desktop->add_file(std::string("D:\\Win\\System32\\cmd.exe"));
    desktop->path_programs["reg.exe"] = "D:\\Win\\System32\\reg.exe";
    desktop->path_programs["powershell.exe"] = "D:\\Win\\System32\\powershell.exe";
    sim::SimChildScript first_key;
    first_key.out =
        "HKEY_LOCAL_MACHINE\\X\\App Paths\\chrome.exe\r\n    (Default)    REG_SZ    "
        "C:\\c\\chrome.exe\r\n";
    sim::SimChildScript failing_key;
    failing_key.exit_code = 1;
    failing_key.out =
        "HKEY_LOCAL_MACHINE\\Y\\App Paths\\ignored.exe\n    (Default)    REG_SZ    x\n";
    sim::SimChildScript user_key;
    user_key.out =
        "HKEY_CURRENT_USER\\Z\\App Paths\\CMD.exe\n    (Default)    REG_SZ    C:\\mine\\cmd.exe\n";
    sim::SimChildScript start_apps;
    start_apps.out = R"([{"Name":"Photos","AppID":"Microsoft.Windows.Photos_8wekyb3d8bbwe!App"}])";
    desktop->child_scripts = {first_key, failing_key, user_key, start_apps};

    const std::vector<WinAppEntry> index = win_build_app_index();
    EXPECT_EQ(names_of(index),
              (std::vector<std::string>{"Notepad", "Code", "Code Insiders", "chrome", "CMD",
                                        "Photos", "Command Prompt", "Calculator"}));
    EXPECT_EQ(index[0].lnk_path, all_menu + "\\Notepad.lnk");
    EXPECT_EQ(index[5].args, "shell:AppsFolder\\Microsoft.Windows.Photos_8wekyb3d8bbwe!App");
    EXPECT_EQ(index[7].target, "calc.exe");  // listed although System32 lacks it

    ASSERT_EQ(desktop->children.size(), 4u);
    const std::vector<std::string> reg_args{
        "query", "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths", "/s",
        "/ve"};
    EXPECT_EQ(desktop->children[1].launch.arguments, reg_args);
    EXPECT_EQ(desktop->children[0].launch.program, "D:\\Win\\System32\\reg.exe");
    EXPECT_EQ(
        desktop->children[3].launch.arguments,
        (std::vector<std::string>{"-NoProfile", "-NonInteractive", "-Command", kStartAppsQuery}));
    for (const sim::SimChild& child : desktop->children) {
        EXPECT_EQ(child.launch.creation_flags, kCreateNoWindow);
        EXPECT_TRUE(child.closed);
    }
}

TEST_F(AppIndexSim, BuildWithNothingSetFallsBackToDriveCAndTheBareSuffix) {
    // APPDATA absent: the per-user menu is the bare suffix.
    desktop->add_file(std::string(kStartMenuSuffix) + "\\Bare.lnk");
    desktop->add_file(std::string("C:\\ProgramData") + kStartMenuSuffix + "\\All.lnk");
    desktop->add_file(std::string("C:\\Windows\\System32\\mspaint.exe"));
    desktop->child_fail.start = "cannot start";
    desktop->path_programs["reg.exe"] = "C:\\Windows\\System32\\reg.exe";
    EXPECT_EQ(names_of(win_build_app_index()),
              (std::vector<std::string>{"All", "Bare", "Paint", "Calculator"}));
}

TEST_F(AppIndexSim, BuildWithLinksBackUpInThePerUserMenuStillListsEveryShortcut) {
    desktop->environment["APPDATA"] = "C:\\U";
    const std::string menu = std::string("C:\\U") + kStartMenuSuffix;
    desktop->add_file(menu + "\\Alpha.lnk");
    desktop->add_folder_link(menu + "\\up1", menu);
    desktop->add_folder_link(menu + "\\up2", menu);
    desktop->add_file(menu + "\\Tools\\Beta.lnk");
    desktop->add_folder_link(menu + "\\Tools\\back", "C:\\U");
    const std::vector<WinAppEntry> index = win_build_app_index();
    EXPECT_EQ(names_of(index), (std::vector<std::string>{"Alpha", "Beta", "Calculator"}));
    EXPECT_EQ(index[1].lnk_path, menu + "\\Tools\\Beta.lnk");
}

TEST_F(AppIndexSim, EachQueryOutputIsReadAsUtf8OrElseInTheOemCodePage) {
    desktop->path_programs["reg.exe"] = "C:\\Windows\\System32\\reg.exe";
    desktop->path_programs["powershell.exe"] = "C:\\Windows\\System32\\powershell.exe";
    sim::SimChildScript oem_key;  // code page 437, as reg writes it into a pipe
    oem_key.out =
        "HKEY_LOCAL_MACHINE\\X\\App Paths\\caf\x82.exe\r\n    (Default)    REG_SZ    "
        "C:\\Caf\x82\\caf\x82.exe\r\n";
    sim::SimChildScript utf8_key;
    utf8_key.out =
        "HKEY_CURRENT_USER\\Z\\App Paths\\na\xc3\xafve.exe\n    (Default)    REG_SZ    "
        "C:\\na\xc3\xafve.exe\n";
    sim::SimChildScript oem_start_apps;
    oem_start_apps.out = "[{\"Name\":\"Th\x82\",\"AppID\":\"Tea!App\"}]";
    desktop->child_scripts = {oem_key, {}, utf8_key, oem_start_apps};

    const std::vector<WinAppEntry> index = win_build_app_index();
    ASSERT_EQ(names_of(index), (std::vector<std::string>{"caf\xc3\xa9", "na\xc3\xafve",
                                                         "Th\xc3\xa9", "Calculator"}));
    EXPECT_EQ(index[0].target, "C:\\Caf\xc3\xa9\\caf\xc3\xa9.exe");
    EXPECT_EQ(index[1].target, "C:\\na\xc3\xafve.exe");
}

TEST_F(AppIndexSim, AQueryThatNeverEndsIsEndedAtItsLimitAndAddsNothing) {
    desktop->path_programs["reg.exe"] = "C:\\Windows\\System32\\reg.exe";
    desktop->path_programs["powershell.exe"] = "C:\\Windows\\System32\\powershell.exe";
    sim::SimChildScript hung_key;
    hung_key.exits_after_ms = std::nullopt;
    hung_key.out = "HKEY_LOCAL_MACHINE\\X\\App Paths\\lost.exe\n    (Default)    REG_SZ    x\n";
    sim::SimChildScript user_key;
    user_key.out = "HKEY_CURRENT_USER\\Z\\App Paths\\kept.exe\n    (Default)    REG_SZ    y\n";
    desktop->child_scripts = {hung_key, {}, user_key, {}};

    const std::uint64_t started_ms = desktop->now_ms();
    EXPECT_EQ(names_of(win_build_app_index()), (std::vector<std::string>{"kept", "Calculator"}));
    ASSERT_EQ(desktop->children.size(), 4u);
    // Ended with its tree at 30 s, and the next query started only then.
    EXPECT_EQ(desktop->children[0].terminated_ms, started_ms + 30'000);
    EXPECT_GE(desktop->children[1].started_ms, started_ms + 30'000);
    EXPECT_LT(desktop->now_ms() - started_ms, 30'100u);
}

// --- cache ------------------------------------------------------------------------------

TEST_F(AppIndexSim, CacheReusedAt299SecondsAndRebuiltAt300) {
    desktop->path_programs["reg.exe"] = "C:\\reg.exe";
    const auto builds = [&] { return desktop->children.size() / 3; };  // three reg runs per build
    EXPECT_EQ(names_of(win_get_app_index(false)), (std::vector<std::string>{"Calculator"}));
    EXPECT_EQ(builds(), 1u);
    desktop->sleep_ms(299'999);
    win_get_app_index(false);
    EXPECT_EQ(builds(), 1u);
    desktop->add_file(std::string("C:\\Windows\\System32\\notepad.exe"));
    desktop->sleep_ms(1);
    EXPECT_EQ(names_of(win_get_app_index(false)),
              (std::vector<std::string>{"Notepad", "Calculator"}));
    EXPECT_EQ(builds(), 2u);
    // The age counts from the rebuild.
    desktop->sleep_ms(200'000);
    win_get_app_index(false);
    EXPECT_EQ(builds(), 2u);
    win_get_app_index(true);
    EXPECT_EQ(builds(), 3u);
}

TEST_F(AppIndexSim, FirstForcedRefreshBuildsTwice) {
    desktop->path_programs["reg.exe"] = "C:\\reg.exe";
    win_get_app_index(true);
    EXPECT_EQ(desktop->children.size(), 6u);
}

// --- matching ---------------------------------------------------------------------------

TEST(AppMatch, ExactThenShortestContaining) {
    const std::vector<WinAppEntry> code{named("Visual Studio Code"), named("Code")};
    EXPECT_EQ(win_match_index("code", code)->name, "Code");
    EXPECT_EQ(win_match_index("studio", code)->name, "Visual Studio Code");
    const std::vector<WinAppEntry> notepad{named("Notepad++"), named("Notepad")};
    EXPECT_EQ(win_match_index("NOTEPAD ", notepad)->name, "Notepad");
    const std::vector<WinAppEntry> paint{named("Paint 3D"), named("MS Paint"), named("Paint.NET")};
    EXPECT_EQ(win_match_index("pain", paint)->name, "Paint 3D");
    EXPECT_EQ(win_match_index("ms", paint)->name, "MS Paint");
    EXPECT_EQ(win_match_index("  ", paint), nullptr);
    EXPECT_EQ(win_match_index("", paint), nullptr);
    EXPECT_EQ(win_match_index("code", {}), nullptr);
    EXPECT_EQ(win_match_index("word", paint), nullptr);
    // The match is a reference into the index.
    EXPECT_EQ(win_match_index("paint.net", paint), &paint[2]);
}

TEST_F(AppIndexSim, ResolveThroughAliases) {
    const std::vector<WinAppEntry> wechat{named("微信")};
    const auto found = win_resolve_app("WeChat", wechat);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, "微信");
    EXPECT_EQ(
        desktop->stderr_lines,
        (std::vector<std::string>{"[CUA-open-win] alias resolved 'WeChat' via '微信' -> '微信'"}));

    desktop->stderr_lines.clear();
    const std::vector<WinAppEntry> lark{named("Feishu Meetings"), named("Lark")};
    EXPECT_EQ(win_resolve_app(" 飞书", lark)->name, "Lark");
    EXPECT_EQ(
        desktop->stderr_lines,
        (std::vector<std::string>{"[CUA-open-win] alias resolved ' 飞书' via 'lark' -> 'Lark'"}));

    // A containment hit on an earlier alias beats an exact hit on a later one.
    desktop->stderr_lines.clear();
    const std::vector<WinAppEntry> contain{named("weixin"), named("wechat pc")};
    EXPECT_EQ(win_resolve_app("微信", contain)->name, "wechat pc");

    desktop->stderr_lines.clear();
    EXPECT_FALSE(win_resolve_app("Lark Suite", lark).has_value());
    EXPECT_EQ(win_resolve_app("lark", lark)->name, "Lark");
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

}  // namespace
}  // namespace cua_actions::windows
