#include "logging/config_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "support/log_sandbox.h"

namespace logging {
namespace {

using Levels = std::vector<std::string>;
const Levels kDefaults{"audit", "error", "warn", "info"};

// --- levels ------------------------------------------------------------------

TEST(LogLevels, NormalizeLevelMapsKnownNamesAndDefaultsToInfo) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"audit", "audit"},  {" AUDIT ", "audit"}, {"error", "error"},
        {"Error", "error"},  {"warn", "warn"},     {" Warning ", "warn"},
        {"WARNING", "warn"}, {"debug", "debug"},   {"\u3000Debug\t", "debug"},
        {"INFO", "info"},    {"info", "info"},     {"critical", "info"},
        {"trace", "info"},   {"fatal", "info"},    {"", "info"},
        {"war n", "info"},   {"debugs", "info"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_level(c.in), c.out) << '"' << c.in << '"';
    }
}

TEST(LogLevels, CsvAcceptsKnownNamesInCanonicalOrder) {
    const struct {
        const char* in;
        Levels out;
    } cases[] = {
        {" DEBUG , Info,info ,bogus", {"info", "debug"}},
        {"debug, audit", {"audit", "debug"}},
        {"warning", kDefaults},  // "warning" is only a level alias, not a list name
        {"", kDefaults},
        {",,,", kDefaults},
        {"error;warn", kDefaults},  // only the comma separates
        {"error warn", kDefaults},
        {"debug", {"debug"}},
        {"info,warn,error,audit,debug", {"audit", "error", "warn", "info", "debug"}},
        {"\u00A0error\u00A0,", {"error"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_log_levels_csv(c.in), c.out) << '"' << c.in << '"';
    }
}

// --- data directory ----------------------------------------------------------

TEST(LogDataDir, NameFollowsEditionAndChannel) {
    const struct {
        const char* edition;
        const char* channel;
        const char* name;
    } cases[] = {
        {"enterprise", "prod", ".zelto-enterprise"},
        {" Enterprise ", "PROD", ".zelto-enterprise"},
        {"Business", "prod", ".zelto-enterprise"},
        {"biz", "", ".zelto-enterprise"},
        {"biz_pro", "prod", ".zelto"},  // becomes "biz-pro"
        {"community", "prod", ".zelto"},
        {"", "", ".zelto"},
        {"enterprise", "Production", ".zelto-enterprise"},
        {"enterprise", "staging", ".zelto-enterprise-test"},
        {"personal", "beta", ".zelto-test"},
        {"enterprise", " ", ".zelto-enterprise"},  // blank channel is production
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app_data_dir_name_for(c.edition, c.channel), c.name)
            << c.edition << " / " << c.channel;
    }
}

TEST(LogDataDir, ThisBuildUsesTheEnterpriseProductionName) {
    EXPECT_EQ(app_data_dir_name(), ".zelto-enterprise");
}

TEST(LogDataDir, HomeComesFromHomeThenUserProfile) {
    logtest::ScopedLogSandbox sandbox;
    auto& env = sandbox.system.environment;
    env = {{"HOME", "/h/one"}, {"USERPROFILE", "/h/two"}};
    EXPECT_EQ(home_directory(), std::filesystem::path("/h/one"));
    env.erase("HOME");
    EXPECT_EQ(home_directory(), std::filesystem::path("/h/two"));
    EXPECT_EQ(data_directory(), std::filesystem::path("/h/two") / ".zelto-enterprise");
    env["HOME"] = "";  // set but empty is still used, unchanged
    EXPECT_EQ(home_directory(), std::filesystem::path(""));
    env.clear();
    EXPECT_EQ(home_directory(), std::nullopt);
    EXPECT_EQ(data_directory(), std::nullopt);
}

TEST(LogDataDir, NonAsciiHomeSurvivesAsUtf8) {
    logtest::ScopedLogSandbox sandbox;
    sandbox.system.environment["HOME"] = "/home/J\u00F6rg \u65E5\u672C";
    const auto dir = data_directory();
    ASSERT_TRUE(dir.has_value());
    const std::u8string utf8 = dir->u8string();
    // The join uses the platform's own separator ('\\' on Windows).
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    EXPECT_EQ(std::string(utf8.begin(), utf8.end()),
              std::string("/home/J\u00F6rg \u65E5\u672C") + separator + ".zelto-enterprise");
}

