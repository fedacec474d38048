// Appending a record with kernel32 file handles.
#ifdef _WIN32

#include <windows.h>

#include <string>

#include "logging/write_redact_fs.h"
#include "text/text.h"

namespace logging {
namespace {

class ScopedFileHandle {
  public:
    explicit ScopedFileHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedFileHandle() {
        if (valid()) {
            ::CloseHandle(handle_);
        }
    }
    ScopedFileHandle(const ScopedFileHandle&) = delete;
    ScopedFileHandle& operator=(const ScopedFileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

class ScopedLocalFree {
  public:
    explicit ScopedLocalFree(wchar_t* buffer) : buffer_(buffer) {}
    ~ScopedLocalFree() {
        if (buffer_ != nullptr) {
            ::LocalFree(buffer_);
        }
    }
    ScopedLocalFree(const ScopedLocalFree&) = delete;
    ScopedLocalFree& operator=(const ScopedLocalFree&) = delete;

  private:
    wchar_t* buffer_;
};

// Appends from other processes are serialised on a one-byte lock far beyond any real file
// size: FILE_APPEND_DATA alone does not keep concurrent appends whole everywhere (Wine
// loses and splits lines), and a lock there never blocks reading or writing the content.
constexpr DWORD kAppendLockOffsetLow = 0x00000000;
constexpr DWORD kAppendLockOffsetHigh = 0xFFFFFFFF;
constexpr DWORD kAppendLockLength = 1;
// The record is written before the result line, so a writer that never lets go must not
// hold up our answer: past this wait the line is appended without the lock.
constexpr ULONGLONG kAppendLockWaitMs = 1000;
constexpr DWORD kAppendLockPollMs = 10;

class ScopedAppendLock {
  public:
    explicit ScopedAppendLock(HANDLE file) : file_(file) {
        const ULONGLONG deadline = ::GetTickCount64() + kAppendLockWaitMs;
        while (true) {
            OVERLAPPED range = lock_range();
            if (::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                             kAppendLockLength, 0, &range)) {
                locked_ = true;
                return;
            }
            // Any failure but "held by someone else" will not go away by waiting.
            if (::GetLastError() != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline) {
                return;
            }
            ::Sleep(kAppendLockPollMs);
        }
    }
    ~ScopedAppendLock() {
        if (locked_) {
            OVERLAPPED range = lock_range();
            ::UnlockFileEx(file_, 0, kAppendLockLength, 0, &range);
        }
    }
    ScopedAppendLock(const ScopedAppendLock&) = delete;
    ScopedAppendLock& operator=(const ScopedAppendLock&) = delete;

  private:
    static OVERLAPPED lock_range() {
        OVERLAPPED range{};
        range.Offset = kAppendLockOffsetLow;
        range.OffsetHigh = kAppendLockOffsetHigh;
        return range;
    }

    HANDLE file_;
    bool locked_ = false;
};

std::string win32_error_text(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    ScopedLocalFree owner(buffer);
    if (length == 0 || buffer == nullptr) {
        return "Windows error " + std::to_string(error);
    }
    std::string message = text::trim(text::utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length)));
    return message.empty() ? "Windows error " + std::to_string(error) : message;
}

}  // namespace

std::optional<std::string> native_append_to_file(const std::filesystem::path& file,
                                                 std::string_view bytes) {
    // Without FILE_WRITE_DATA every write lands at the current end of the file; read access
    // is there only because LockFileEx needs read or write data access. Sharing read, write
    // and delete lets other processes read, append or prune while we hold it.
    ScopedFileHandle handle(::CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        return win32_error_text(::GetLastError());
    }
    // Taken when it comes in time; the record is appended either way, as it would be
    // where no lock exists.
    const ScopedAppendLock lock(handle.get());
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(handle.get(), bytes.data(), chunk, &written, nullptr)) {
            return win32_error_text(::GetLastError());
        }
        if (written == 0) {
            return win32_error_text(ERROR_WRITE_FAULT);  // no progress: do not spin
        }
        bytes.remove_prefix(written);
    }
    return std::nullopt;
}

}  // namespace logging

#endif  // _WIN32
