#include "cua_actions/windows/app_powershell.h"

#include <gtest/gtest.h>

#include "cua_actions/dispatch.h"
#include "cua_actions/windows/child_io.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr char kPowerShellPath[] = R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)";

std::string dump(const Json& value) {
    return text::json_dump(value);
}

sim::SimChildScript prints(std::string out, std::string err = {}) {
    sim::SimChildScript script;
    script.exits_after_ms = 120;
    script.out = std::move(out);
    script.err = std::move(err);
    return script;
}

sim::SimChildScript never_exits() {
    sim::SimChildScript script;
    script.exits_after_ms = std::nullopt;
    return script;
}

class PowerShellTest : public ::testing::Test {
  protected:
    PowerShellTest() { desktop->path_programs[kPowerShellProgram] = kPowerShellPath; }
    sim::ScopedSimDesktop desktop;
};

// --- guard --------------------------------------------------------------------

TEST(PowerShellGuard, NormalisationLowersAndFoldsWhiteSpaceRuns) {
    EXPECT_EQ(normalize_for_guard(" \tRemove-Item \t -Recurse\r\n-FORCE\u3000x\u00a0 "),
              "remove-item -recurse -force x");
    EXPECT_EQ(normalize_for_guard("ÄÖ İ"), "äö i\u0307");
    EXPECT_EQ(normalize_for_guard(""), "");
    EXPECT_EQ(normalize_for_guard(" \n\t "), "");
}

TEST(PowerShellGuard, BlockedEntriesInTableOrder) {
    struct Case {
        const char* script;
        const char* blocked;  // nullptr: passes the guard
    };
    const Case cases[] = {
        {"Set-ExecutionPolicy Bypass", "set-executionpolicy"},
        {"Start-Process   -Verb\tRunAs powershell", "start-process -verb runas"},
        {"Start-Process notepad -Verb RunAs", nullptr},
        {"INVOKE-EXPRESSION $x", "invoke-expression"},
        {"Invoke-Expression", "invoke-expression"},
        {"invoke-EXPression('1')", "invoke-expression"},
        {"iex $code", "iex "},
        {"$a = 1; iex\n$b", "iex "},
        {"Get-Content x | iex", nullptr},
        {"Get-Content x | iex \n\t", nullptr},
        {"(New-Object Net.WebClient).DownloadString('http://x')", "downloadstring("},
        {"$w.DownloadString ('http://x')", nullptr},
        {"Remove-Item C:\\x  -Recurse -Force", nullptr},
        {"Remove-Item\t\t-Recurse  \n -Force C:\\x", "remove-item -recurse -force"},
        {"Remove-Item -Force -Recurse C:\\x", nullptr},
        {"Format-Volume -DriveLetter D", "format-volume"},
        {"Clear-Disk 1", "clear-disk"},
        {"Stop-Computer", "stop-computer"},
        {"Restart-Computer -Force", "restart-computer"},
        {"# we never call shutdown here\nGet-Date", "shutdown"},
        {"Write-Output 'SHUTDOWN'", "shutdown"},
        // The earliest table entry wins, not the earliest in the script.
        {"shutdown /s; Invoke-Expression $x; Set-ExecutionPolicy Bypass", "set-executionpolicy"},
        {"Stop-Computer; iex $x", "iex "},
        {"Get-ChildItem", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto blocked = find_blocked_operation(c.script);
        if (c.blocked == nullptr) {
            EXPECT_FALSE(blocked) << c.script << " -> " << *blocked;
        } else {
            ASSERT_TRUE(blocked) << c.script;
            EXPECT_EQ(*blocked, c.blocked) << c.script;
        }
    }
}

// --- wrapper and encoding -----------------------------------------------------

TEST(PowerShellWrapper, NineLinesWithTheScriptAsReceivedAtLineFour) {
    const std::string expected =
        "$ErrorActionPreference = 'Stop'\n"
        "try {\n"
        "  $zeltoResult = & {\n"
        "Get-Date\r\n  | Out-String  \n"
        "  }\n"
        "  [PSCustomObject]@{ ok = $true; output = [string]($zeltoResult | Out-String) }\n"
        "} catch {\n"
        "  [PSCustomObject]@{ ok = $false; error = $_.Exception.Message; category = "
        "[string]$_.CategoryInfo.Category; reason = [string]$_.CategoryInfo.Reason }\n"
        "} | ConvertTo-Json -Compress -Depth 6";
    EXPECT_EQ(build_powershell_wrapper("Get-Date\r\n  | Out-String  "), expected);
    const std::string empty = build_powershell_wrapper("");
    EXPECT_NE(empty.find("& {\n\n  }"), std::string::npos);
    EXPECT_NE(empty.back(), '\n');
}

TEST(PowerShellWrapper, EncodesUtf16LittleEndianWithSurrogatePairs) {
    // a, U+1F600 as D83D DE00, U+00E9: 61 00 3D D8 00 DE E9 00
    EXPECT_EQ(encode_powershell_command("a\U0001F600\u00e9"), "YQA92ADe6QA=");
    EXPECT_EQ(encode_powershell_command("$x"), "JAB4AA==");
    EXPECT_EQ(encode_powershell_command(""), "");
    const auto decoded =
        text::base64_decode(encode_powershell_command(build_powershell_wrapper("x")));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->substr(0, 4), std::string("$\0E\0", 4));  // no byte-order mark
}

