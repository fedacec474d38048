// Child processes: search-path resolution, CreateProcessW with two drained
// output pipes, an explicit inherited-handle list and a job object.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr DWORD kReadChunkBytes = 64 * 1024;

std::wstring to_wide(std::string_view utf8) {
    const std::u16string units = text::utf8_to_utf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string from_wide(std::wstring_view wide) {
    return text::utf16_to_utf8(std::u16string(wide.begin(), wide.end()));
}

// "The system cannot find the file specified. (2)": the system's text and the code.
std::string error_text(const char* call, DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message = std::string(call) + " failed: ";
    if (length != 0 && buffer != nullptr) {
        message += text::trim(from_wide(std::wstring_view(buffer, length))) + " ";
    }
    ::LocalFree(buffer);
    return message + "(" + std::to_string(code) + ")";
}

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle)
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = nullptr;
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

  private:
    HANDLE handle_ = nullptr;
};

// DeleteProcThreadAttributeList pairs with a successful Initialize.
class AttributeList {
  public:
    bool init(std::size_t count) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, static_cast<DWORD>(count), 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!::InitializeProcThreadAttributeList(list_, static_cast<DWORD>(count), 0, &size)) {
            list_ = nullptr;
            return false;
        }
        return true;
    }
    ~AttributeList() {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// One output pipe: the child gets the inheritable write end; a thread reads the
// overlapped read end from the start, so a child writing more than the pipe
// holds is never blocked. Stopping cancels the pending read, which is how a
// write end held by a grandchild stops mattering.
class PipeReader {
  public:
    // Creates the pipe; `write_end` receives the child's end.
    bool create(UniqueHandle& write_end, std::string& error) {
        static std::atomic<unsigned> counter{0};
        const std::wstring name =
            L"\\\\.\\pipe\\zelto-cua-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(counter.fetch_add(1));
        read_end_ = UniqueHandle(::CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kPipeBufferBytes, 0, nullptr));
        if (!read_end_) {
            error = error_text("CreateNamedPipeW", ::GetLastError());
            return false;
        }
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        write_end = UniqueHandle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!write_end) {
            error = error_text("CreateFileW", ::GetLastError());
            return false;
        }
        read_event_ = UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        stop_event_ = UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        finished_event_ = UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!read_event_ || !stop_event_ || !finished_event_) {
            error = error_text("CreateEventW", ::GetLastError());
            return false;
        }
        return true;
    }

    bool start(std::string& error) {
        try {
            thread_ = std::thread([this] { read_until_end(); });
        } catch (const std::exception& failure) {
            error = std::string("reader thread failed: ") + failure.what();
            return false;
        }
        return true;
    }

    HANDLE finished_event() const { return finished_event_.get(); }

    // Ends the reader (at once if it is still waiting) and joins it.
    void stop() {
        if (thread_.joinable()) {
            ::SetEvent(stop_event_.get());
            thread_.join();
        }
    }

    ~PipeReader() { stop(); }

    const std::string& bytes() const { return bytes_; }
    const std::string& failure() const { return failure_; }

  private:
    void read_until_end() {
        std::vector<char> chunk(kReadChunkBytes);
        while (true) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = read_event_.get();
            ::ResetEvent(read_event_.get());
            if (!::ReadFile(read_end_.get(), chunk.data(), kReadChunkBytes, nullptr, &overlapped)) {
                const DWORD code = ::GetLastError();
                if (code != ERROR_IO_PENDING) {
                    finish(code);
                    return;
                }
                const std::array<HANDLE, 2> waits{read_event_.get(), stop_event_.get()};
                if (::WaitForMultipleObjects(2, waits.data(), FALSE, INFINITE) != WAIT_OBJECT_0) {
                    ::CancelIoEx(read_end_.get(), &overlapped);
                }
            }
            // Waits for the read (or its cancellation) to settle: the buffer must
            // not be released under a pending read.
            DWORD read = 0;
            if (!::GetOverlappedResult(read_end_.get(), &overlapped, &read, TRUE)) {
                finish(::GetLastError());
                return;
            }
            bytes_.append(chunk.data(), read);
            if (::WaitForSingleObject(stop_event_.get(), 0) == WAIT_OBJECT_0) {
                finish(ERROR_OPERATION_ABORTED);
                return;
            }
        }
    }

    void finish(DWORD code) {
        // End-of-file (every write end closed) and our own stop are normal ends.
        if (code != ERROR_BROKEN_PIPE && code != ERROR_PIPE_NOT_CONNECTED &&
            code != ERROR_OPERATION_ABORTED && code != ERROR_HANDLE_EOF) {
            failure_ = error_text("ReadFile", code);
        }
        ::SetEvent(finished_event_.get());
    }

    UniqueHandle read_end_;
    UniqueHandle read_event_;
    UniqueHandle stop_event_;
    UniqueHandle finished_event_;
    std::string bytes_;
    std::string failure_;
    std::thread thread_;  // last: joined before the handles above close
};

