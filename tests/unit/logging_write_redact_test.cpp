#include "logging/write_redact.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "logging/config_time.h"
#include "support/log_sandbox.h"
#include "text/json_output.h"
#include "text/text.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace logging {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

// --- truncation and redaction --------------------------------------------------------

TEST(LogTruncate, TrimsThenCutsAtTwoThousandCharacters) {
    const std::string four_byte = "\U0001F600";
    const std::string marker = "\u2026 [truncated]";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"\t x \u3000", "x"},
        {repeat("a", 2000), repeat("a", 2000)},
        {repeat(four_byte, 2000), repeat(four_byte, 2000)},
        {repeat("a", 2001), repeat("a", 2000) + marker},
        {repeat(four_byte, 2001), repeat(four_byte, 2000) + marker},
        {repeat(" ", 50) + repeat("b", 1990) + repeat(" ", 50), repeat("b", 1990)},
        {repeat("c", 5000), repeat("c", 2000) + marker},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(truncate_string(c.in), c.out) << c.in.size() << " bytes in";
    }
    const std::string cut = truncate_string(repeat(four_byte, 2001));
    EXPECT_EQ(cut.size(), 2000u * 4 + 15);  // the marker adds 15 bytes
}

TEST(LogRedact, SecretLookingKeysAreRedactedWhateverTheirValue) {
    const char* const redacted[] = {
        "password",
        "api_key",
        "apiKey",
        "API KEY",
        "X-API-Key",
        "Authorization",
        "set-cookie",
        "client_secret",
        "db.password",
        "refresh_token",
        "accessTokenExpiry",
        "idToken",
        "csrf_token",
        "token",
        "secrets",
        "Cookie",
        "my-Access_Token-2",
        // Common secret names beyond the token and password family.
        "passwd",
        "db_passwd",
        "pwd",
        "PWD",
        "private_key",
        "privateKeyPem",
        "access_key",
        "AWS_ACCESS_KEY_ID",
        "auth",
        "Auth",
        "credentials",
        "gitCredential",
        "session_id",
        "x-session-id",
    };
    // "pwd" and "auth" redact only as the whole key: as parts they sit in ordinary names.
    const char* const kept[] = {"tokens", "tokenCount", "p\u00E4ssword", "note",   "config",
                                "pass",   "key",        "tok en s",      "author", "authority",
                                "pwdLen", "cwd",        "session",       "private"};
    const json values[] = {"hunter2", 42, true, nullptr, json::array({1, 2}), json{{"inner", "x"}}};
    for (const char* key : redacted) {
        for (const json& value : values) {
            const json out = redact_value(json{{key, value}});
            EXPECT_EQ(out, (json{{key, "[REDACTED]"}})) << key << " = " << value;
        }
    }
    for (const char* key : kept) {
        const json out = redact_value(json{{key, 42}});
        EXPECT_EQ(out, (json{{key, 42}})) << key;
    }
}

TEST(LogRedact, WalksNestedValuesAndCutsEveryString) {
    const json in = {
        {"note", "  password reset requested  "},
        {"config", {{"user", "ann"}, {"password", "x"}, {"depth", {{"apiKey", {1, 2}}}}}},
        {"list", json::array({json{{"token", "t"}, {"id", 1}}, " s ", 3.5, nullptr, false})},
        {"long", repeat("z", 2500)},
        {"secrets", {{"a", 1}}},
    };
    const json expected = {
        {"note", "password reset requested"},
        {"config",
         {{"user", "ann"}, {"password", "[REDACTED]"}, {"depth", {{"apiKey", "[REDACTED]"}}}}},
        {"list", json::array({json{{"token", "[REDACTED]"}, {"id", 1}}, "s", 3.5, nullptr, false})},
        {"long", repeat("z", 2000) + "\u2026 [truncated]"},
        {"secrets", "[REDACTED]"},
    };
    EXPECT_EQ(redact_value(in), expected);
    // Scalars pass through; a bare string is trimmed and cut; keys are never cut.
    EXPECT_EQ(redact_value(json(nullptr)), json(nullptr));
    EXPECT_EQ(redact_value(json(-7)), json(-7));
    EXPECT_EQ(redact_value(json(" x ")), json("x"));
    const std::string long_key = repeat("k", 2500);
    EXPECT_EQ(redact_value(json{{long_key, 1}}), (json{{long_key, 1}}));
}

