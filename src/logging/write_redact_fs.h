#pragma once
// The file-system operations of the log writer, behind one seam so tests can make any of
// them fail. One process-wide instance; tests install their own.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace logging {

struct LogDirEntry {
    std::filesystem::path path;
    std::optional<std::string> name;  // nothing when the name is not valid Unicode
    bool regular_file = false;        // directories, links and junctions are not
    std::optional<std::filesystem::file_time_type> modified;
};

class LogFileSystem {
  public:
    virtual ~LogFileSystem() = default;

    // Creates `dir` with all missing parents; an existing directory is fine.
    virtual std::error_code create_directories(const std::filesystem::path& dir) = 0;
    // Lists `dir` (names, type, last-write time). A missing directory gives
    // std::errc::no_such_file_or_directory.
    virtual std::error_code list_directory(const std::filesystem::path& dir,
                                           std::vector<LogDirEntry>& entries) = 0;
    virtual std::optional<std::uint64_t> file_size(const std::filesystem::path& file) = 0;
    virtual bool remove_file(const std::filesystem::path& file) = 0;
    // Opens for appending (creating, never truncating), writes every byte, closes.
    // Returns the platform's error text on failure.
    virtual std::optional<std::string> append(const std::filesystem::path& file,
                                              std::string_view bytes) = 0;
};

class NativeLogFileSystem : public LogFileSystem {
  public:
    std::error_code create_directories(const std::filesystem::path& dir) override;
    std::error_code list_directory(const std::filesystem::path& dir,
                                   std::vector<LogDirEntry>& entries) override;
    std::optional<std::uint64_t> file_size(const std::filesystem::path& file) override;
    bool remove_file(const std::filesystem::path& file) override;
    std::optional<std::string> append(const std::filesystem::path& file,
                                      std::string_view bytes) override;
};

LogFileSystem& log_file_system();
// Installs `replacement` (not owned); nullptr restores the native one. Install before any
// log write.
void set_log_file_system(LogFileSystem* replacement);

// Platform half of NativeLogFileSystem::append (write_redact_win32.cpp,
// write_redact_posix.cpp).
std::optional<std::string> native_append_to_file(const std::filesystem::path& file,
                                                 std::string_view bytes);

}  // namespace logging