// The child's input pipe: a thread writes the bytes, then closes the write end
// (the child's end-of-file). A child that never reads holds the thread only
// while it lives: once it has exited or been ended, its read end is closed and
// the pending write fails. Release a child's handles only after that.
class PipeWriter {
  public:
    // Creates the pipe; `read_end` receives the child's end.
    bool create(UniqueHandle& read_end, std::string& error) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!::CreatePipe(&read, &write, &inheritable, 0)) {
            error = error_text("CreatePipe", ::GetLastError());
            return false;
        }
        read_end = UniqueHandle(read);
        write_end_ = UniqueHandle(write);
        // Our end stays here, whatever else this process starts.
        ::SetHandleInformation(write_end_.get(), HANDLE_FLAG_INHERIT, 0);
        return true;
    }

    bool start(std::string bytes, std::string& error) {
        bytes_ = std::move(bytes);
        try {
            thread_ = std::thread([this] { write_all(); });
        } catch (const std::exception& failure) {
            error = std::string("writer thread failed: ") + failure.what();
            return false;
        }
        return true;
    }

    ~PipeWriter() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    void write_all() {
        std::size_t offset = 0;
        while (offset < bytes_.size()) {
            DWORD written = 0;
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes_.size() - offset, kPipeBufferBytes));
            if (!::WriteFile(write_end_.get(), bytes_.data() + offset, chunk, &written, nullptr) ||
                written == 0) {
                break;
            }
            offset += written;
        }
        write_end_.reset();
    }

    UniqueHandle write_end_;
    std::string bytes_;
    std::thread thread_;  // last: joined before the handle above closes
};

// Everything one started child owns, in acquisition order; released in reverse.
struct Win32Child {
    PipeReader out;
    PipeReader err;
    PipeWriter in;     // used only when the launch supplies the child's input
    UniqueHandle job;  // empty when the system refused the assignment
    UniqueHandle process;
};

std::mutex g_children_mutex;
std::map<Handle, std::unique_ptr<Win32Child>> g_children;
Handle g_next_child = 1;

Win32Child* find_child(Handle handle) {
    std::lock_guard guard(g_children_mutex);
    const auto found = g_children.find(handle);
    return found == g_children.end() ? nullptr : found->second.get();
}

// Only absolute folders: "C:\x" or "\\server\share". Relative entries (".",
// "bin", "C:x") would resolve against the current directory.
bool is_absolute_folder(std::wstring_view folder) {
    if (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) {
        return true;
    }
    return folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\';
}

}  // namespace

std::optional<std::string> Win32Platform::search_path(const std::string& file_name) {
    const DWORD needed = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring path(needed, L'\0');
    path.resize(::GetEnvironmentVariableW(L"PATH", path.data(), needed));
    const std::wstring name = to_wide(file_name);
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(L';', begin);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        std::wstring folder = path.substr(begin, end - begin);
        begin = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (!is_absolute_folder(folder)) {
            continue;
        }
        if (folder.back() != L'\\' && folder.back() != L'/') {
            folder.push_back(L'\\');
        }
        const std::wstring candidate = folder + name;
        const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return from_wide(candidate);
        }
    }
    return std::nullopt;
}

