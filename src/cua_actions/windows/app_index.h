#pragma once
// Applications by name: name rules and aliases, the application index with its
// process-wide cache, matching a request against the index, and the search of
// top-level windows by title.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

// One launchable application. Every field may be empty.
struct WinAppEntry {
    std::string name;      // matched and de-duplicated by; titles searched for first
    std::string lnk_path;  // Start Menu shortcut to open (shortcut entries only)
    std::string target;    // program to open: full path, bare file name or explorer.exe
    std::string args;      // parameters for `target` (Start-apps entries only)
    friend bool operator==(const WinAppEntry&, const WinAppEntry&) = default;
};

struct WinAppIndexCache {
    std::vector<WinAppEntry> entries;
    std::chrono::nanoseconds built_at{0};  // monotonic, right after the last build
};

inline constexpr std::chrono::seconds kAppIndexCacheLifetime{300};
inline constexpr int kExeScanMaxDepth = 3;
inline constexpr char kRegProgram[] = "reg.exe";
inline constexpr char kStartAppsQuery[] =
    "try { Get-StartApps | Select-Object Name,AppID | ConvertTo-Json -Compress } catch { '[]' }";
inline constexpr char kStartMenuSuffix[] = "\\Microsoft\\Windows\\Start Menu\\Programs";
inline constexpr char kOpenAppTag[] = "[CUA-open-win]";

// --- names -------------------------------------------------------------------------
// Trimmed, one ".exe"/".EXE" suffix removed, trimmed again: "  Code.exe " -> "Code".
std::string win_normalize_app_name(std::string_view name);
// The alias group the trimmed, lower-cased name belongs to, or an empty list.
std::span<const std::string_view> win_app_alias_names(std::string_view name);
// Installer, updater and document entries: "Lark Updater" -> true.
bool win_should_skip_app_name(std::string_view name);
// Entry name, request, request's aliases: trimmed, non-empty, first of equals kept.
std::vector<std::string> win_window_search_terms(std::string_view requested,
                                                 const WinAppEntry* entry);

// --- index -------------------------------------------------------------------------
std::vector<WinAppEntry> win_build_app_index();
// Shortcut entries under `folder`, subfolders without depth limit; nothing when
// the folder or one of its entries cannot be read. Each folder is entered
// once, known by its identity on disk, so link loops end.
std::optional<std::vector<WinAppEntry>> win_scan_lnk_dir(const std::u16string& folder);
// Program entries under `folder`, down to kExeScanMaxDepth levels below the
// root; each folder entered once, as above.
void win_scan_exe_dir(std::vector<WinAppEntry>& out, const std::u16string& folder, int depth);
// Entries of the output of `reg query <key> /s /ve`.
std::vector<WinAppEntry> win_parse_reg_app_paths(std::string_view output);
// %NAME% replaced by the variable's value when it is set; everything else kept.
std::string win_expand_env_refs(std::string_view data);
// Entries of the Start-apps query's JSON output.
std::vector<WinAppEntry> win_parse_start_apps(std::string_view output);
// Skip filter, then de-duplication by lower-cased name (first wins).
std::vector<WinAppEntry> win_filter_app_entries(std::vector<WinAppEntry> entries);

// A copy of the cached index; rebuilt when forced or 300 s old.
std::vector<WinAppEntry> win_get_app_index(bool force_refresh);
// Drops the process-wide cache so a test starts as a fresh process would.
void reset_app_index_cache_for_testing();

// --- matching ----------------------------------------------------------------------
// Exact (lower-cased) name first, else the shortest name containing the query.
const WinAppEntry* win_match_index(std::string_view query, const std::vector<WinAppEntry>& index);
// win_match_index, then the query's aliases in table order.
std::optional<WinAppEntry> win_resolve_app(std::string_view query,
                                           const std::vector<WinAppEntry>& index);

// --- windows -----------------------------------------------------------------------
inline constexpr int kWindowTitleBufferUnits = 512;
// The window's title as UTF-8; empty when it has none.
std::string win_window_title(Handle window);
// First visible, titled, non-tool top-level window whose title contains a
// term, trying the terms one after the other over the whole Z order.
std::optional<Handle> win_find_window_any(const std::vector<std::string>& terms);

}  // namespace cua_actions::windows
