// Appending a record with the C library's file descriptors.
#ifndef _WIN32

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "logging/write_redact_fs.h"

namespace logging {
namespace {

constexpr mode_t kLogFileMode = 0644;

class ScopedFd {
  public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string errno_text(int error) {
    return std::strerror(error);
}

}  // namespace

std::optional<std::string> native_append_to_file(const std::filesystem::path& file,
                                                 std::string_view bytes) {
    // O_APPEND: every write lands at the current end, also with other writers.
    ScopedFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode));
    if (fd.get() < 0) {
        return errno_text(errno);
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno_text(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

}  // namespace logging

#endif  // !_WIN32