ChildStart Win32Platform::start_child_process(const ChildProcessLaunch& launch) {
    auto child = std::make_unique<Win32Child>();
    std::string error;
    UniqueHandle out_write;
    UniqueHandle err_write;
    if (!child->out.create(out_write, error) || !child->err.create(err_write, error)) {
        return ChildStart{0, error};
    }
    // The child's input: a pipe carrying the launch's bytes, or else our own
    // input (already read to its end) as an inheritable copy for the list.
    UniqueHandle in_copy;
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (launch.standard_input) {
        if (!child->in.create(in_copy, error)) {
            return ChildStart{0, error};
        }
    } else if (in != nullptr && in != INVALID_HANDLE_VALUE) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), in, ::GetCurrentProcess(), &copy, 0, TRUE,
                              DUPLICATE_SAME_ACCESS)) {
            in_copy = UniqueHandle(copy);
        }
    }
    // Only these handles reach the child: without the list every inheritable
    // handle of this process would, and anything holding a pipe's write end
    // keeps end-of-file from coming.
    std::vector<HANDLE> inherited{out_write.get(), err_write.get()};
    if (in_copy) {
        inherited.push_back(in_copy.get());
    }
    AttributeList attributes;
    if (!attributes.init(1)) {
        return ChildStart{0, error_text("InitializeProcThreadAttributeList", ::GetLastError())};
    }
    if (!::UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                     nullptr)) {
        return ChildStart{0, error_text("UpdateProcThreadAttribute", ::GetLastError())};
    }
    child->job = UniqueHandle(::CreateJobObjectW(nullptr, nullptr));

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = in_copy.get();
    startup.StartupInfo.hStdOutput = out_write.get();
    startup.StartupInfo.hStdError = err_write.get();
    startup.lpAttributeList = attributes.get();

    const std::wstring application = to_wide(launch.program);
    const std::u16string quoted = quote_command_line(launch.program, launch.arguments);
    std::wstring command_line(quoted.begin(), quoted.end());  // CreateProcessW may write to it
    PROCESS_INFORMATION started{};
    // Suspended until it is in the job, so nothing it starts can escape the job.
    if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                          launch.creation_flags | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                          nullptr, nullptr, &startup.StartupInfo, &started)) {
        return ChildStart{0, error_text("CreateProcessW", ::GetLastError())};
    }
    child->process = UniqueHandle(started.hProcess);
    const UniqueHandle thread(started.hThread);
    // Where the system refuses (an outer job forbidding it), only the child
    // itself can be ended at the limit.
    if (child->job && !::AssignProcessToJobObject(child->job.get(), child->process.get())) {
        child->job.reset();
    }
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD code = ::GetLastError();
        ::TerminateProcess(child->process.get(), 1);
        return ChildStart{0, error_text("ResumeThread", code)};
    }
    // Our copies of the write ends close at the end of this scope; the child's stay.
    if (!child->out.start(error) || !child->err.start(error) ||
        (launch.standard_input && !child->in.start(*launch.standard_input, error))) {
        if (child->job) {
            ::TerminateJobObject(child->job.get(), 1);
        } else {
            ::TerminateProcess(child->process.get(), 1);
        }
        return ChildStart{0, error};
    }
    std::lock_guard guard(g_children_mutex);
    const Handle handle = g_next_child++;
    g_children.emplace(handle, std::move(child));
    return ChildStart{handle, {}};
}

ChildStatus Win32Platform::check_child_exit(Handle handle) {
    Win32Child* child = find_child(handle);
    if (child == nullptr) {
        return ChildStatus{ChildState::failed, 0, "unknown child process"};
    }
    switch (::WaitForSingleObject(child->process.get(), 0)) {
        case WAIT_TIMEOUT:
            return ChildStatus{ChildState::running, 0, {}};
        case WAIT_OBJECT_0: {
            DWORD code = 0;
            if (!::GetExitCodeProcess(child->process.get(), &code)) {
                return ChildStatus{ChildState::failed, 0,
                                   error_text("GetExitCodeProcess", ::GetLastError())};
            }
            return ChildStatus{ChildState::exited, code, {}};
        }
        default:
            return ChildStatus{ChildState::failed, 0,
                               error_text("WaitForSingleObject", ::GetLastError())};
    }
}

bool Win32Platform::terminate_child_tree(Handle handle) {
    Win32Child* child = find_child(handle);
    if (child == nullptr) {
        return false;
    }
    if (child->job) {
        return ::TerminateJobObject(child->job.get(), 1) != FALSE;
    }
    return ::TerminateProcess(child->process.get(), 1) != FALSE;
}

bool Win32Platform::wait_child_exit(Handle handle) {
    Win32Child* child = find_child(handle);
    return child != nullptr &&
           ::WaitForSingleObject(child->process.get(), INFINITE) == WAIT_OBJECT_0;
}

ChildOutput Win32Platform::collect_child_output(Handle handle, std::uint32_t grace_ms) {
    Win32Child* child = find_child(handle);
    if (child == nullptr) {
        return ChildOutput{false, {}, {}, "unknown child process"};
    }
    const std::array<HANDLE, 2> finished{child->out.finished_event(), child->err.finished_event()};
    // Both pipes end at once unless something else holds a write end; then
    // whatever arrived within the grace period is all there is.
    ::WaitForMultipleObjects(2, finished.data(), TRUE, grace_ms);
    child->out.stop();
    child->err.stop();
    for (const PipeReader* reader : {&child->out, &child->err}) {
        if (!reader->failure().empty()) {
            return ChildOutput{false, {}, {}, reader->failure()};
        }
    }
    return ChildOutput{true, child->out.bytes(), child->err.bytes(), {}};
}

void Win32Platform::close_child_process(Handle handle) {
    std::unique_ptr<Win32Child> child;
    {
        std::lock_guard guard(g_children_mutex);
        const auto found = g_children.find(handle);
        if (found == g_children.end()) {
            return;
        }
        child = std::move(found->second);
        g_children.erase(found);
    }
    // Destroyed outside the lock: stopping the readers joins their threads.
}

}  // namespace cua_actions::windows