// --- runner -------------------------------------------------------------------

TEST_F(PowerShellTest, StartsHiddenPowerShellWithTheEncodedCommand) {
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":"hi\r\n"})"
                                            "\r\n"));
    const ActionResult result = run_powershell_once("QUJD");
    EXPECT_EQ(dump(result), R"({"data":{"output":"hi\r\n"},"ok":true})");
    ASSERT_EQ(desktop->children.size(), 1u);
    const sim::SimChild& child = desktop->children[0];
    EXPECT_EQ(child.launch.program, kPowerShellPath);
    EXPECT_EQ(child.launch.arguments, (std::vector<std::string>{"-NoProfile", "-NonInteractive",
                                                                "-EncodedCommand", "QUJD"}));
    EXPECT_EQ(child.launch.creation_flags, 0x08000000u);
    // Polled at 0, 50, 100 and 150 ms; the exit at 120 ms is seen at 150.
    EXPECT_EQ(child.exit_checks, 4);
    EXPECT_EQ(desktop->now_ms(), 150u);
    EXPECT_FALSE(child.terminated_ms);
    EXPECT_EQ(child.collects, 1);
    EXPECT_EQ(desktop->open_children(), 0u);
}

TEST_F(PowerShellTest, WrapperDocumentsBecomeResults) {
    struct Case {
        const char* name;
        std::string out;
        std::string err;
        const char* expected;
    };
    const Case cases[] = {
        {"crlf output kept", R"({"ok":true,"output":"a\r\nb\r\n"})", "",
         R"({"data":{"output":"a\r\nb\r\n"},"ok":true})"},
        {"untrimmed output text",
         "\r\n  "
         R"({"output":"  x  ","ok":true})"
         "\r\n",
         "", R"({"data":{"output":"  x  "},"ok":true})"},
        {"missing output", R"({"ok":true})", "", R"({"data":{"output":""},"ok":true})"},
        {"non-string output", R"({"ok":true,"output":5})", "",
         R"({"data":{"output":""},"ok":true})"},
        {"script error copied",
         R"({"ok":false,"error":"boom","category":"OperationStopped","reason":"RuntimeException","x":1})",
         "  warning line\r\n",
         R"({"category":"OperationStopped","error":"boom","ok":false,"reason":"RuntimeException","retryable":false,"stderr":"warning line"})"},
        {"non-text category copied as is", R"({"ok":false,"error":"e","category":7,"reason":[1]})",
         "", R"({"category":7,"error":"e","ok":false,"reason":[1],"retryable":false,"stderr":""})"},
        {"only ok false", R"({"ok":false})", "",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"ok 1 is not true", R"({"ok":1,"output":"x"})", "",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"ok text is not true", R"({"ok":"true","error":5})", "",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"empty array", "[]", "",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"json string", R"("hello")", "",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"two documents", "{\"ok\":true}\r\n{\"ok\":true}\r\n", "",
         R"({"error":"PowerShell returned non-JSON output: {\"ok\":true}\r\n{\"ok\":true}","ok":false,"retryable":true})"},
        {"leading text", "Loading...\n{\"ok\":true}", " oops \n",
         R"({"error":"PowerShell returned non-JSON output: Loading...\n{\"ok\":true}; stderr: oops","ok":false,"retryable":true})"},
        {"empty output", "", "",
         R"({"error":"PowerShell returned non-JSON output: ","ok":false,"retryable":true})"},
        {"empty output with stderr", " \r\n", "Access denied\r\n",
         R"({"error":"PowerShell returned non-JSON output: ; stderr: Access denied","ok":false,"retryable":true})"},
        // Not UTF-8: code page 437, where 0xFF is a no-break space, trimmed like any other.
        {"oem code page decoded before trimming", "\xff{", "caf\x82",
         "{\"error\":\"PowerShell returned non-JSON output: {; stderr: "
         "caf\xc3\xa9\",\"ok\":false,\"retryable\":true}"},
        {"oem script output", "{\"ok\":true,\"output\":\"caf\x82\\r\\n\"}", "",
         "{\"data\":{\"output\":\"caf\xc3\xa9\\r\\n\"},\"ok\":true}"},
        // The JSON library alone stops reading at a NUL and would report success here.
        {"nul and junk after the document", std::string("{\"ok\":true}\0junk", 16), "",
         "{\"error\":\"PowerShell returned non-JSON output: {\\\"ok\\\":true}\\u0000junk\","
         "\"ok\":false,\"retryable\":true}"},
    };
    for (const Case& c : cases) {
        desktop->child_scripts.push_back(prints(c.out, c.err));
        EXPECT_EQ(dump(run_powershell_once("QQ==")), c.expected) << c.name;
    }
    EXPECT_EQ(desktop->open_children(), 0u);
}