TEST(LogRedact, MaybeInsertSkipsAbsentAndBlankText) {
    json object = json::object();
    maybe_insert_string(object, "a", std::nullopt);
    maybe_insert_string(object, "b", std::string("   "));
    maybe_insert_string(object, "c", std::string(""));
    EXPECT_EQ(object, json::object());
    maybe_insert_string(object, "d", std::string(" v "));
    maybe_insert_string(object, "e", std::string("first"));
    maybe_insert_string(object, "e", std::string("second"));
    EXPECT_EQ(object, (json{{"d", "v"}, {"e", "second"}}));
}

// --- file choice and retention ------------------------------------------------------------

class LogFilesTest : public ::testing::Test {
  protected:
    LogFilesTest() {
        using namespace std::chrono;
        sandbox.system.now = sys_days{2024y / March / 5} + 7h + 9min + 30s;
        sandbox.system.fixed_offset = true;
        sandbox.system.local_minus_utc = 8 * 3600;
        fs::create_directories(dir());
    }
    fs::path dir() const { return sandbox.log_dir(); }
    fs::path make(const std::string& name, std::size_t size = 0, int age_minutes = 0) {
        const fs::path path = dir() / name;
        logtest::write_file(path, std::string(size, 'x'));
        fs::last_write_time(path,
                            fs::file_time_type::clock::now() - std::chrono::minutes(age_minutes));
        return path;
    }
    std::string selected(std::uint64_t pending) {
        const LogFileChoice choice = select_log_file(dir(), pending);
        EXPECT_TRUE(choice.path.has_value()) << choice.error;
        return choice.path ? choice.path->filename().string() : "";
    }

    logtest::ScopedLogSandbox sandbox;
};

TEST_F(LogFilesTest, EmptyDirectoryStartsAZoneLabelledFile) {
    EXPECT_EQ(selected(80), "UTC+0800_2024-03-05-07-09Z.log");
    EXPECT_TRUE(sandbox.log_file_names().empty());  // chosen, not created
    fs::remove(dir());
    EXPECT_EQ(selected(80), "UTC+0800_2024-03-05-07-09Z.log");  // missing directory: no files
}

TEST_F(LogFilesTest, CurrentFileIsUsedUpToExactlyFiveMebibytes) {
    make("UTC+0800_2024-03-05-07-09Z.log", 5'242'800);
    EXPECT_EQ(selected(80), "UTC+0800_2024-03-05-07-09Z.log");
    EXPECT_EQ(selected(81), "UTC+0800_2024-03-05-07-09Z-1.log");
    EXPECT_EQ(selected(std::numeric_limits<std::uint64_t>::max()),
              "UTC+0800_2024-03-05-07-09Z-1.log");  // saturates, no wrap-around
}

TEST_F(LogFilesTest, NextSequenceFollowsTheLargestOfTheSameBase) {
    const std::string base = "UTC+0800_2024-03-05-07-09Z";
    make(base + ".log", 10);
    make(base + "-1.log", 10);
    make(base + "-4.log", 5'242'880);
    EXPECT_EQ(selected(1), base + "-5.log");
    make(base + "-4.log", 10);
    EXPECT_EQ(selected(1), base + "-4.log");
}

TEST_F(LogFilesTest, SequenceStaysAtTheLargestValue) {
    const std::string base = "UTC+0800_2024-03-05-07-09Z";
    make(base + "-18446744073709551615.log", 5'242'880);
    EXPECT_EQ(selected(1), base + "-18446744073709551615.log");
}

