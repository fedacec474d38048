#pragma once
// Test seams of the structured log: a fake environment and clock, a file system whose
// operations can be told to fail, and a scratch home directory. While the unit tests run,
// the log writes into a private temporary home, never into the developer's own.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "logging/config_time_system.h"
#include "logging/write_redact_fs.h"

namespace logtest {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed with its content.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Environment from a map; real clocks unless fixed.
class FakeLogSystem : public logging::LogSystem {
  public:
    std::map<std::string, std::string> environment;
    std::optional<logging::SystemInstant> now;  // fixed wall clock when set
    bool fixed_offset = false;                  // answer `local_minus_utc` instead of asking
    std::optional<std::int64_t> local_minus_utc;

    std::optional<std::string> get_env(const std::string& name) override;
    logging::SystemInstant utc_now() override;
    std::optional<std::int64_t> local_minus_utc_seconds(const logging::Instant& utc) override;
};

// The native file system with one failure switch per operation.
class FailingLogFileSystem : public logging::NativeLogFileSystem {
  public:
    bool fail_create = false;
    bool fail_list = false;
    std::set<fs::path> unreadable_sizes;
    std::set<fs::path> undeletable;
    bool throw_on_append = false;
    std::vector<fs::path> removed;  // successful deletions, in order

    std::error_code create_directories(const fs::path& dir) override;
    std::error_code list_directory(const fs::path& dir,
                                   std::vector<logging::LogDirEntry>& entries) override;
    std::optional<std::uint64_t> file_size(const fs::path& file) override;
    bool remove_file(const fs::path& file) override;
    std::optional<std::string> append(const fs::path& file, std::string_view bytes) override;
};

// Installs a FakeLogSystem whose HOME is a fresh temporary directory (and, optionally, a
// FailingLogFileSystem) for one test; clears the configuration cache and the write lock's
// mark on both ends.
class ScopedLogSandbox {
  public:
    ScopedLogSandbox();
    ~ScopedLogSandbox();
    ScopedLogSandbox(const ScopedLogSandbox&) = delete;
    ScopedLogSandbox& operator=(const ScopedLogSandbox&) = delete;

    FakeLogSystem system;
    FailingLogFileSystem files;

    const fs::path& home() const { return home_.path(); }
    fs::path log_dir() const;
    // Every line of every log file, files in name order.
    std::vector<std::string> all_lines() const;
    std::vector<std::string> log_file_names() const;

  private:
    TempDir home_;
};

// The directory the process-wide test sandbox uses as HOME.
fs::path default_test_home();

std::string read_file(const fs::path& file);
void write_file(const fs::path& file, const std::string& content);

}  // namespace logtest
