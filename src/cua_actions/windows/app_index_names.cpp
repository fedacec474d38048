// Name rules shared by the index, matching and the window search.
#include <algorithm>
#include <array>

#include "cua_actions/windows/app_index.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Names of one application in English, Pinyin and Chinese; the order is the
// order aliases are tried in.
constexpr std::array<std::string_view, 3> kLarkAliases{"lark", "feishu", "飞书"};
constexpr std::array<std::string_view, 3> kWeChatAliases{"wechat", "weixin", "微信"};
constexpr std::array<std::string_view, 4> kMeetingAliases{"tencentmeeting", "tencent meeting",
                                                          "wemeet", "腾讯会议"};
constexpr std::array<std::span<const std::string_view>, 3> kAliasGroups{
    kLarkAliases, kWeChatAliases, kMeetingAliases};

constexpr std::array<std::string_view, 8> kSkipMarkers{"uninstall",     "setup",   "readme",
                                                       "documentation", "license", "release notes",
                                                       "update",        "updater"};

constexpr std::string_view kExeSuffixLower = ".exe";
constexpr std::string_view kExeSuffixUpper = ".EXE";

}  // namespace

std::string win_normalize_app_name(std::string_view name) {
    std::string trimmed = text::trim(name);
    const std::string_view view = trimmed;
    if (view.ends_with(kExeSuffixLower) || view.ends_with(kExeSuffixUpper)) {
        return text::trim(view.substr(0, view.size() - kExeSuffixLower.size()));
    }
    return trimmed;
}

std::span<const std::string_view> win_app_alias_names(std::string_view name) {
    const std::string key = text::to_lower(text::trim(name));
    for (const auto group : kAliasGroups) {
        if (std::find(group.begin(), group.end(), key) != group.end()) {
            return group;
        }
    }
    return {};
}

bool win_should_skip_app_name(std::string_view name) {
    const std::string lowered = text::to_lower(name);
    return std::any_of(kSkipMarkers.begin(), kSkipMarkers.end(), [&](std::string_view marker) {
        return lowered.find(marker) != std::string::npos;
    });
}

std::vector<std::string> win_window_search_terms(std::string_view requested,
                                                 const WinAppEntry* entry) {
    std::vector<std::string_view> raw;
    if (entry != nullptr) {
        raw.push_back(entry->name);
    }
    raw.push_back(requested);
    // Aliases come from the request, never from the entry's name.
    for (const std::string_view alias : win_app_alias_names(requested)) {
        raw.push_back(alias);
    }
    std::vector<std::string> terms;
    for (const std::string_view item : raw) {
        std::string term = text::trim(item);
        if (term.empty() || std::find(terms.begin(), terms.end(), term) != terms.end()) {
            continue;
        }
        terms.push_back(std::move(term));
    }
    return terms;
}

}  // namespace cua_actions::windows
