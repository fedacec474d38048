#pragma once
// The latest ui_elements of each window, kept in the per-user data directory so a
// later process can act on an element id: each id with its path, role and name.

#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/ui_elements.h"

namespace cua_actions::windows {

inline constexpr const char* kElementSnapshotFile = "ui_elements.json";
inline constexpr std::size_t kElementSnapshotWindows = 8;  // windows remembered at most

// Where the snapshot document lives; tests install one in memory.
class ElementSnapshotStore {
  public:
    virtual ~ElementSnapshotStore() = default;
    virtual std::optional<std::string> read() = 0;  // nothing when there is none
    virtual zelto::Status write(const std::string& document) = 0;
};

ElementSnapshotStore& element_snapshot_store();
// Installs `replacement` (not owned); nullptr restores the data-directory file.
void set_element_snapshot_store(ElementSnapshotStore* replacement);

struct SnapshotElement {
    int id = 0;
    ElementPath path;
    std::string role;
    std::string name;
};

struct ElementSnapshot {
    Handle window = 0;
    std::vector<SnapshotElement> elements;
};

// Keeps `elements` as the latest snapshot of `window` (and as the latest overall),
// dropping windows that have closed and the oldest beyond kElementSnapshotWindows.
zelto::Status save_element_snapshot(Handle window, const std::vector<UiElement>& elements);
// The latest snapshot of `window`, or of the window walked last when it is 0.
std::optional<ElementSnapshot> load_element_snapshot(Handle window);

}  // namespace cua_actions::windows
