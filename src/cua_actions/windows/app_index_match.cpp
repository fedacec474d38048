// Which index entry a request means, and which top-level window shows it.
#include <algorithm>

#include "cua_actions/windows/app_index.h"
#include "text/text.h"

namespace cua_actions::windows {

const WinAppEntry* win_match_index(std::string_view query, const std::vector<WinAppEntry>& index) {
    const std::string q = text::to_lower(text::trim(query));
    if (q.empty() || index.empty()) {
        return nullptr;
    }
    for (const WinAppEntry& entry : index) {
        if (text::to_lower(entry.name) == q) {
            return &entry;
        }
    }
    const WinAppEntry* best = nullptr;
    for (const WinAppEntry& entry : index) {
        if (text::to_lower(entry.name).find(q) == std::string::npos) {
            continue;
        }
        // Stored length in bytes; on a tie the earlier entry stays.
        if (best == nullptr || entry.name.size() < best->name.size()) {
            best = &entry;
        }
    }
    return best;
}

std::optional<WinAppEntry> win_resolve_app(std::string_view query,
                                           const std::vector<WinAppEntry>& index) {
    if (const WinAppEntry* direct = win_match_index(query, index)) {
        return *direct;
    }
    const std::string q = text::to_lower(text::trim(query));
    for (const std::string_view alias : win_app_alias_names(query)) {
        if (alias == q) {
            continue;  // the query itself has just missed
        }
        if (const WinAppEntry* found = win_match_index(alias, index)) {
            platform().write_stderr_line(
                text::concat({kOpenAppTag, " alias resolved '", query, "' via '", alias, "' -> '",
                              found->name, "'"}));
            return *found;
        }
    }
    return std::nullopt;
}

std::string win_window_title(Handle window) {
    const WindowText title = platform().get_window_text(window, kWindowTitleBufferUnits);
    if (title.length <= 0) {
        return {};
    }
    // A title cut at the buffer's end may leave half a surrogate pair: U+FFFD.
    const std::size_t units =
        std::min<std::size_t>(static_cast<std::size_t>(title.length), title.text.size());
    return text::utf16_to_utf8(std::u16string_view(title.text).substr(0, units));
}

std::optional<Handle> win_find_window_any(const std::vector<std::string>& terms) {
    for (const std::string& term : terms) {
        const std::string needle = text::to_lower(term);
        for (Handle window = platform().get_top_window(0); window != 0;
             window = platform().get_window(window, kGwHwndNext)) {
            if (!platform().is_window_visible(window)) {
                continue;
            }
            const std::string title = win_window_title(window);
            if (title.empty() || text::to_lower(title).find(needle) == std::string::npos) {
                continue;
            }
            const auto ex_style =
                static_cast<std::uint32_t>(platform().get_window_long(window, kGwlExStyle));
            if ((ex_style & kWsExToolWindow) != 0) {
                continue;
            }
            return window;
        }
    }
    return std::nullopt;
}

}  // namespace cua_actions::windows
