#pragma once
// The structured log writer: one record in, one JSON line appended to the current log file
// in the per-user "logs" directory, with secrets redacted and strings cut.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace logging {

// One record to write. Absent fields are left out of the record (see write_log).
struct LogInput {
    std::string source;
    std::string event;
    std::optional<std::string> level;  // absent counts as "info"
    std::optional<std::string> component;
    std::optional<std::string> message;
    std::optional<std::string> category;
    std::optional<std::string> outcome;
    std::optional<std::string> traceId;
    std::optional<std::string> sessionId;
    std::optional<std::string> requestId;
    std::optional<std::string> mode;
    std::optional<std::string> workspace;
    std::optional<std::string> actor;
    std::optional<std::string> target;
    std::optional<nlohmann::json> data;
};

// Appends `input` as one line when its level is enabled. Returns nothing on success
// (including a disabled level) and the error text otherwise; never throws.
std::optional<std::string> write_log(LogInput input) noexcept;

// Tests only: clear the write lock's broken mark.
void reset_log_write_lock_for_testing();

// --- redaction and truncation -----------------------------------------------------

inline constexpr std::size_t kMaxLogStringChars = 2000;
inline constexpr std::string_view kRedactedMarker = "[REDACTED]";

// Trims Unicode white space; longer than 2000 characters: the first 2000 plus
// "… [truncated]".
std::string truncate_string(std::string_view text);

// Strings cut as above, values under secret-looking keys replaced by "[REDACTED]", the
// rest walked recursively.
nlohmann::json redact_value(nlohmann::json value);

// Inserts `key` with the truncated text unless the text is absent or blank.
void maybe_insert_string(nlohmann::json& object, const std::string& key,
                         const std::optional<std::string>& text);

// --- file choice and retention ------------------------------------------------------

inline constexpr std::uint64_t kMaxLogFileBytes = 5'242'880;  // a file may reach it exactly
inline constexpr std::size_t kLogFilesKept = 3;

struct ParsedLogFile {
    std::filesystem::path path;
    std::string base;
    std::uint64_t sequence = 0;
};

struct RetentionFile {
    std::filesystem::path path;
    std::filesystem::file_time_type modified;
};

// The file to append `pending_bytes` to: the greatest log file while it has room, else a
// new "<zone label>_<time key>Z[-n].log" name (not created here).
struct LogFileChoice {
    std::optional<std::filesystem::path> path;
    std::string error;  // set when path is absent
};
LogFileChoice select_log_file(const std::filesystem::path& log_dir, std::uint64_t pending_bytes);

// Deletes the least recently written log files down to three, never `target`. Never fails.
void prune_log_files(const std::filesystem::path& log_dir, const std::filesystem::path& target);

}  // namespace logging