TEST_F(LogFilesTest, GreatestNameIsCurrentNotTheNewest) {
    make("2024-03-05-07-09.log", 10, 0);
    make("UTC-0500_2024-01-01-00-00Z.log", 10, 500);
    EXPECT_EQ(selected(1), "UTC-0500_2024-01-01-00-00Z.log");

    make("UTC+0100_2024-06-01-10-00Z.log", 10);
    make("UTC-0100_2024-06-01-09-00Z.log", 10);
    EXPECT_EQ(selected(1), "UTC-0500_2024-01-01-00-00Z.log");  // "-05" sorts after "-01"
    fs::remove(dir() / "UTC-0500_2024-01-01-00-00Z.log");
    EXPECT_EQ(selected(1), "UTC-0100_2024-06-01-09-00Z.log");  // "-" sorts after "+"
}

TEST_F(LogFilesTest, OtherNamesAndDirectoriesAreNeverCandidates) {
    for (const char* name :
         {"UTC+0800_2024-03-05-07-09Z-0.log", "2024-03-05-07-09-x.log", "2024-03-05-07-09.LOG",
          "2024-03-05-07-09-.log", ".log", "notes.txt"}) {
        make(name, 10);
    }
    fs::create_directories(dir() / "UTC+0900_2030-01-01-00-00Z.log");
    EXPECT_EQ(selected(1), "UTC+0800_2024-03-05-07-09Z.log");
}

TEST_F(LogFilesTest, UnreadableSizeStartsANewFile) {
    const fs::path current = make("UTC+0800_2024-03-05-07-09Z.log", 10);
    sandbox.files.unreadable_sizes.insert(current);
    EXPECT_EQ(selected(1), "UTC+0800_2024-03-05-07-09Z-1.log");
}

TEST_F(LogFilesTest, ListingFailureIsReportedByTheChoice) {
    sandbox.files.fail_list = true;
    const LogFileChoice choice = select_log_file(dir(), 1);
    EXPECT_FALSE(choice.path.has_value());
    EXPECT_FALSE(choice.error.empty());
}

TEST_F(LogFilesTest, PruneKeepsTheThreeMostRecentAndNeverTheTarget) {
    const fs::path a = make("2024-01-01-00-01.log", 1, 50);
    const fs::path b = make("2024-01-01-00-02.log", 1, 40);
    const fs::path c = make("2024-01-01-00-03.log", 1, 30);
    const fs::path d = make("2024-01-01-00-04.log", 1, 20);
    const fs::path target = make("2024-01-01-00-05.log", 1, 10);
    make("keep-me.txt", 1, 100);
    prune_log_files(dir(), target);
    EXPECT_EQ(sandbox.files.removed, (std::vector<fs::path>{a, b}));
    EXPECT_EQ(sandbox.log_file_names(),
              (std::vector<std::string>{"2024-01-01-00-03.log", "2024-01-01-00-04.log",
                                        "2024-01-01-00-05.log", "keep-me.txt"}));
    (void)c;
    (void)d;
}

TEST_F(LogFilesTest, PruneSkipsAnUndeletableOldestFile) {
    const fs::path a = make("2024-01-01-00-01.log", 1, 50);
    const fs::path b = make("2024-01-01-00-02.log", 1, 40);
    const fs::path c = make("2024-01-01-00-03.log", 1, 30);
    make("2024-01-01-00-04.log", 1, 20);
    const fs::path target = make("2024-01-01-00-05.log", 1, 10);
    sandbox.files.undeletable.insert(a);
    prune_log_files(dir(), target);
    EXPECT_EQ(sandbox.files.removed, (std::vector<fs::path>{b, c}));
    EXPECT_EQ(sandbox.log_file_names(),
              (std::vector<std::string>{"2024-01-01-00-01.log", "2024-01-01-00-04.log",
                                        "2024-01-01-00-05.log"}));
}

TEST_F(LogFilesTest, PruneSkipsTheTargetEvenWhenItIsOldest) {
    const fs::path target = make("2024-01-01-00-01.log", 1, 50);
    const fs::path b = make("2024-01-01-00-02.log", 1, 40);
    make("2024-01-01-00-03.log", 1, 30);
    make("2024-01-01-00-04.log", 1, 20);
    prune_log_files(dir(), target);
    EXPECT_EQ(sandbox.files.removed, (std::vector<fs::path>{b}));
}

