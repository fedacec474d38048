// Simulated folder links, folder identities, file attributes and registry
// strings: enough of a file system for link loops and program lookups.
#include <algorithm>

#include "support/sim_desktop.h"
#include "text/text.h"

namespace sim {

using cua_actions::windows::FolderIdentity;
using cua_actions::windows::RegistryRoot;

namespace {

// Windows gives up on a path after this many reparse points.
constexpr int kMaxLinkHops = 63;
constexpr std::uint32_t kAttributeArchive = 0x20;        // FILE_ATTRIBUTE_ARCHIVE
constexpr std::uint32_t kAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

char16_t ascii_lower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// File names compare without regard to ASCII case, as on Windows.
bool same_name(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char16_t x, char16_t y) { return ascii_lower(x) == ascii_lower(y); });
}

const SimFolderItem* find_item(const std::map<std::u16string, SimFolder>& folders,
                               const std::u16string& folder, std::u16string_view name) {
    const auto found = folders.find(folder);
    if (found == folders.end()) {
        return nullptr;
    }
    const auto& items = found->second.items;
    const auto item = std::find_if(items.begin(), items.end(), [&](const SimFolderItem& candidate) {
        return same_name(candidate.name, name);
    });
    return item == items.end() ? nullptr : &*item;
}

// Walks `path` component by component, replacing the text so far by a
// link's target wherever a link is met.
std::optional<std::u16string> resolve_in(const std::map<std::u16string, SimFolder>& folders,
                                         std::u16string_view path, int& hops) {
    if (folders.count(std::u16string(path)) != 0) {
        return std::u16string(path);  // no link on the way
    }
    std::size_t slash = path.find(u'\\');
    std::u16string current(path.substr(0, slash));
    while (slash != std::u16string_view::npos) {
        const std::size_t next = path.find(u'\\', slash + 1);
        const std::u16string_view name =
            path.substr(slash + 1, next == std::u16string_view::npos ? std::u16string_view::npos
                                                                     : next - slash - 1);
        slash = next;
        if (name.empty()) {
            continue;  // a trailing or doubled separator
        }
        const SimFolderItem* item = find_item(folders, current, name);
        if (item != nullptr && item->link_target) {
            if (++hops > kMaxLinkHops) {
                return std::nullopt;
            }
            std::optional<std::u16string> target = resolve_in(folders, *item->link_target, hops);
            if (!target) {
                return std::nullopt;
            }
            current = std::move(*target);
        } else {
            current += u'\\';
            current += item != nullptr ? std::u16string_view(item->name) : name;  // as stored
        }
    }
    if (folders.count(current) == 0) {
        return std::nullopt;
    }
    return current;
}

}  // namespace

void SimDesktop::add_folder_link(const std::string& path_utf8, const std::string& target_utf8) {
    auto guard = lock();
    const std::u16string path = text::utf8_to_utf16(path_utf8);
    const std::size_t slash = path.rfind(u'\\');
    const std::u16string parent = path.substr(0, slash);
    add_file(parent, true);
    folders[parent].items.push_back(
        SimFolderItem{path.substr(slash + 1), false, false, text::utf8_to_utf16(target_utf8)});
}

std::optional<std::u16string> SimDesktop::resolve_folder(const std::u16string& path) {
    auto guard = lock();
    int hops = 0;
    return resolve_in(folders, path, hops);
}

std::optional<FolderIdentity> SimDesktop::get_folder_identity(const std::u16string& path) {
    auto guard = lock();
    identity_queries.push_back(path);
    const std::optional<std::u16string> resolved = resolve_folder(path);
    if (!resolved) {
        return std::nullopt;
    }
    SimFolder& folder = folders[*resolved];
    if (folder.identity_fails) {
        return std::nullopt;
    }
    if (!folder.identity) {
        folder.identity = FolderIdentity{kSimVolumeSerial, next_file_index++};
    }
    return folder.identity;
}

std::optional<std::uint32_t> SimDesktop::get_file_attributes(const std::u16string& path) {
    auto guard = lock();
    const std::size_t slash = path.rfind(u'\\');
    if (slash != std::u16string::npos) {
        if (const std::optional<std::u16string> parent = resolve_folder(path.substr(0, slash))) {
            // The last component is not followed: a link reports itself.
            if (const SimFolderItem* item = find_item(folders, *parent, path.substr(slash + 1))) {
                if (item->link_target) {
                    return cua_actions::windows::kFileAttributeDirectory | kAttributeReparsePoint;
                }
                return item->is_folder ? cua_actions::windows::kFileAttributeDirectory
                                       : kAttributeArchive;
            }
        }
    }
    if (resolve_folder(path)) {
        return cua_actions::windows::kFileAttributeDirectory;
    }
    return std::nullopt;
}

std::optional<std::string> SimDesktop::get_registry_string(RegistryRoot root,
                                                           const std::string& subkey) {
    auto guard = lock();
    const std::string key = (root == RegistryRoot::local_machine ? "HKLM\\" : "HKCU\\") + subkey;
    const auto found = registry_strings.find(key);
    if (found == registry_strings.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace sim