TEST_F(PowerShellTest, LargeDocumentComesBackWhole) {
    const std::string big(600 * 1024, 'x');
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":")" + big + "\"}"));
    const ActionResult result = run_powershell_once("QQ==");
    EXPECT_EQ(result["data"]["output"], big);
}

TEST_F(PowerShellTest, TimeLimitKillsTheTreeAndWaits) {
    desktop->child_scripts.push_back(never_exits());
    EXPECT_EQ(dump(run_powershell_once("QQ==")),
              R"({"error":"PowerShell timed out after 30 seconds","ok":false,"retryable":true})");
    const sim::SimChild& child = desktop->children[0];
    EXPECT_EQ(child.terminated_ms, 30000u);
    EXPECT_EQ(child.waits, 1);
    EXPECT_EQ(child.collects, 0);
    EXPECT_EQ(desktop->open_children(), 0u);

    desktop->child_scripts.push_back(never_exits());
    const std::uint64_t before = desktop->now_ms();
    EXPECT_EQ(run_powershell_once("QQ==", std::chrono::seconds(2))["error"],
              "PowerShell timed out after 2 seconds");
    EXPECT_EQ(desktop->now_ms() - before, 2000u);
}

TEST_F(PowerShellTest, RefusedKillSkipsTheWaitThatCouldNeverEnd) {
    desktop->child_scripts.push_back(never_exits());
    desktop->child_fail.terminate = true;
    EXPECT_EQ(run_powershell_once("QQ==")["error"], "PowerShell timed out after 30 seconds");
    EXPECT_EQ(desktop->children[0].waits, 0);
    EXPECT_EQ(desktop->open_children(), 0u);
}

TEST_F(PowerShellTest, ChildExitingJustBeforeTheLimitIsCollected) {
    sim::SimChildScript script = prints(R"({"ok":true,"output":"late"})");
    script.exits_after_ms = 29990;
    desktop->child_scripts.push_back(script);
    EXPECT_EQ(run_powershell_once("QQ==")["data"]["output"], "late");
}

TEST_F(PowerShellTest, HeldPipesCostOnlyTheGracePeriod) {
    sim::SimChildScript script = prints(R"({"ok":true,"output":"started"})");
    script.pipes_held = true;
    desktop->child_scripts.push_back(script);
    EXPECT_EQ(run_powershell_once("QQ==")["data"]["output"], "started");
    EXPECT_EQ(desktop->now_ms(), 150u + kPowerShellOutputGraceMs);
    EXPECT_FALSE(desktop->children[0].terminated_ms);  // what the script started keeps running
}

