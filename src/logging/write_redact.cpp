// Redaction, truncation, file choice, pruning and the record writer.

#include "logging/write_redact.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <mutex>

#include "logging/config_time.h"
#include "logging/config_time_lock.h"
#include "logging/config_time_system.h"
#include "logging/write_redact_fs.h"
#include "text/json_output.h"
#include "text/text.h"

namespace logging {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTruncationSuffix = "\u2026 [truncated]";
constexpr std::string_view kLogsDirName = "logs";
constexpr std::string_view kPoisonedLock = "log write lock poisoned";
constexpr std::string_view kNoLogDirectory = "failed to resolve log directory";
constexpr std::size_t kSerialisationReserve = 128;

enum class KeyTest { contains, ends_with, equals };
struct SecretPattern {
    KeyTest test;
    std::string_view text;
};
// Tested against the key reduced to lower-case ASCII letters and digits. "pwd" and "auth"
// match only the whole key: as parts they occur in ordinary names ("author", "pwdLength").
constexpr std::array<SecretPattern, 15> kSecretPatterns{{
    {KeyTest::contains, "apikey"},
    {KeyTest::contains, "authorization"},
    {KeyTest::contains, "password"},
    {KeyTest::contains, "refreshtoken"},
    {KeyTest::contains, "accesstoken"},
    {KeyTest::ends_with, "token"},
    {KeyTest::contains, "cookie"},
    {KeyTest::contains, "secret"},
    {KeyTest::contains, "passwd"},
    {KeyTest::contains, "privatekey"},
    {KeyTest::contains, "accesskey"},
    {KeyTest::contains, "credential"},
    {KeyTest::contains, "sessionid"},
    {KeyTest::equals, "pwd"},
    {KeyTest::equals, "auth"},
}};

std::string normalize_key(std::string_view key) {
    std::string normalized;
    for (char c : key) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            normalized.push_back(c);
        }
    }
    return text::ascii_lower(normalized);
}

bool is_secret_key(std::string_view key) {
    const std::string normalized = normalize_key(key);
    const std::string_view view = normalized;
    return std::any_of(kSecretPatterns.begin(), kSecretPatterns.end(),
                       [&](const SecretPattern& pattern) {
                           switch (pattern.test) {
                               case KeyTest::contains:
                                   return view.find(pattern.text) != std::string_view::npos;
                               case KeyTest::ends_with:
                                   return view.ends_with(pattern.text);
                               case KeyTest::equals:
                                   return view == pattern.text;
                           }
                           return false;
                       });
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// The process-wide write lock and its broken mark.
struct WriteLock {
    std::mutex mutex;
    std::atomic<bool> broken{false};
};

WriteLock& write_lock() {
    static WriteLock lock;
    return lock;
}

std::string error_text(const std::error_code& error) {
    std::string message = error.message();
    return message.empty() ? "I/O error " + std::to_string(error.value()) : message;
}

// Steps 6 to 11 of a write, under the write lock.
std::optional<std::string> append_line(const std::string& line) {
    const auto data_dir = data_directory();
    if (!data_dir) {
        return std::string(kNoLogDirectory);
    }
    const fs::path log_dir = *data_dir / path_from_utf8(kLogsDirName);
    LogFileSystem& files = log_file_system();
    if (const std::error_code error = files.create_directories(log_dir)) {
        return error_text(error);
    }
    LogFileChoice choice = select_log_file(log_dir, line.size());
    if (!choice.path) {
        return std::move(choice.error);
    }
    prune_log_files(log_dir, *choice.path);
    return files.append(*choice.path, line);
}

std::string build_line(LogInput& input, std::string_view level) {
    LogSystem& system = log_system();
    const Instant now = instant_from_system_time(system.utc_now());
    const UtcOffset offset = local_utc_offset();
    const auto local = shift_to_offset(now, offset);

    nlohmann::json record = nlohmann::json::object();
    record["ts"] = format_timestamp(now);
    // A clock outside the supported years cannot be shifted: the RFC 3339 fallback
    // stands in, as it would for any instant it cannot write.
    record["tsLocal"] = local ? format_timestamp(*local) : std::string(kTimestampFallback);
    record["timeZone"] = format_zone_label(offset);
    record["level"] = std::string(level);
    record["source"] = truncate_string(input.source);
    if (input.component) {
        record["component"] = truncate_string(*input.component);
    } else {
        record["component"] = level == "audit" ? "audit" : "app";
    }
    record["event"] = truncate_string(input.event);
    maybe_insert_string(record, "message", input.message);
    maybe_insert_string(record, "category", input.category);
    maybe_insert_string(record, "outcome", input.outcome);
    maybe_insert_string(record, "traceId", input.traceId);
    maybe_insert_string(record, "sessionId", input.sessionId);
    maybe_insert_string(record, "requestId", input.requestId);
    maybe_insert_string(record, "mode", input.mode);
    maybe_insert_string(record, "workspace", input.workspace);
    maybe_insert_string(record, "actor", input.actor);
    maybe_insert_string(record, "target", input.target);
    if (input.data) {
        nlohmann::json data = redact_value(std::move(*input.data));
        if (!data.is_null()) {
            record["data"] = std::move(data);
        }
    }

    std::string line;
    line.reserve(kSerialisationReserve);
    line += text::json_dump(record);
    line.push_back('\n');
    return line;
}

}  // namespace

