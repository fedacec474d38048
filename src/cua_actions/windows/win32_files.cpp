// Win32 folder identity, file attributes and registry strings: what the index
// scans use to end link loops and what open_app uses to find programs.
#include <windows.h>

#include "cua_actions/windows/win32_handles.h"
#include "cua_actions/windows/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Owns a handle from CreateFileW.
class ScopedFileHandle {
  public:
    explicit ScopedFileHandle(HANDLE file) : file_(file) {}
    ~ScopedFileHandle() {
        if (file_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file_);
        }
    }
    ScopedFileHandle(const ScopedFileHandle&) = delete;
    ScopedFileHandle& operator=(const ScopedFileHandle&) = delete;
    HANDLE get() const { return file_; }

  private:
    HANDLE file_;
};

}  // namespace

std::optional<FolderIdentity> Win32Platform::get_folder_identity(const std::u16string& path) {
    // Backup semantics let CreateFileW open a folder; without
    // FILE_FLAG_OPEN_REPARSE_POINT a link is followed to the folder it names,
    // so every path reaching one folder yields the same identity.
    const ScopedFileHandle folder(::CreateFileW(
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
