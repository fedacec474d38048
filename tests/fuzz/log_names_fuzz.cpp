// Log file names and the time texts they are made of. Any name either is rejected or splits
// into a 16- or 26-character base and a sequence that spell the name again; every name the
// writer would make from any instant of the 64-bit nanosecond range and any offset parses
// back to its parts; instants shift to an offset and back unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "logging/config_time.h"

namespace {

using logging::Instant;

bool all_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void check_parsed_name(std::string_view name) {
    const std::optional<logging::LogNameParts> parts = logging::parse_runtime_log_name(name);
    if (!parts) {
        return;
    }
    FUZZ_CHECK(parts->base.size() == 16 || parts->base.size() == 26);
    FUZZ_CHECK(name.starts_with(parts->base) && name.ends_with(".log"));
    const std::string_view key =
        std::string_view(parts->base).substr(parts->base.size() == 26 ? 9 : 0, 16);
    FUZZ_CHECK(logging::is_valid_time_key(key));
    std::string_view rest = name.substr(parts->base.size(), name.size() - parts->base.size() - 4);
    if (parts->sequence == 0) {
        FUZZ_CHECK(rest.empty());
        return;
    }
    FUZZ_CHECK(rest.starts_with('-'));
    rest.remove_prefix(1);
    if (rest.starts_with('+')) {
        rest.remove_prefix(1);
    }
    FUZZ_CHECK(all_digits(rest));
    FUZZ_CHECK(std::stoull(std::string(rest)) == parts->sequence);
}

void check_fields(const Instant& instant) {
    FUZZ_CHECK(instant.month >= 1 && instant.month <= 12 && instant.day >= 1 && instant.day <= 31 &&
               instant.hour < 24 && instant.minute < 60 && instant.second < 60 &&
               instant.nanosecond < 1'000'000'000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto nanos = input.ConsumeIntegral<std::int64_t>();
    const auto offset_seconds = input.ConsumeIntegralInRange<std::int64_t>(-200'000, 200'000);
    const auto sequence = input.ConsumeIntegral<std::uint64_t>();
    const std::string name = input.ConsumeRemainingBytesAsString();
    check_parsed_name(name);

    // The whole nanosecond range lies within the years 1677 to 2262.
    const Instant utc =
        logging::instant_from_system_time(logging::SystemInstant{std::chrono::nanoseconds{nanos}});
    check_fields(utc);
    FUZZ_CHECK(utc.year >= 1677 && utc.year <= 2262 && utc.offset == logging::UtcOffset{});
    const std::string stamp = logging::format_timestamp(utc);
    const std::string key = logging::format_time_key(utc);
    FUZZ_CHECK(logging::is_valid_time_key(key));
    FUZZ_CHECK(stamp != logging::kTimestampFallback || utc == Instant{});  // the epoch itself
    FUZZ_CHECK(stamp.substr(0, 10) == key.substr(0, 10) && stamp.back() == 'Z');

    const logging::UtcOffset offset = logging::utc_offset_from_seconds(offset_seconds);
    const bool in_bounds = offset_seconds >= -93'599 && offset_seconds <= 93'599;
    FUZZ_CHECK(offset.hours * 3600 + offset.minutes * 60 + offset.seconds ==
               (in_bounds ? offset_seconds : 0));
    FUZZ_CHECK((offset.hours <= 0 && offset.minutes <= 0 && offset.seconds <= 0) ||
               (offset.hours >= 0 && offset.minutes >= 0 && offset.seconds >= 0));
    const std::string zone = logging::format_zone_label(offset);
    FUZZ_CHECK(zone.size() == 8);

    const std::string base = zone + "_" + key + "Z";
    const auto plain = logging::parse_runtime_log_name(base + ".log");
    FUZZ_CHECK(plain && plain->base == base && plain->sequence == 0);
    if (sequence != 0) {
        const auto numbered =
            logging::parse_runtime_log_name(base + "-" + std::to_string(sequence) + ".log");
        FUZZ_CHECK(numbered && numbered->base == base && numbered->sequence == sequence);
    }

    const std::optional<Instant> local = logging::shift_to_offset(utc, offset);
    FUZZ_CHECK(local.has_value());
    check_fields(*local);
    FUZZ_CHECK(local->offset == offset && local->nanosecond == utc.nanosecond);
    const std::optional<Instant> back = logging::shift_to_offset(*local, logging::UtcOffset{});
    FUZZ_CHECK(back && *back == utc);
    return 0;
}