std::string truncate_string(std::string_view input) {
    std::string trimmed = text::trim(input);
    if (text::utf8_char_count(trimmed) <= kMaxLogStringChars) {
        return trimmed;
    }
    std::string cut = text::utf8_prefix(trimmed, kMaxLogStringChars);
    cut += kTruncationSuffix;
    return cut;
}

nlohmann::json redact_value(nlohmann::json value) {
    if (value.is_string()) {
        return truncate_string(value.get_ref<const std::string&>());
    }
    if (value.is_array()) {
        for (nlohmann::json& element : value) {
            element = redact_value(std::move(element));
        }
        return value;
    }
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it) {
            // A secret key hides its whole value, nested objects and arrays included.
            it.value() = is_secret_key(it.key()) ? nlohmann::json(kRedactedMarker)
                                                 : redact_value(std::move(it.value()));
        }
        return value;
    }
    return value;
}

void maybe_insert_string(nlohmann::json& object, const std::string& key,
                         const std::optional<std::string>& text) {
    if (!text) {
        return;
    }
    std::string cut = truncate_string(*text);
    if (!cut.empty()) {
        object[key] = std::move(cut);
    }
}

LogFileChoice select_log_file(const fs::path& log_dir, std::uint64_t pending_bytes) {
    LogFileSystem& files = log_file_system();
    std::vector<LogDirEntry> entries;
    const std::error_code error = files.list_directory(log_dir, entries);
    if (error && error != std::errc::no_such_file_or_directory) {
        return LogFileChoice{std::nullopt, error_text(error)};
    }

    std::vector<ParsedLogFile> candidates;
    if (!error) {
        for (LogDirEntry& entry : entries) {
            if (!entry.regular_file || !entry.name) {
                continue;
            }
            if (auto parts = parse_runtime_log_name(*entry.name)) {
                candidates.push_back(
                    ParsedLogFile{std::move(entry.path), std::move(parts->base), parts->sequence});
            }
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const ParsedLogFile& a, const ParsedLogFile& b) {
                  if (a.base != b.base) {
                      return a.base < b.base;  // byte order; a prefix sorts first
                  }
                  return a.sequence < b.sequence;
              });

    if (!candidates.empty()) {
        const ParsedLogFile& current = candidates.back();
        const auto size = files.file_size(current.path);
        if (size && saturating_add(*size, pending_bytes) <= kMaxLogFileBytes) {
            return LogFileChoice{current.path, {}};
        }
    }

    const Instant now = instant_from_system_time(log_system().utc_now());
    const std::string base =
        format_zone_label(local_utc_offset()) + "_" + format_time_key(now) + "Z";
    std::optional<std::uint64_t> largest;
    for (const ParsedLogFile& candidate : candidates) {
        if (candidate.base == base) {
            largest = std::max(largest.value_or(0), candidate.sequence);
        }
    }
    std::string name = base;
    if (largest) {
        const std::uint64_t next = saturating_add(*largest, 1);
        name += '-';
        name += std::to_string(next);
    }
    name += ".log";
    return LogFileChoice{log_dir / path_from_utf8(name), {}};
}

void prune_log_files(const fs::path& log_dir, const fs::path& target) {
    LogFileSystem& files = log_file_system();
    std::vector<LogDirEntry> entries;
    if (files.list_directory(log_dir, entries)) {
        return;
    }
    std::vector<RetentionFile> retained;
    for (LogDirEntry& entry : entries) {
        // A log file whose time cannot be read cannot be ranked: leave it alone.
        if (!entry.regular_file || !entry.name || !entry.modified ||
            !parse_runtime_log_name(*entry.name)) {
            continue;
        }
        retained.push_back(RetentionFile{std::move(entry.path), *entry.modified});
    }
    std::stable_sort(
        retained.begin(), retained.end(),
        [](const RetentionFile& a, const RetentionFile& b) { return a.modified < b.modified; });
    if (retained.size() <= kLogFilesKept) {
        return;
    }
    std::size_t to_delete = retained.size() - kLogFilesKept;
    for (const RetentionFile& file : retained) {
        if (to_delete == 0) {
            break;
        }
        if (file.path == target) {
            continue;
        }
        if (files.remove_file(file.path)) {
            --to_delete;
        }
    }
}

std::optional<std::string> write_log(LogInput input) noexcept {
    try {
        const std::string_view level = normalize_level(input.level.value_or("info"));
        // Before any clock read or file-system access: a disabled record costs nothing.
        if (!log_level_enabled(level)) {
            return std::nullopt;
        }
        const std::string line = build_line(input, level);

        WriteLock& lock = write_lock();
        std::lock_guard guard(lock.mutex);
        if (lock.broken.load()) {
            return std::string(kPoisonedLock);
        }
        BrokenMarkOnUnwind mark(lock.broken);
        return append_line(line);
    } catch (const std::exception& error) {
        return std::string(error.what());
    } catch (...) {
        return std::string("log write failed");
    }
}

void reset_log_write_lock_for_testing() {
    write_lock().broken.store(false);
}

}  // namespace logging