TEST_F(LogFilesTest, PruneLeavesThreeFilesAndANewTargetAlone) {
    make("2024-01-01-00-01.log", 1, 50);
    make("2024-01-01-00-02.log", 1, 40);
    make("2024-01-01-00-03.log", 1, 30);
    prune_log_files(dir(), dir() / "UTC+0800_2024-03-05-07-09Z.log");
    EXPECT_TRUE(sandbox.files.removed.empty());
}

TEST_F(LogFilesTest, PruneIgnoresDirectoriesAndDoesNothingWhenListingFails) {
    fs::create_directories(dir() / "UTC+0800_2024-03-05-07-09Z.log");
    for (int i = 1; i <= 5; ++i) {
        make(text::concat({"2024-01-01-00-0", std::to_string(i), ".log"}), 1, 60 - i);
    }
    sandbox.files.fail_list = true;
    prune_log_files(dir(), dir() / "x.log");
    EXPECT_TRUE(sandbox.files.removed.empty());
    sandbox.files.fail_list = false;
    prune_log_files(dir(), dir() / "x.log");
    EXPECT_EQ(sandbox.files.removed.size(), 2u);
    EXPECT_TRUE(fs::is_directory(dir() / "UTC+0800_2024-03-05-07-09Z.log"));
}

// --- the writer ----------------------------------------------------------------------

class LogWriterTest : public ::testing::Test {
  protected:
    LogWriterTest() {
        using namespace std::chrono;
        sandbox.system.now = sys_days{2024y / March / 5} + 7h + 9min + 2s + 500ms;
        sandbox.system.fixed_offset = true;
        sandbox.system.local_minus_utc = 8 * 3600;
    }
    static LogInput input(std::optional<std::string> level = std::nullopt) {
        LogInput in;
        in.source = "tauri";
        in.event = "test.event";
        in.level = std::move(level);
        return in;
    }
    std::vector<json> records() {
        std::vector<json> parsed;
        for (const std::string& line : sandbox.all_lines()) {
            parsed.push_back(json::parse(line));
        }
        return parsed;
    }

    logtest::ScopedLogSandbox sandbox;
};

TEST_F(LogWriterTest, WritesOneCompactLineWithAllFieldsInKeyOrder) {
    LogInput in = input("warn");
    in.component = "cua-actions-windows";
    in.message = "m";
    in.category = "c";
    in.outcome = "o";
    in.traceId = "t";
    in.sessionId = "s";
    in.requestId = "r";
    in.mode = "cua";
    in.workspace = "w";
    in.actor = "a";
    in.target = "click";
    in.data = json{{"password", "hunter2"}, {"x", 1}};
    EXPECT_EQ(write_log(std::move(in)), std::nullopt);

    EXPECT_EQ(sandbox.log_file_names(), std::vector<std::string>{"UTC+0800_2024-03-05-07-09Z.log"});
    const std::string content =
        logtest::read_file(sandbox.log_dir() / "UTC+0800_2024-03-05-07-09Z.log");
    EXPECT_EQ(content,
              R"({"actor":"a","category":"c","component":"cua-actions-windows",)"
              R"("data":{"password":"[REDACTED]","x":1},"event":"test.event","level":"warn",)"
              R"("message":"m","mode":"cua","outcome":"o","requestId":"r","sessionId":"s",)"
              R"("source":"tauri","target":"click","timeZone":"UTC+0800","traceId":"t",)"
              R"("ts":"2024-03-05T07:09:02.5Z","tsLocal":"2024-03-05T15:09:02.5+08:00",)"
              R"("workspace":"w"})"
              "\n");
}

TEST_F(LogWriterTest, MinimalRecordDefaultsLevelAndComponent) {
    LogInput blank = input();
    blank.source = "   ";
    blank.message = " \t ";
    blank.data = json(nullptr);
    EXPECT_EQ(write_log(std::move(blank)), std::nullopt);
    EXPECT_EQ(write_log(input("AUDIT")), std::nullopt);
    EXPECT_EQ(write_log(input("error")), std::nullopt);
    const auto written = records();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0], (json{{"component", "app"},
                                {"event", "test.event"},
                                {"level", "info"},
                                {"source", ""},
                                {"timeZone", "UTC+0800"},
                                {"ts", "2024-03-05T07:09:02.5Z"},
                                {"tsLocal", "2024-03-05T15:09:02.5+08:00"}}));
    EXPECT_EQ(written[1]["level"], "audit");
    EXPECT_EQ(written[1]["component"], "audit");
    EXPECT_EQ(written[2]["component"], "app");
}