// --- runtime configuration ------------------------------------------------------

class LogConfigTest : public ::testing::Test {
  protected:
    void write_config(const std::string& content) {
        const auto dir = sandbox.home() / ".zelto-enterprise";
        std::filesystem::create_directories(dir);
        logtest::write_file(dir / "config.json", content);
    }
    Levels levels() { return load_runtime_log_config().levels; }

    logtest::ScopedLogSandbox sandbox;
};

TEST_F(LogConfigTest, EnvironmentChoosesLevelsWhenNoFile) {
    auto& env = sandbox.system.environment;
    EXPECT_EQ(levels(), kDefaults);

    env["ZELTO_LOG_LEVELS"] = " DEBUG , Info,info ,bogus";
    EXPECT_EQ(levels(), (Levels{"info", "debug"}));

    env["ZELTO_LOG_LEVELS"] = "warning";
    EXPECT_EQ(levels(), kDefaults);

    // Set but empty still wins over ZELTO_LOG_LEVEL.
    env["ZELTO_LOG_LEVELS"] = "";
    env["ZELTO_LOG_LEVEL"] = "debug";
    EXPECT_EQ(levels(), kDefaults);

    env.erase("ZELTO_LOG_LEVELS");
    EXPECT_EQ(levels(), (Levels{"debug"}));
}

TEST_F(LogConfigTest, UsableFileWinsOverEnvironment) {
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "error";
    const struct {
        const char* file;
        Levels out;
    } cases[] = {
        {R"({"logLevels":["debug"]})", {"debug"}},
        {R"({"logLevels":[]})", kDefaults},
        {R"({"logLevels":["ERROR",3,null," audit "]})", {"audit", "error"}},
        {R"({"logLevels":["bogus", {"a":1}]})", kDefaults},
        {R"({"logLevels":"audit;error"})", kDefaults},
        {R"({"logLevels":"debug, warn"})", {"warn", "debug"}},
        {R"({"logLevels":""})", kDefaults},
        // Unusable: the environment's levels stand.
        {R"({"logLevels":3})", {"error"}},
        {R"({"logLevels":null})", {"error"}},
        {R"({"logLevels":{"debug":true}})", {"error"}},
        {R"({"other":["debug"]})", {"error"}},
        {R"(["debug"])", {"error"}},
        {R"("debug")", {"error"}},
        {"not json", {"error"}},
        {R"({"logLevels":["debug"])", {"error"}},                   // truncated
        {"{\"logLevels\":[\"debug\"],\"x\":\"\xFF\"}", {"error"}},  // not UTF-8
        {"", {"error"}},
    };
    for (const auto& c : cases) {
        write_config(c.file);
        EXPECT_EQ(levels(), c.out) << c.file;
    }
}

TEST_F(LogConfigTest, FileIsFoundUnderUserProfileWhenHomeIsUnset) {
    auto& env = sandbox.system.environment;
    write_config(R"({"logLevels":"debug"})");
    env["USERPROFILE"] = env["HOME"];
    env["HOME"] = (sandbox.home() / "elsewhere").string();
    EXPECT_EQ(levels(), kDefaults);  // HOME wins, and there is no file there
    env.erase("HOME");
    EXPECT_EQ(levels(), (Levels{"debug"}));
}

TEST_F(LogConfigTest, NoHomeMeansEnvironmentOnly) {
    sandbox.system.environment = {{"ZELTO_LOG_LEVEL", "audit"}};
    EXPECT_EQ(levels(), (Levels{"audit"}));
}

TEST_F(LogConfigTest, CacheLoadsOnceForTheProcess) {
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "debug";
    EXPECT_TRUE(log_level_enabled("debug"));
    EXPECT_FALSE(log_level_enabled("info"));
    // Later changes are not seen by this process.
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "info";
    write_config(R"({"logLevels":["info"]})");
    EXPECT_TRUE(log_level_enabled("debug"));
    EXPECT_FALSE(log_level_enabled("info"));
}

