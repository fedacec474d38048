// The application index: its sources in priority order, the parsers of the
// two query programs, and the process-wide cache.
#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>

#include "cua_actions/action_result.h"
#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/child_process.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

struct BuiltinApp {
    std::string_view display_name;
    std::string_view executable;
};

constexpr std::array<BuiltinApp, 10> kBuiltinApps{{
    {"Notepad", "notepad.exe"},
    {"Command Prompt", "cmd.exe"},
    {"PowerShell", "powershell.exe"},
    {"Windows Terminal", "wt.exe"},
    {"Paint", "mspaint.exe"},
    {"WordPad", "write.exe"},
    {"Registry Editor", "regedit.exe"},
    {"Task Manager", "taskmgr.exe"},
    {"File Explorer", "explorer.exe"},
    {"Calculator", "calc.exe"},
}};
// Listed even when System32 does not hold it: on current systems the
// calculator is a Store app reached through this name.
constexpr std::string_view kAlwaysListedBuiltin = "calc.exe";

constexpr std::array<std::string_view, 3> kAppPathsKeys{
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
};

constexpr std::string_view kRegKeyPrefix = "HKEY_";
constexpr std::string_view kRegTypeMarker = "REG_";
constexpr std::string_view kStartAppsTarget = "explorer.exe";
constexpr std::string_view kStartAppsArgsPrefix = "shell:AppsFolder\\";
// reg and powershell start nothing that outlives them; this only bounds the
// wait for end-of-file should one ever do so.
constexpr std::uint32_t kQueryOutputGraceMs = 250;
// A query that runs longer is hung (reg and Get-StartApps answer in a second or two).
constexpr std::chrono::seconds kQueryTimeLimit{30};
constexpr std::uint32_t kQueryPollMs = 5;

bool is_white_space(char16_t unit) {
    // Every White_Space character lies in the basic plane.
    return (unit >= 0x09 && unit <= 0x0D) || unit == 0x20 || unit == 0x85 || unit == 0xA0 ||
           unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200A) || unit == 0x2028 ||
           unit == 0x2029 || unit == 0x202F || unit == 0x205F || unit == 0x3000;
}

// Invalid sequences become U+FFFD.
std::string decode_lossy(std::string_view bytes) {
    return text::utf16_to_utf8(text::utf8_to_utf16(bytes));
}

struct FileNameParts {
    std::u16string_view stem;
    std::optional<std::u16string_view> extension;
};

// The last path component split at its last dot; a leading dot alone starts
// no extension (".lnk" is a stem).
FileNameParts split_file_name(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string_view name =
        slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(u'.');
    if (name == u".." || dot == std::u16string_view::npos || dot == 0) {
        return {name, std::nullopt};
    }
    return {name.substr(0, dot), name.substr(dot + 1)};
}

bool extension_is(const FileNameParts& parts, std::u16string_view lower_ascii) {
    if (!parts.extension || parts.extension->size() != lower_ascii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lower_ascii.size(); ++i) {
        char16_t unit = (*parts.extension)[i];
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
        if (unit != lower_ascii[i]) {
            return false;
        }
    }
    return true;
}

std::string env_or(const char* name, std::string_view fallback) {
    std::optional<std::string> value = platform().get_env(name);
    return value ? std::move(*value) : std::string(fallback);
}

// Runs a program from the search path without a console window, for at most
// kQueryTimeLimit (a hung query is ended with its tree and adds nothing); when
// it exits with code 0, its standard output as UTF-8 (reg and PowerShell write
// the OEM code page when it is not UTF-8).
std::optional<std::string> run_query_program(const char* program,
                                             std::vector<std::string> arguments) {
    const std::optional<std::string> path = platform().search_path(program);
    if (!path) {
        return std::nullopt;
    }
    ChildProcessLaunch launch;
    launch.program = *path;
    launch.arguments = std::move(arguments);
    launch.creation_flags = kCreateNoWindow;
    ChildRunOptions options;
    options.time_limit = kQueryTimeLimit;
    options.poll_ms = kQueryPollMs;
    options.output_grace_ms = kQueryOutputGraceMs;
    ChildRun run = run_child(launch, options);
    if (run.outcome != ChildRun::Outcome::exited || run.exit_code != 0) {
        return std::nullopt;
    }
    return decode_child_output(run.out);
}

