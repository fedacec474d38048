// Win32 top-level windows and focus, ShellExecuteW, the folder walk of the
// application index with folder identities, and the file and registry
// lookups that find programs by name.
#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include <algorithm>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Owns a FindFirstFileExW search handle.
class ScopedFind {
  public:
    explicit ScopedFind(HANDLE find) : find_(find) {}
    ~ScopedFind() {
        if (find_ != INVALID_HANDLE_VALUE) {
            ::FindClose(find_);
        }
    }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    HANDLE get() const { return find_; }

  private:
    HANDLE find_;
};

// Owns a file or folder handle from CreateFileW.
class ScopedFile {
  public:
    explicit ScopedFile(HANDLE file) : file_(file) {}
    ~ScopedFile() {
        if (file_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file_);
        }
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    HANDLE get() const { return file_; }

  private:
    HANDLE file_;
};

// The listing reports a link's own attributes; what it names decides.
bool link_names_folder(const std::u16string& path) {
    const ScopedFile file(
        ::CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file.get(), &info) != FALSE &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_dot_entry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') ||
           (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

}  // namespace

Handle Win32Platform::get_top_window(Handle parent) {
    return from_pointer(::GetTopWindow(to_window(parent)));
}

Handle Win32Platform::get_window(Handle window, std::uint32_t command) {
    return from_pointer(::GetWindow(to_window(window), command));
}

bool Win32Platform::is_window_visible(Handle window) {
    return ::IsWindowVisible(to_window(window)) != FALSE;
}

WindowText Win32Platform::get_window_text(Handle window, int buffer_units) {
    if (buffer_units <= 0) {
        return {};
    }
    std::u16string buffer(static_cast<std::size_t>(buffer_units), u'\0');
    const int length = ::GetWindowTextW(to_window(window),
                                        reinterpret_cast<wchar_t*>(buffer.data()), buffer_units);
    if (length <= 0) {
        return WindowText{length, {}};
    }
    buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size() - 1));
    return WindowText{length, std::move(buffer)};
}

std::int32_t Win32Platform::get_window_long(Handle window, int index) {
    return static_cast<std::int32_t>(::GetWindowLongW(to_window(window), index));
}

WindowThreadProcess Win32Platform::get_window_thread_process_id(Handle window) {
    DWORD process_id = 0;
    const DWORD thread_id = ::GetWindowThreadProcessId(to_window(window), &process_id);
    return WindowThreadProcess{thread_id, thread_id != 0 ? process_id : 0};
}

