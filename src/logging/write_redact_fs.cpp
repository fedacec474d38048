// The standard file-system layer behind the log writer's seam.

#include "logging/write_redact_fs.h"
#include "text/text.h"

namespace logging {
namespace {

namespace fs = std::filesystem;

LogFileSystem* g_replacement = nullptr;

// Windows names are UTF-16: a lone surrogate survives the round trip only as U+FFFD.
[[maybe_unused]] std::optional<std::string> utf8_name(const std::wstring& units) {
    const std::u16string wide(units.begin(), units.end());
    std::string utf8 = text::utf16_to_utf8(wide);
    if (text::utf8_to_utf16(utf8) != wide) {
        return std::nullopt;
    }
    return utf8;
}

// Elsewhere names are bytes.
[[maybe_unused]] std::optional<std::string> utf8_name(const std::string& bytes) {
    if (!text::is_valid_utf8(bytes)) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> utf8_file_name(const fs::path& path) {
    return utf8_name(path.filename().native());
}

}  // namespace

std::error_code NativeLogFileSystem::create_directories(const fs::path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    return error;
}

std::error_code NativeLogFileSystem::list_directory(const fs::path& dir,
                                                    std::vector<LogDirEntry>& entries) {
    std::error_code error;
    fs::directory_iterator it(dir, error);
    if (error) {
        return error;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) {
            return error;
        }
        const fs::directory_entry& entry = *it;
        LogDirEntry listed;
        listed.path = entry.path();
        listed.name = utf8_file_name(entry.path());
        std::error_code status_error;
        // The link itself, not what it points to: links and junctions are skipped.
        const fs::file_status status = entry.symlink_status(status_error);
        if (status_error) {
            return status_error;
        }
        listed.regular_file = fs::is_regular_file(status);
        std::error_code time_error;
        const fs::file_time_type modified = entry.last_write_time(time_error);
        if (!time_error) {
            listed.modified = modified;
        }
        entries.push_back(std::move(listed));
    }
    if (error) {
        return error;
    }
    return {};
}

std::optional<std::uint64_t> NativeLogFileSystem::file_size(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size);
}

bool NativeLogFileSystem::remove_file(const fs::path& file) {
    std::error_code error;
    return fs::remove(file, error) && !error;
}

std::optional<std::string> NativeLogFileSystem::append(const fs::path& file,
                                                       std::string_view bytes) {
    return native_append_to_file(file, bytes);
}

LogFileSystem& log_file_system() {
    static NativeLogFileSystem native;
    return g_replacement != nullptr ? *g_replacement : native;
}

void set_log_file_system(LogFileSystem* replacement) {
    g_replacement = replacement;
}

}  // namespace logging