void append(std::vector<WinAppEntry>& out, std::vector<WinAppEntry> more) {
    out.insert(out.end(), std::make_move_iterator(more.begin()),
               std::make_move_iterator(more.end()));
}

// The first present key among `keys`; its value when it is a string.
std::optional<std::string> first_string_member(const Json& object,
                                               std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        if (const Json* value = find_param(object, key)) {
            if (!value->is_string()) {
                return std::nullopt;
            }
            return value->get<std::string>();
        }
    }
    return std::nullopt;
}

}  // namespace

namespace {

// The folders one scan has entered, by what they are on disk: a link back up
// the tree names a folder already entered under other path text, and entering
// it again would walk the loop for ever.
using VisitedFolders = std::set<FolderIdentity>;

// False for a folder this scan entered before, or one whose identity cannot
// be read (it cannot be told apart from one entered before); otherwise the
// folder is recorded and may be entered.
bool enter_folder_once(VisitedFolders& visited, const std::u16string& folder) {
    const std::optional<FolderIdentity> identity = platform().get_folder_identity(folder);
    return identity && visited.insert(*identity).second;
}

std::optional<std::vector<WinAppEntry>> scan_lnk_dir(const std::u16string& folder,
                                                     VisitedFolders& visited) {
    if (!enter_folder_once(visited, folder)) {
        return std::nullopt;
    }
    std::optional<std::vector<FolderEntry>> listing = platform().list_folder(folder);
    if (!listing) {
        return std::nullopt;
    }
    std::vector<WinAppEntry> entries;
    for (const FolderEntry& item : *listing) {
        if (item.read_failed) {
            return std::nullopt;  // the whole folder, subfolders included, is dropped
        }
        if (item.is_folder) {
            if (text::is_valid_utf16(item.path)) {
                if (auto nested = scan_lnk_dir(item.path, visited)) {
                    append(entries, std::move(*nested));
                }
            }
            continue;
        }
        const FileNameParts parts = split_file_name(item.path);
        if (!extension_is(parts, u"lnk") || parts.stem.empty() ||
            !text::is_valid_utf16(parts.stem)) {
            continue;
        }
        WinAppEntry entry;
        entry.name = text::utf16_to_utf8(parts.stem);
        entry.lnk_path = text::utf16_to_utf8(item.path);
        entries.push_back(std::move(entry));
    }
    return entries;
}

void scan_exe_dir(std::vector<WinAppEntry>& out, const std::u16string& folder, int depth,
                  VisitedFolders& visited) {
    if (depth > kExeScanMaxDepth || !enter_folder_once(visited, folder)) {
        return;
    }
    const std::optional<std::vector<FolderEntry>> listing = platform().list_folder(folder);
    if (!listing) {
        return;
    }
    for (const FolderEntry& item : *listing) {
        if (item.read_failed) {
            continue;
        }
        if (item.is_folder) {
            scan_exe_dir(out, item.path, depth + 1, visited);
            continue;
        }
        const FileNameParts parts = split_file_name(item.path);
        if (!extension_is(parts, u"exe")) {
            continue;
        }
        const std::string stem =
            text::is_valid_utf16(parts.stem) ? text::utf16_to_utf8(parts.stem) : "";
        std::string name = win_normalize_app_name(stem);
        if (name.empty() || win_should_skip_app_name(name)) {
            continue;
        }
        WinAppEntry entry;
        entry.name = std::move(name);
        entry.target = text::utf16_to_utf8(item.path);
        out.push_back(std::move(entry));
    }
}

}  // namespace