TEST_F(LogWriterTest, LongMessageIsCutAndOffsetZeroWritesZ) {
    sandbox.system.local_minus_utc = 0;
    LogInput in = input();
    in.message = "  " + repeat("m", 5000);
    EXPECT_EQ(write_log(std::move(in)), std::nullopt);
    const auto written = records();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0]["message"], repeat("m", 2000) + "\u2026 [truncated]");
    EXPECT_EQ(written[0]["tsLocal"], written[0]["ts"]);
    EXPECT_EQ(written[0]["timeZone"], "UTC+0000");
}

TEST_F(LogWriterTest, OffsetWithSecondsFallsBackInTheLocalTimestampOnly) {
    sandbox.system.local_minus_utc = 19 * 60 + 32;
    EXPECT_EQ(write_log(input()), std::nullopt);
    EXPECT_EQ(sandbox.log_file_names(), std::vector<std::string>{"UTC+0019_2024-03-05-07-09Z.log"});
    const auto written = records();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0]["ts"], "2024-03-05T07:09:02.5Z");
    EXPECT_EQ(written[0]["tsLocal"], "1970-01-01T00:00:00Z");
    EXPECT_EQ(written[0]["timeZone"], "UTC+0019");
}

TEST_F(LogWriterTest, DisabledLevelTouchesNothing) {
    sandbox.files.fail_create = true;  // any file-system access would show as an error
    sandbox.system.environment.erase("HOME");
    EXPECT_EQ(write_log(input("debug")), std::nullopt);
    EXPECT_FALSE(fs::exists(sandbox.home() / ".zelto-enterprise"));
}

TEST_F(LogWriterTest, ConfiguredLevelsDecideWhatIsWritten) {
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "debug,error";
    EXPECT_EQ(write_log(input("debug")), std::nullopt);
    EXPECT_EQ(write_log(input("info")), std::nullopt);
    EXPECT_EQ(write_log(input("Warning")), std::nullopt);
    EXPECT_EQ(write_log(input("ERROR")), std::nullopt);
    const auto written = records();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0]["level"], "debug");  // in call order
    EXPECT_EQ(written[1]["level"], "error");
}

TEST_F(LogWriterTest, FailuresComeBackAsTextAndWriteNothing) {
    sandbox.system.environment.clear();
    EXPECT_EQ(write_log(input()), "failed to resolve log directory");

    sandbox.system.environment["USERPROFILE"] = sandbox.home().string();
    sandbox.files.fail_create = true;
    const auto create_error = write_log(input());
    ASSERT_TRUE(create_error.has_value());
    EXPECT_FALSE(create_error->empty());
    sandbox.files.fail_create = false;

    sandbox.files.fail_list = true;
    EXPECT_TRUE(write_log(input()).has_value());
    sandbox.files.fail_list = false;
    EXPECT_TRUE(sandbox.all_lines().empty());

    EXPECT_EQ(write_log(input()), std::nullopt);  // USERPROFILE serves as home
    EXPECT_EQ(sandbox.all_lines().size(), 1u);
}

