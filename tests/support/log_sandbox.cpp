#include "support/log_sandbox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "logging/config_time.h"
#include "logging/write_redact.h"

namespace logtest {
namespace {

fs::path unique_temp_path() {
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return fs::temp_directory_path() /
           ("zelto-log-test-" + std::to_string(entropy()) + "-" + std::to_string(stamp) + "-" +
            std::to_string(counter.fetch_add(1)));
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The whole test binary logs into this home unless a test installs its own.
struct ProcessSandbox {
    TempDir home;
    FakeLogSystem system;
    ProcessSandbox() {
        system.environment["HOME"] = utf8(home.path());
        logging::set_log_system(&system);
    }
    ~ProcessSandbox() { logging::set_log_system(nullptr); }
};

ProcessSandbox& process_sandbox() {
    static ProcessSandbox sandbox;
    return sandbox;
}

// Installed before main, so no test can reach the real home by accident.
const bool kSandboxInstalled = (process_sandbox(), true);

}  // namespace

TempDir::TempDir() : path_(unique_temp_path()) {
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::optional<std::string> FakeLogSystem::get_env(const std::string& name) {
    const auto found = environment.find(name);
    if (found == environment.end()) {
        return std::nullopt;
    }
    return found->second;
}

logging::SystemInstant FakeLogSystem::utc_now() {
    if (now) {
        return *now;
    }
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

std::optional<std::int64_t> FakeLogSystem::local_minus_utc_seconds(const logging::Instant& utc) {
    if (fixed_offset) {
        return local_minus_utc;
    }
    return logging::native_local_minus_utc_seconds(utc);
}

std::error_code FailingLogFileSystem::create_directories(const fs::path& dir) {
    if (fail_create) {
        return std::make_error_code(std::errc::permission_denied);
    }
    return NativeLogFileSystem::create_directories(dir);
}

std::error_code FailingLogFileSystem::list_directory(const fs::path& dir,
                                                     std::vector<logging::LogDirEntry>& entries) {
    if (fail_list) {
        return std::make_error_code(std::errc::io_error);
    }
    return NativeLogFileSystem::list_directory(dir, entries);
}

std::optional<std::uint64_t> FailingLogFileSystem::file_size(const fs::path& file) {
    if (unreadable_sizes.count(file) != 0) {
        return std::nullopt;
    }
    return NativeLogFileSystem::file_size(file);
}

bool FailingLogFileSystem::remove_file(const fs::path& file) {
    if (undeletable.count(file) != 0) {
        return false;
    }
    const bool removed_now = NativeLogFileSystem::remove_file(file);
    if (removed_now) {
        removed.push_back(file);
    }
    return removed_now;
}

std::optional<std::string> FailingLogFileSystem::append(const fs::path& file,
                                                        std::string_view bytes) {
    if (throw_on_append) {
        throw std::runtime_error("injected append failure");
    }
    return NativeLogFileSystem::append(file, bytes);
}

ScopedLogSandbox::ScopedLogSandbox() {
    system.environment["HOME"] = utf8(home_.path());
    logging::set_log_system(&system);
    logging::set_log_file_system(&files);
    logging::reset_log_config_cache_for_testing();
    logging::reset_log_write_lock_for_testing();
}

ScopedLogSandbox::~ScopedLogSandbox() {
    logging::set_log_file_system(nullptr);
    logging::set_log_system(&process_sandbox().system);
    logging::reset_log_config_cache_for_testing();
    logging::reset_log_write_lock_for_testing();
}

fs::path ScopedLogSandbox::log_dir() const {
    return home_.path() / logging::app_data_dir_name() / "logs";
}

std::vector<std::string> ScopedLogSandbox::log_file_names() const {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(log_dir(), error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(utf8(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ScopedLogSandbox::all_lines() const {
    std::vector<std::string> lines;
    for (const std::string& name : log_file_names()) {
        const std::string content = read_file(log_dir() / logging::path_from_utf8(name));
        std::size_t start = 0;
        while (start < content.size()) {
            std::size_t end = content.find('\n', start);
            if (end == std::string::npos) {
                lines.push_back(content.substr(start));  // an unterminated tail shows up too
                break;
            }
            lines.push_back(content.substr(start, end - start));
            start = end + 1;
        }
    }
    return lines;
}

fs::path default_test_home() {
    return process_sandbox().home.path();
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace logtest