std::optional<std::vector<WinAppEntry>> win_scan_lnk_dir(const std::u16string& folder) {
    VisitedFolders visited;
    return scan_lnk_dir(folder, visited);
}

void win_scan_exe_dir(std::vector<WinAppEntry>& out, const std::u16string& folder, int depth) {
    VisitedFolders visited;
    scan_exe_dir(out, folder, depth, visited);
}

std::string win_expand_env_refs(std::string_view data) {
    std::string result;
    std::size_t i = 0;
    while (i < data.size()) {
        if (data[i] != '%') {
            result.push_back(data[i]);
            ++i;
            continue;
        }
        const std::size_t close = data.find('%', i + 1);
        if (close == std::string_view::npos || close == i + 1) {
            result.push_back('%');  // no name: an ordinary character
            ++i;
            continue;
        }
        const std::string name(data.substr(i + 1, close - i - 1));
        if (const std::optional<std::string> value = platform().get_env(name)) {
            result += *value;
        } else {
            result.append(data.substr(i, close - i + 1));
        }
        i = close + 1;
    }
    return result;
}

std::vector<WinAppEntry> win_parse_reg_app_paths(std::string_view output) {
    const std::string decoded = decode_lossy(output);
    std::vector<WinAppEntry> entries;
    std::optional<std::string> current_key;
    for (std::string_view raw : text::split(decoded, '\n')) {
        if (raw.ends_with('\r')) {
            raw.remove_suffix(1);
        }
        const std::string line = text::trim(raw);
        if (line.empty()) {
            continue;
        }
        if (line.starts_with(kRegKeyPrefix)) {
            current_key = line;
            continue;
        }
        const std::size_t marker = line.find(kRegTypeMarker);
        if (marker == std::string::npos || !current_key) {
            continue;
        }
        const std::u16string value = text::utf8_to_utf16(std::string_view(line).substr(marker));
        std::size_t split = 0;
        while (split < value.size() && !is_white_space(value[split])) {
            ++split;
        }
        const std::string type = text::utf16_to_utf8(std::u16string_view(value).substr(0, split));
        if (type != "REG_SZ" && type != "REG_EXPAND_SZ") {
            continue;
        }
        const std::string data =
            split < value.size()
                ? text::trim(text::utf16_to_utf8(std::u16string_view(value).substr(split + 1)))
                : std::string();
        if (data.empty()) {
            continue;
        }
        std::string target = win_expand_env_refs(data);
        const std::size_t slash = current_key->rfind('\\');
        const std::string_view last_component =
            slash == std::string::npos ? std::string_view(*current_key)
                                       : std::string_view(*current_key).substr(slash + 1);
        std::string name = win_normalize_app_name(last_component);
        if (name.empty() || win_should_skip_app_name(name)) {
            continue;
        }
        entries.push_back(WinAppEntry{std::move(name), {}, std::move(target), {}});
    }
    return entries;
}

std::vector<WinAppEntry> win_parse_start_apps(std::string_view output) {
    const std::string decoded = text::trim(decode_lossy(output));
    if (decoded.empty()) {
        return {};
    }
    // Strict over every byte, so a NUL and whatever follows it spoil the document.
    const Json document = text::read_json(decoded).value;  // null when it does not parse
    std::vector<const Json*> elements;
    if (document.is_array()) {
        for (const Json& element : document) {
            elements.push_back(&element);
        }
    } else if (document.is_object()) {
        elements.push_back(&document);
    }
    std::vector<WinAppEntry> entries;
    for (const Json* element : elements) {
        if (!element->is_object()) {
            continue;
        }
        const std::optional<std::string> raw_name = first_string_member(*element, {"Name", "name"});
        const std::string name = raw_name ? win_normalize_app_name(*raw_name) : std::string();
        const std::optional<std::string> raw_id =
            first_string_member(*element, {"AppID", "AppId", "appId", "appid"});
        const std::string app_id = raw_id ? text::trim(*raw_id) : std::string();
        if (name.empty() || app_id.empty() || win_should_skip_app_name(name)) {
            continue;
        }
        entries.push_back(WinAppEntry{
            name, {}, std::string(kStartAppsTarget), std::string(kStartAppsArgsPrefix) + app_id});
    }
    return entries;
}