TEST_F(LogWriterTest, AFileWhereTheDirectoryShouldBeIsAnError) {
    logtest::write_file(sandbox.home() / ".zelto-enterprise", "in the way");
    const auto error = write_log(input());
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

TEST_F(LogWriterTest, ExceptionInsideTheLockPoisonsLaterWrites) {
    sandbox.files.throw_on_append = true;
    EXPECT_EQ(write_log(input()), "injected append failure");
    sandbox.files.throw_on_append = false;
    EXPECT_EQ(write_log(input()), "log write lock poisoned");
    EXPECT_TRUE(sandbox.all_lines().empty());
    reset_log_write_lock_for_testing();
    EXPECT_EQ(write_log(input()), std::nullopt);
}

TEST_F(LogWriterTest, SecretsNeverReachTheDisk) {
    LogInput in = input("warn");
    in.data = json{{"params",
                    {{"password", "pw-VALUE-1"},
                     {"X-API-Key", "key-VALUE-2"},
                     {"nested", {{"refresh_token", "rt-VALUE-3"}, {"csrf_token", "ct-VALUE-4"}}}}}};
    EXPECT_EQ(write_log(std::move(in)), std::nullopt);
    const std::string content = logtest::read_file(sandbox.log_dir() / sandbox.log_file_names()[0]);
    for (const char* secret : {"pw-VALUE-1", "key-VALUE-2", "rt-VALUE-3", "ct-VALUE-4"}) {
        EXPECT_EQ(content.find(secret), std::string::npos) << secret;
    }
    EXPECT_NE(content.find("\"X-API-Key\":\"[REDACTED]\""), std::string::npos);
}

TEST_F(LogWriterTest, RecordsAppendToOneFileAcrossMinutesAndRotateWhenFull) {
    using namespace std::chrono;
    EXPECT_EQ(write_log(input()), std::nullopt);
    sandbox.system.now = sys_days{2024y / March / 5} + 9h;  // another minute
    EXPECT_EQ(write_log(input()), std::nullopt);
    ASSERT_EQ(sandbox.log_file_names(), std::vector<std::string>{"UTC+0800_2024-03-05-07-09Z.log"});

    const fs::path first = sandbox.log_dir() / "UTC+0800_2024-03-05-07-09Z.log";
    const std::string before = logtest::read_file(first);
    logtest::write_file(first, before + std::string(kMaxLogFileBytes - before.size() - 10, '\n'));
    EXPECT_EQ(write_log(input()), std::nullopt);
    EXPECT_EQ(sandbox.log_file_names(),
              (std::vector<std::string>{"UTC+0800_2024-03-05-07-09Z.log",
                                        "UTC+0800_2024-03-05-09-00Z.log"}));
    EXPECT_EQ(fs::file_size(first), kMaxLogFileBytes - 10);
}

std::size_t count_complete_json_lines(const std::vector<std::string>& lines) {
    std::size_t complete = 0;
    for (const std::string& line : lines) {
        const json parsed = json::parse(line, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("data")) {
            ++complete;
        }
    }
    return complete;
}

TEST_F(LogWriterTest, ConcurrentThreadsWriteWholeLines) {
    sandbox.system.now.reset();  // real clocks
    constexpr int kThreads = 8;
    constexpr int kRecords = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i) {
                LogInput in = input("warn");
                in.data = json{{"thread", t}, {"i", i}, {"pad", repeat("p", 200)}};
                (void)write_log(std::move(in));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const auto lines = sandbox.all_lines();
    EXPECT_EQ(lines.size(), std::size_t{kThreads * kRecords});
    EXPECT_EQ(count_complete_json_lines(lines), std::size_t{kThreads * kRecords});
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        const json data = json::parse(line)["data"];
        seen.emplace(data["thread"].get<int>(), data["i"].get<int>());
    }
    EXPECT_EQ(seen.size(), std::size_t{kThreads * kRecords});
}

#ifndef _WIN32
TEST_F(LogWriterTest, ConcurrentProcessesWriteWholeLines) {
    sandbox.system.now.reset();
    constexpr int kProcesses = 4;
    constexpr int kRecords = 200;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kRecords; ++i) {
                LogInput in = input("warn");
                in.data = json{{"process", p}, {"i", i}, {"pad", repeat("q", 300)}};
                (void)write_log(std::move(in));
            }
            ::_exit(0);  // no test-framework teardown in the child
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto lines = sandbox.all_lines();
    EXPECT_EQ(lines.size(), std::size_t{kProcesses * kRecords});
    EXPECT_EQ(count_complete_json_lines(lines), std::size_t{kProcesses * kRecords});
}
#endif

TEST(LogSandbox, UnitTestsNeverLogIntoTheRealHome) {
    const auto home = home_directory();
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(*home, logtest::default_test_home());
    EXPECT_NE(home->string().find("zelto-log-test-"), std::string::npos);
}

}  // namespace
}  // namespace logging