std::optional<Rect> Win32Platform::get_window_rect(Handle window) {
    RECT rect{};
    if (::GetWindowRect(to_window(window), &rect) == FALSE) {
        return std::nullopt;
    }
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

bool Win32Platform::is_iconic(Handle window) {
    return ::IsIconic(to_window(window)) != FALSE;
}

bool Win32Platform::is_zoomed(Handle window) {
    return ::IsZoomed(to_window(window)) != FALSE;
}

bool Win32Platform::set_window_pos(Handle window, Handle insert_after, std::int32_t x,
                                   std::int32_t y, std::int32_t cx, std::int32_t cy,
                                   std::uint32_t flags) {
    return ::SetWindowPos(to_window(window), to_window(insert_after), x, y, cx, cy, flags) != FALSE;
}

bool Win32Platform::set_foreground_window(Handle window) {
    return ::SetForegroundWindow(to_window(window)) != FALSE;
}

bool Win32Platform::bring_window_to_top(Handle window) {
    return ::BringWindowToTop(to_window(window)) != FALSE;
}

Handle Win32Platform::set_focus(Handle window) {
    return from_pointer(::SetFocus(to_window(window)));
}

bool Win32Platform::attach_thread_input(std::uint32_t attach_from, std::uint32_t attach_to,
                                        bool attach) {
    return ::AttachThreadInput(attach_from, attach_to, attach ? TRUE : FALSE) != FALSE;
}

std::uint32_t Win32Platform::get_current_thread_id() {
    return ::GetCurrentThreadId();
}

std::int64_t Win32Platform::shell_execute(Handle owner, const std::string& verb,
                                          const std::string& file,
                                          const std::optional<std::string>& parameters,
                                          const std::optional<std::string>& directory,
                                          int show_command) {
    const std::u16string wide_verb = text::utf8_to_utf16(verb);
    const std::u16string wide_file = text::utf8_to_utf16(file);
    const std::u16string wide_parameters = parameters ? text::utf8_to_utf16(*parameters) : u"";
    const std::u16string wide_directory = directory ? text::utf8_to_utf16(*directory) : u"";
    const HINSTANCE result =
        ::ShellExecuteW(to_window(owner), wide(wide_verb), wide(wide_file),
                        parameters ? wide(wide_parameters) : nullptr,
                        directory ? wide(wide_directory) : nullptr, show_command);
    // Not a real instance handle: a status code, read as a signed integer.
    return static_cast<std::int64_t>(reinterpret_cast<INT_PTR>(result));
}

std::optional<std::vector<FolderEntry>> Win32Platform::list_folder(const std::u16string& path) {
    const bool has_separator = !path.empty() && (path.back() == u'\\' || path.back() == u'/');
    const std::u16string prefix = has_separator ? path : path + u"\\";
    const std::u16string pattern = prefix + u"*";
    WIN32_FIND_DATAW data{};
    const ScopedFind find(::FindFirstFileExW(wide(pattern), FindExInfoBasic, &data,
                                             FindExSearchNameMatch, nullptr, 0));
    if (find.get() == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    while (true) {
        if (!is_dot_entry(data.cFileName)) {
            FolderEntry entry;
            entry.path = prefix + reinterpret_cast<const char16_t*>(data.cFileName);
            const bool is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.is_folder = is_link ? link_names_folder(entry.path)
                                      : (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entries.push_back(std::move(entry));
        }
        if (::FindNextFileW(find.get(), &data) == FALSE) {
            if (::GetLastError() != ERROR_NO_MORE_FILES) {
                FolderEntry failed;
                failed.read_failed = true;
                entries.push_back(std::move(failed));
            }
            break;
        }
    }
    return entries;
}

bool Win32Platform::path_metadata_readable(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data) != FALSE;
}

std::optional<FolderIdentity> Win32Platform::get_folder_identity(const std::u16string& path) {
    // Backup semantics let CreateFileW open a folder; without
    // FILE_FLAG_OPEN_REPARSE_POINT a link is followed to the folder it names,
    // so every path reaching one folder yields the same identity.
    const ScopedFile folder(::CreateFileW(
        wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.get() == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(folder.get(), &info) == FALSE ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    return FolderIdentity{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) |
                                                         std::uint64_t{info.nFileIndexLow}};
}

std::optional<std::uint32_t> Win32Platform::get_file_attributes(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(attributes);
}

std::optional<std::string> Win32Platform::get_registry_string(RegistryRoot root,
                                                              const std::string& subkey) {
    const HKEY root_key =
        root == RegistryRoot::local_machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::u16string wide_subkey = text::utf8_to_utf16(subkey);
    // RRF_RT_REG_EXPAND_SZ is only accepted together with RRF_NOEXPAND; the
    // caller expands %-references itself.
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD bytes = 0;
    if (::RegGetValueW(root_key, wide(wide_subkey), nullptr, flags, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::u16string value(bytes / sizeof(char16_t) + 1, u'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(char16_t));
    if (::RegGetValueW(root_key, wide(wide_subkey), nullptr, flags, nullptr, value.data(),
                       &bytes) != ERROR_SUCCESS) {
        return std::nullopt;  // changed between the two reads: treated as absent
    }
    value.resize(bytes / sizeof(char16_t));
    while (!value.empty() && value.back() == u'\0') {
        value.pop_back();
    }
    if (!text::is_valid_utf16(value)) {
        return std::nullopt;
    }
    return text::utf16_to_utf8(value);
}

}  // namespace cua_actions::windows
