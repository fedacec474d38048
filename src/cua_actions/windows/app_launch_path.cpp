// What open_app hands the shell. Given a bare program name, the shell looks in
// the current directory and beside this executable before the system folders,
// so a program planted in either would run; bare names are therefore turned
// into full paths here, from the system folders, the App Paths keys and the
// absolute PATH folders only.
#include <array>

#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/app_launch.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Windows' own list, used when PATHEXT is unset.
constexpr std::string_view kDefaultPathExt =
    ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";
// App Paths keys are named after the program file.
constexpr std::string_view kAppPathsExtension = ".exe";

struct AppPathsKey {
    RegistryRoot root;
    std::string_view subkey;
};

// The keys the index reads, in the same order.
constexpr std::array<AppPathsKey, 3> kAppPathsKeys{{
    {RegistryRoot::local_machine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
    {RegistryRoot::local_machine,
     "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
    {RegistryRoot::current_user, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
}};

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_scheme_char(char c) {
    return is_ascii_letter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-';
}

std::string_view unquoted(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

std::optional<std::string> env(const char* name) {
    return platform().get_env(name);
}

// PATHEXT's entries that look like extensions (".EXE"), in order.
std::vector<std::string> program_extensions() {
    const std::string list = env("PATHEXT").value_or(std::string(kDefaultPathExt));
    std::vector<std::string> extensions;
    for (const std::string_view piece : text::split(list, ';')) {
        std::string extension = text::trim(piece);
        if (extension.size() > 1 && extension.front() == '.') {
            extensions.push_back(std::move(extension));
        }
    }
    return extensions;
}

bool has_extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot != std::string_view::npos && dot > 0 && dot + 1 < name.size();
}

// The file names a bare name may stand for: itself when it already ends in a
// program extension, else itself with each program extension appended.
std::vector<std::string> program_file_names(std::string_view name) {
    const std::vector<std::string> extensions = program_extensions();
    if (has_extension(name)) {
        const std::string lower = text::ascii_lower(name.substr(name.rfind('.')));
        for (const std::string& extension : extensions) {
            if (text::ascii_lower(extension) == lower) {
                return {std::string(name)};
            }
        }
    }
    std::vector<std::string> names;
    for (const std::string& extension : extensions) {
        names.push_back(std::string(name) + extension);
    }
    return names;
}

bool is_file(const std::string& path) {
    const std::optional<std::uint32_t> attributes =
        platform().get_file_attributes(text::utf8_to_utf16(path));
    return attributes && (*attributes & kFileAttributeDirectory) == 0;
}

std::optional<std::string> find_in_system_folders(const std::vector<std::string>& file_names) {
    const std::string drive = env("SystemDrive").value_or("C:");
    const std::string root = env("SystemRoot").value_or(drive + "\\Windows");
    for (const std::string& folder : {root + "\\System32", root + "\\System", root}) {
        for (const std::string& file_name : file_names) {
            const std::string path = folder + "\\" + file_name;
            if (is_file(path)) {
                return path;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> find_in_app_paths(std::string_view name) {
    const std::string key_name = has_extension(name)
                                     ? std::string(name)
                                     : std::string(name) + std::string(kAppPathsExtension);
    for (const AppPathsKey& key : kAppPathsKeys) {
        const std::optional<std::string> value =
            platform().get_registry_string(key.root, std::string(key.subkey) + "\\" + key_name);
        if (!value) {
            continue;
        }
        const std::string expanded = text::trim(win_expand_env_refs(*value));
        const std::string path(unquoted(expanded));
        if (win_launch_file_kind(path) == LaunchFileKind::full_path && is_file(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> find_on_path(const std::vector<std::string>& file_names) {
    for (const std::string& file_name : file_names) {
        if (std::optional<std::string> path = platform().search_path(file_name)) {
            return path;
        }
    }
    return std::nullopt;
}

}  // namespace

LaunchFileKind win_launch_file_kind(std::string_view file) {
    if (file.size() >= 3 && is_ascii_letter(file[0]) && file[1] == ':' && is_separator(file[2])) {
        return LaunchFileKind::full_path;
    }
    if (file.size() >= 2 && is_separator(file[0]) && is_separator(file[1])) {
        return LaunchFileKind::full_path;  // \\server\share\...
    }
    // A scheme of two or more characters: one letter before a colon is a drive.
    const std::size_t colon = file.find(':');
    if (colon != std::string_view::npos && colon >= 2 && is_ascii_letter(file[0])) {
        bool scheme = true;
        for (std::size_t i = 1; i < colon; ++i) {
            scheme = scheme && is_scheme_char(file[i]);
        }
        if (scheme) {
            return LaunchFileKind::uri;
        }
    }
    if (file.find_first_of("\\/:") != std::string_view::npos) {
        return LaunchFileKind::relative_path;  // resolved against the current directory
    }
    return LaunchFileKind::bare_name;
}

std::optional<std::string> win_find_program(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    const std::vector<std::string> file_names = program_file_names(name);
    if (auto path = find_in_system_folders(file_names)) {
        return path;
    }
    if (auto path = find_in_app_paths(name)) {
        return path;
    }
    return find_on_path(file_names);
}

std::optional<std::string> win_launchable_file(const std::string& file) {
    const std::string trimmed = text::trim(file);
    const std::string_view inner = unquoted(trimmed);
    switch (win_launch_file_kind(inner)) {
        case LaunchFileKind::full_path:
        case LaunchFileKind::uri:
            return file;  // exactly as given
        case LaunchFileKind::bare_name:
            return win_find_program(inner);
        case LaunchFileKind::relative_path:
            break;
    }
    return std::nullopt;
}

}  // namespace cua_actions::windows