TEST_F(PowerShellTest, RunFailuresAreRetryable) {
    desktop->child_fail.start = "The system cannot find the file specified. (2)";
    EXPECT_EQ(
        dump(run_powershell_once("QQ==")),
        R"j({"error":"PowerShell spawn failed: The system cannot find the file specified. (2)","ok":false,"retryable":true})j");
    desktop->child_fail.start.reset();

    desktop->child_scripts.push_back(never_exits());
    desktop->child_fail.check = "Access is denied. (5)";
    EXPECT_EQ(
        dump(run_powershell_once("QQ==")),
        R"j({"error":"PowerShell wait failed: Access is denied. (5)","ok":false,"retryable":true})j");
    EXPECT_TRUE(desktop->children.back().terminated_ms);
    EXPECT_EQ(desktop->children.back().waits, 1);
    desktop->child_fail.check.reset();

    desktop->child_scripts.push_back(prints(R"({"ok":true})"));
    desktop->child_fail.collect = "The pipe has been ended. (109)";
    EXPECT_EQ(
        dump(run_powershell_once("QQ==")),
        R"j({"error":"PowerShell wait_with_output failed: The pipe has been ended. (109)","ok":false,"retryable":true})j");
    EXPECT_EQ(desktop->open_children(), 0u);
}

TEST_F(PowerShellTest, MissingProgramIsASpawnFailure) {
    desktop->path_programs.clear();
    EXPECT_EQ(
        dump(run_powershell_once("QQ==")),
        R"({"error":"PowerShell spawn failed: powershell.exe was not found on the search path","ok":false,"retryable":true})");
    EXPECT_TRUE(desktop->children.empty());
}

TEST_F(PowerShellTest, OutputIsReplacedWhereTheOemCodePageCannotBeRead) {
    desktop->code_page_conversion_fails = true;
    desktop->child_scripts.push_back(prints("\xff{", "\xc3"));
    EXPECT_EQ(dump(run_powershell_once("QQ==")),
              "{\"error\":\"PowerShell returned non-JSON output: \xef\xbf\xbd{; stderr: "
              "\xef\xbf\xbd\",\"ok\":false,\"retryable\":true}");
}

TEST_F(PowerShellTest, CommandLineOverTheLimitIsRefusedBeforeAnythingStarts) {
    // 22 UTF-16 units in 23 bytes: the limit counts units.
    const std::string program = "C:\\Caf\xc3\xa9\\powershell.exe";
    desktop->path_programs[kPowerShellProgram] = program;
    // The quoted program, " -NoProfile -NonInteractive -EncodedCommand " and the NUL.
    const std::string longest(kMaxCommandLineUnits - (2 + 22 + 44 + 1), 'A');
    desktop->child_scripts.push_back(prints(R"({"ok":true})"));
    EXPECT_EQ(dump(run_powershell_once(longest)), R"({"data":{"output":""},"ok":true})");
    ASSERT_EQ(desktop->children.size(), 1u);
    EXPECT_EQ(desktop->children[0].launch.arguments.at(3), longest);

    EXPECT_EQ(
        dump(run_powershell_once(longest + "A")),
        R"({"error":"PowerShell spawn failed: the command line is 32768 UTF-16 units long, over the limit of 32767","ok":false,"retryable":true})");
    EXPECT_EQ(desktop->children.size(), 1u);
}

TEST_F(PowerShellTest, OverlongScriptFailsToStartTwice) {
    const ActionResult result = handle_powershell(Json{{"script", std::string(20000, 'x')}});
    EXPECT_EQ(
        dump(result),
        R"({"error":"PowerShell spawn failed: the command line is 54352 UTF-16 units long, over the limit of 32767","ok":false})");
    EXPECT_TRUE(desktop->children.empty());
    EXPECT_EQ(desktop->now_ms(), kPowerShellRetryPauseMs);  // the pause before the second run
}

// --- the action -----------------------------------------------------------------

TEST_F(PowerShellTest, MissingScriptStartsNothing) {
    for (const Json& params : {Json::object(), Json{{"script", 5}}, Json{{"script", nullptr}},
                               Json{{"Script", "x"}}, Json(nullptr), Json::array({"x"})}) {
        EXPECT_EQ(dump(handle_powershell(params)), R"({"error":"Missing script","ok":false})")
            << params;
    }
    EXPECT_TRUE(desktop->children.empty());
}

TEST_F(PowerShellTest, BlockedScriptStartsNothing) {
    EXPECT_EQ(dump(handle_powershell(Json{{"script", "Get-Content x | iex $y"}})),
              R"({"error":"Blocked PowerShell operation: iex ","ok":false})");
    EXPECT_TRUE(desktop->children.empty());
}