TEST_F(LogConfigTest, BrokenCacheLockAnswersFromAFreshLoadAndLeavesTheCache) {
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "debug";
    EXPECT_TRUE(log_level_enabled("debug"));
    sandbox.system.environment["ZELTO_LOG_LEVELS"] = "info";
    mark_log_config_lock_broken_for_testing();
    EXPECT_FALSE(log_level_enabled("debug"));
    EXPECT_TRUE(log_level_enabled("info"));
}

// --- timestamps ------------------------------------------------------------------

Instant at(int year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
           std::uint32_t nanos = 0) {
    return Instant{year, month, day, hour, minute, second, nanos, UtcOffset{}};
}

TEST(LogTimestamp, FormatsRfc3339WithTrimmedFraction) {
    const struct {
        Instant instant;
        const char* text;
    } cases[] = {
        {at(2024, 3, 5, 7, 9, 2, 500'000'000), "2024-03-05T07:09:02.5Z"},
        {at(2024, 3, 5, 7, 9, 2), "2024-03-05T07:09:02Z"},
        {at(2024, 3, 5, 7, 9, 2, 123'400'000), "2024-03-05T07:09:02.1234Z"},
        {at(2024, 3, 5, 7, 9, 2, 1), "2024-03-05T07:09:02.000000001Z"},
        {at(2024, 3, 5, 7, 9, 2, 999'999'999), "2024-03-05T07:09:02.999999999Z"},
        {at(0, 1, 1, 0, 0, 0), "0000-01-01T00:00:00Z"},
        {at(9999, 12, 31, 23, 59, 59), "9999-12-31T23:59:59Z"},
        {at(10000, 1, 1, 0, 0, 0), "1970-01-01T00:00:00Z"},
        {at(-1, 12, 31, 0, 0, 0), "1970-01-01T00:00:00Z"},
        {at(2023, 2, 29, 0, 0, 0), "1970-01-01T00:00:00Z"},  // not a date
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_timestamp(c.instant), c.text);
    }
}