std::vector<WinAppEntry> win_filter_app_entries(std::vector<WinAppEntry> entries) {
    std::vector<WinAppEntry> kept;
    std::set<std::string> seen;
    for (WinAppEntry& entry : entries) {
        if (win_should_skip_app_name(entry.name)) {
            continue;
        }
        if (!seen.insert(text::to_lower(entry.name)).second) {
            continue;  // an earlier source already has this name
        }
        kept.push_back(std::move(entry));
    }
    return kept;
}

std::vector<WinAppEntry> win_build_app_index() {
    const std::string drive = env_or("SystemDrive", "C:");
    const std::string all_users_menu =
        env_or("ProgramData", drive + "\\ProgramData") + kStartMenuSuffix;
    const std::string user_menu = env_or("APPDATA", "") + kStartMenuSuffix;

    std::vector<WinAppEntry> entries;
    for (const std::string& menu : {all_users_menu, user_menu}) {
        if (auto shortcuts = win_scan_lnk_dir(text::utf8_to_utf16(menu))) {
            append(entries, std::move(*shortcuts));
        }
    }

    const std::string local = env_or("LOCALAPPDATA", "");
    if (!local.empty()) {
        const bool has_separator = local.ends_with('\\') || local.ends_with('/');
        win_scan_exe_dir(entries,
                         text::utf8_to_utf16(local + (has_separator ? "" : "\\") + "Programs"), 0);
    }

    for (const std::string_view key : kAppPathsKeys) {
        if (auto output =
                run_query_program(kRegProgram, {"query", std::string(key), "/s", "/ve"})) {
            append(entries, win_parse_reg_app_paths(*output));
        }
    }

    if (auto output = run_query_program(
            kPowerShellProgram, {"-NoProfile", "-NonInteractive", "-Command", kStartAppsQuery})) {
        append(entries, win_parse_start_apps(*output));
    }

    const std::string system_root = env_or("SystemRoot", drive + "\\Windows");
    for (const BuiltinApp& app : kBuiltinApps) {
        const std::string test_path = system_root + "\\System32\\" + std::string(app.executable);
        if (app.executable == kAlwaysListedBuiltin ||
            platform().path_metadata_readable(text::utf8_to_utf16(test_path))) {
            entries.push_back(
                WinAppEntry{std::string(app.display_name), {}, std::string(app.executable), {}});
        }
    }

    return win_filter_app_entries(std::move(entries));
}

// --- the process-wide cache ----------------------------------------------------------
namespace {

struct CacheSlot {
    std::once_flag created;
    std::mutex mutex;
    WinAppIndexCache cache;
};

// Heap-held so tests can replace it; never freed otherwise.
CacheSlot*& cache_slot() {
    static CacheSlot* slot = new CacheSlot;
    return slot;
}

}  // namespace

std::vector<WinAppEntry> win_get_app_index(bool force_refresh) {
    CacheSlot& slot = *cache_slot();
    std::call_once(slot.created, [&slot] {
        slot.cache.entries = win_build_app_index();
        slot.cache.built_at = platform().monotonic_now();
    });
    const std::lock_guard guard(slot.mutex);
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(platform().monotonic_now() -
                                                                      slot.cache.built_at);
    if (force_refresh || age >= kAppIndexCacheLifetime) {
        slot.cache.entries = win_build_app_index();
        slot.cache.built_at = platform().monotonic_now();
    }
    return slot.cache.entries;
}

void reset_app_index_cache_for_testing() {
    CacheSlot*& slot = cache_slot();
    delete slot;
    slot = new CacheSlot;
}

}  // namespace cua_actions::windows