TEST_F(PowerShellTest, SendsTheEncodedWrapperOfTheScriptAsReceived) {
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":""})"));
    const std::string script = "  Get-Date\t# \U0001F600";
    EXPECT_EQ(dump(handle_powershell(Json{{"script", script}})),
              R"({"data":{"output":""},"ok":true})");
    ASSERT_EQ(desktop->children.size(), 1u);
    EXPECT_EQ(desktop->children[0].launch.arguments.at(3),
              encode_powershell_command(build_powershell_wrapper(script)));
}

TEST_F(PowerShellTest, RetryableFailureRunsTwiceAndPassesOnOnlyTheMessage) {
    desktop->child_scripts.push_back(never_exits());
    desktop->child_scripts.push_back(never_exits());
    EXPECT_EQ(dump(handle_powershell(Json{{"script", "Start-Sleep 100"}})),
              R"({"error":"PowerShell timed out after 30 seconds","ok":false})");
    ASSERT_EQ(desktop->children.size(), 2u);
    EXPECT_EQ(desktop->children[0].terminated_ms, 30000u);
    EXPECT_EQ(desktop->children[1].started_ms, 30200u);  // after the 200 ms pause
    EXPECT_EQ(desktop->now_ms(), 60200u);
    // The same encoded command both times.
    EXPECT_EQ(desktop->children[0].launch.arguments, desktop->children[1].launch.arguments);
}

TEST_F(PowerShellTest, LastRetryableMessageWins) {
    desktop->child_scripts.push_back(prints("garbage"));
    desktop->child_scripts.push_back(prints("", "fatal"));
    EXPECT_EQ(dump(handle_powershell(Json{{"script", "x"}})),
              R"({"error":"PowerShell returned non-JSON output: ; stderr: fatal","ok":false})");
}

TEST_F(PowerShellTest, ScriptErrorsAreNotRetried) {
    desktop->child_scripts.push_back(prints(
        R"({"ok":false,"error":"Cannot find path 'C:\\nope'.","category":"ObjectNotFound","reason":"ItemNotFoundException"})",
        "noise"));
    EXPECT_EQ(dump(handle_powershell(Json{{"script", "Get-Item C:\\nope"}})),
              R"({"error":"Cannot find path 'C:\\nope'.","ok":false})");
    EXPECT_EQ(desktop->children.size(), 1u);

    desktop->child_scripts.push_back(prints(R"({"ok":false,"error":null})"));
    EXPECT_EQ(dump(handle_powershell(Json{{"script", "x"}})),
              R"({"error":"PowerShell execution failed","ok":false})");
    EXPECT_EQ(desktop->children.size(), 2u);
}

TEST_F(PowerShellTest, SecondRunSuccessIsReturnedUnchanged) {
    desktop->child_scripts.push_back(prints("not json"));
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":"second\r\n"})"));
    EXPECT_EQ(dump(handle_powershell(Json{{"script", ""}})),
              R"({"data":{"output":"second\r\n"},"ok":true})");
    ASSERT_EQ(desktop->children.size(), 2u);
    EXPECT_EQ(desktop->children[1].started_ms, 150u + kPowerShellRetryPauseMs);
}

TEST_F(PowerShellTest, RunApplescriptIsServedByThePowerShellHandler) {
    EXPECT_EQ(dump(cua_actions::dispatch("run_applescript", Json::object())),
              R"({"error":"Missing script","ok":false})");
    EXPECT_EQ(dump(cua_actions::dispatch("run_applescript", Json{{"script", "Stop-Computer"}})),
              R"({"error":"Blocked PowerShell operation: stop-computer","ok":false})");
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":"x\r\n"})"));
    desktop->child_scripts.push_back(prints(R"({"ok":true,"output":"x\r\n"})"));
    const ActionResult applescript =
        cua_actions::dispatch("run_applescript", Json{{"script", "tell app"}});
    const ActionResult powershell =
        cua_actions::dispatch("run_powershell", Json{{"script", "tell app"}});
    EXPECT_EQ(dump(applescript), R"({"data":{"output":"x\r\n"},"ok":true})");
    EXPECT_EQ(dump(applescript), dump(powershell));
    ASSERT_EQ(desktop->children.size(), 2u);
    EXPECT_EQ(desktop->children[0].launch.arguments, desktop->children[1].launch.arguments);
}

}  // namespace
}  // namespace cua_actions::windows