TEST(LogTimestamp, ShiftsToOffsetsAndRefusesWhatRfc3339CannotSay) {
    const Instant utc = at(2024, 3, 5, 7, 9, 2, 500'000'000);
    const struct {
        UtcOffset offset;
        const char* text;
    } cases[] = {
        {{8, 0, 0}, "2024-03-05T15:09:02.5+08:00"},   {{-3, -30, 0}, "2024-03-05T03:39:02.5-03:30"},
        {{0, -30, 0}, "2024-03-05T06:39:02.5-00:30"}, {{5, 45, 0}, "2024-03-05T12:54:02.5+05:45"},
        {{-10, 0, 0}, "2024-03-04T21:09:02.5-10:00"},  // previous day
        {{23, 59, 0}, "2024-03-06T07:08:02.5+23:59"}, {{0, 0, 0}, "2024-03-05T07:09:02.5Z"},
        {{0, 19, 32}, "1970-01-01T00:00:00Z"},  // seconds in the offset
        {{24, 30, 0}, "1970-01-01T00:00:00Z"},  // 24 hours or more
        {{-25, -59, -59}, "1970-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        const auto shifted = shift_to_offset(utc, c.offset);
        ASSERT_TRUE(shifted.has_value());
        EXPECT_EQ(shifted->offset, c.offset);
        EXPECT_EQ(format_timestamp(*shifted), c.text);
    }
}

TEST(LogTimestamp, ShiftCrossesYearsAndStopsAtTheSupportedRange) {
    EXPECT_EQ(format_timestamp(*shift_to_offset(at(2023, 12, 31, 23, 30, 0), {1, 0, 0})),
              "2024-01-01T00:30:00+01:00");
    EXPECT_EQ(format_timestamp(*shift_to_offset(at(2024, 2, 28, 20, 0, 0), {5, 0, 0})),
              "2024-02-29T01:00:00+05:00");
    EXPECT_TRUE(shift_to_offset(at(9999, 12, 31, 0, 0, 0), {23, 0, 0}).has_value());
    EXPECT_FALSE(shift_to_offset(at(9999, 12, 31, 23, 0, 0), {2, 0, 0}).has_value());
    EXPECT_FALSE(shift_to_offset(at(-9999, 1, 1, 0, 0, 0), {-1, 0, 0}).has_value());
}

TEST(LogTimestamp, SystemTimeBecomesUtcCalendarFields) {
    using namespace std::chrono;
    const SystemInstant time = sys_days{2024y / March / 5} + 7h + 9min + 2s + 500ms;
    EXPECT_EQ(instant_from_system_time(time), at(2024, 3, 5, 7, 9, 2, 500'000'000));
    const SystemInstant before_epoch = sys_days{1969y / December / 31} + 23h + 59min + 59s + 1ns;
    EXPECT_EQ(instant_from_system_time(before_epoch), at(1969, 12, 31, 23, 59, 59, 1));
}

// The first second of the nanosecond range once overflowed while splitting off the fraction
// (a sanitizer report; unreachable from a real clock, reachable from the fuzz targets).
TEST(LogTimestamp, SystemTimeAtBothEndsOfTheNanosecondRange) {
    using Nanos = std::chrono::nanoseconds;
    constexpr auto kMin = std::numeric_limits<Nanos::rep>::min();
    constexpr auto kMax = std::numeric_limits<Nanos::rep>::max();
    EXPECT_EQ(format_timestamp(instant_from_system_time(SystemInstant{Nanos{kMin}})),
              "1677-09-21T00:12:43.145224192Z");
    EXPECT_EQ(format_timestamp(instant_from_system_time(SystemInstant{Nanos{kMin + 999'999'999}})),
              "1677-09-21T00:12:44.145224191Z");
    EXPECT_EQ(format_timestamp(instant_from_system_time(SystemInstant{Nanos{kMax}})),
              "2262-04-11T23:47:16.854775807Z");
}

TEST(LogOffset, SplitsDifferenceWithinBounds) {
    const struct {
        std::optional<std::int64_t> seconds;
        UtcOffset offset;
    } cases[] = {
        {0, {0, 0, 0}},
        {28'800, {8, 0, 0}},
        {-12'600, {-3, -30, 0}},
        {-1'800, {0, -30, 0}},
        {1'172, {0, 19, 32}},
        {88'200, {24, 30, 0}},
        {93'599, {25, 59, 59}},
        {-93'599, {-25, -59, -59}},
        {93'600, {0, 0, 0}},
        {-93'600, {0, 0, 0}},
        {std::numeric_limits<std::int64_t>::min(), {0, 0, 0}},
        {std::nullopt, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utc_offset_from_seconds(c.seconds), c.offset)
            << (c.seconds ? std::to_string(*c.seconds) : "none");
    }
}

TEST(LogOffset, LocalOffsetAsksThePlatformAboutTheCurrentInstant) {
    using namespace std::chrono;
    logtest::ScopedLogSandbox sandbox;
    sandbox.system.now = sys_days{2024y / March / 5} + 7h + 9min;
    sandbox.system.fixed_offset = true;
    sandbox.system.local_minus_utc = 20'700;
    EXPECT_EQ(local_utc_offset(), (UtcOffset{5, 45, 0}));
    sandbox.system.local_minus_utc = std::nullopt;
    EXPECT_EQ(local_utc_offset(), (UtcOffset{}));
    sandbox.system.local_minus_utc = 100'000;
    EXPECT_EQ(local_utc_offset(), (UtcOffset{}));
}

TEST(LogZoneLabel, WritesSignHoursAndMinutes) {
    const struct {
        UtcOffset offset;
        const char* label;
    } cases[] = {
        {{0, 0, 0}, "UTC+0000"},   {{8, 0, 0}, "UTC+0800"},       {{0, -30, 0}, "UTC-0030"},
        {{5, 45, 0}, "UTC+0545"},  {{-10, 0, 0}, "UTC-1000"},     {{0, 19, 32}, "UTC+0019"},
        {{24, 30, 0}, "UTC+2430"}, {{-25, -59, -59}, "UTC-2559"}, {{0, 0, -59}, "UTC+0000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_zone_label(c.offset), c.label);
    }
}

TEST(LogTimeKey, FormatsUtcMinuteAndChecksShape) {
    EXPECT_EQ(format_time_key(at(2024, 3, 5, 7, 9, 59)), "2024-03-05-07-09");
    EXPECT_EQ(format_time_key(at(7, 1, 2, 0, 0, 0)), "0007-01-02-00-00");
    EXPECT_EQ(format_time_key(at(10000, 1, 1, 0, 0, 0)), "1970-01-01-00-00");

    const struct {
        const char* key;
        bool valid;
    } cases[] = {
        {"9999-99-99-99-99", true},
        {"2024-03-05-07-09", true},
        {"0000-00-00-00-00", true},
        {"2024-03-05T07-09", false},
        {"2024-3-05-07-099", false},
        {"2024-03-05-07-0a", false},
        {"2024_03-05-07-09", false},
        {"\xD9\xA2"
         "024-03-05-07-0",
         false},
        {"2024-03-05-07-09 ", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_time_key(c.key), c.valid) << c.key;
    }
}

// --- log file names --------------------------------------------------------------

TEST(LogFileNames, RecognisesTheFourFormsOnly) {
    const std::string z = "UTC+0800_2024-03-05-07-09Z";
    const struct {
        std::string name;
        std::optional<LogNameParts> parts;
    } cases[] = {
        {z + ".log", LogNameParts{z, 0}},
        {z + "-2.log", LogNameParts{z, 2}},
        {z + "-+9.log", LogNameParts{z, 9}},
        {z + "-007.log", LogNameParts{z, 7}},
        {z + "-18446744073709551615.log", LogNameParts{z, 18446744073709551615ull}},
        {"UTC-0500_2024-01-01-00-00Z.log", LogNameParts{"UTC-0500_2024-01-01-00-00Z", 0}},
        {"2024-03-05-07-09.log", LogNameParts{"2024-03-05-07-09", 0}},
        {"2024-03-05-07-09-3.log", LogNameParts{"2024-03-05-07-09", 3}},
        {"2024-03-05-07-09-+7.log", LogNameParts{"2024-03-05-07-09", 7}},
        {"9999-99-99-99-99-1.log", LogNameParts{"9999-99-99-99-99", 1}},
        // Not log files.
        {z + "-0.log", std::nullopt},
        {z + "-18446744073709551616.log", std::nullopt},  // overflow
        {z + "-.log", std::nullopt},
        {z + "--1.log", std::nullopt},
        {z + "-+.log", std::nullopt},
        {z + "-1x.log", std::nullopt},
        {z + "x.log", std::nullopt},
        {z + "-1.LOG", std::nullopt},
        {"2024-03-05-07-09-x.log", std::nullopt},
        {"2024-03-05-07-09.LOG", std::nullopt},
        {"2024-03-05-07-09-.log", std::nullopt},
        {"2024-03-05-07-09-0.log", std::nullopt},
        {"2024-03-05-07-09-++1.log", std::nullopt},
        {"2024-03-05-07-09x.log", std::nullopt},  // 17 characters
        {"2024-03-05-07-0.log", std::nullopt},
        {".log", std::nullopt},
        {"log", std::nullopt},
        {"", std::nullopt},
        {"2024-03-05-07-09", std::nullopt},
        {"2024-03-05-07-09.log.bak", std::nullopt},
        {"UTC+08a0_2024-03-05-07-09Z.log", std::nullopt},
        {"UTC*0800_2024-03-05-07-09Z.log", std::nullopt},
        {"UTC+0800-2024-03-05-07-09Z.log", std::nullopt},
        {"UTC+0800_2024-03-05-07-09.log", std::nullopt},
        {"UTC+0800_2024-03-05T07-09Z.log", std::nullopt},
        {"UTC+0800_2024-03-05-07-09\xC3\xA9.log", std::nullopt},
        {"\xE2\x82\xAC"
         "2024-03-05-07-09.log",
         std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_runtime_log_name(c.name), c.parts) << c.name;
    }
}

TEST(LogFileNames, ZoneShapeWithATimeKeyPrefixFallsBackToTheShortForm) {
    // 26+ characters without the zone shape: read as time key, "-", number.
    EXPECT_EQ(parse_runtime_log_name("2024-03-05-07-09-1234567890.log"),
              (LogNameParts{"2024-03-05-07-09", 1234567890}));
}

}  // namespace
}  // namespace logging
