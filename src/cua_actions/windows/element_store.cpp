// The snapshot document: {"latest": id, "windows": [{"id", "elements": [[id, path,
// role, name], ...]}, ...]}, most recent window first.
#include "cua_actions/windows/element_store.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "logging/config_time.h"

namespace cua_actions::windows {
namespace {

class DataDirectoryStore : public ElementSnapshotStore {
  public:
    std::optional<std::string> read() override {
        const auto dir = logging::data_directory();
        if (!dir) {
            return std::nullopt;
        }
        std::ifstream file(*dir / kElementSnapshotFile, std::ios::binary);
        if (!file) {
            return std::nullopt;
        }
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    zelto::Status write(const std::string& document) override {
        const auto dir = logging::data_directory();
        if (!dir) {
            return zelto::fail("no home directory");
        }
        std::error_code error;
        std::filesystem::create_directories(*dir, error);
        // Written beside and renamed over, so a reader never sees half a document.
        const auto target = *dir / kElementSnapshotFile;
        auto partial = target;
        partial += ".partial";
        {
            std::ofstream file(partial, std::ios::binary | std::ios::trunc);
            file << document;
            if (!file.flush()) {
                return zelto::fail("cannot write " + partial.string());
            }
        }
        std::filesystem::rename(partial, target, error);
        if (error) {
            return zelto::fail("cannot replace " + target.string() + ": " + error.message());
        }
        return zelto::done();
    }
};

ElementSnapshotStore* g_store = nullptr;

Json read_document() {
    const std::optional<std::string> bytes = element_snapshot_store().read();
    if (!bytes) {
        return Json::object();
    }
    Json document = Json::parse(*bytes, nullptr, false);
    return document.is_object() ? document : Json::object();
}

}  // namespace

ElementSnapshotStore& element_snapshot_store() {
    static DataDirectoryStore file_store;
    return g_store != nullptr ? *g_store : file_store;
}

void set_element_snapshot_store(ElementSnapshotStore* replacement) {
    g_store = replacement;
}

zelto::Status save_element_snapshot(Handle window, const std::vector<UiElement>& elements) {
    const Json previous = read_document();
    Json entries = Json::array();
    for (const UiElement& element : elements) {
        entries.push_back(Json::array(
            {element.id, format_element_path(element.path), element.role, element.name}));
    }
    Json windows = Json::array({Json{{"id", window}, {"elements", std::move(entries)}}});
    if (const auto old = previous.find("windows"); old != previous.end() && old->is_array()) {
        for (const Json& entry : *old) {
            if (windows.size() >= kElementSnapshotWindows) {
                break;
            }
            const Json* id = entry.is_object() && entry.contains("id") ? &entry["id"] : nullptr;
            if (id != nullptr && id->is_number_unsigned() && id->get<Handle>() != window &&
                platform().is_window(id->get<Handle>())) {
                windows.push_back(entry);
            }
        }
    }
    return element_snapshot_store().write(
        Json{{"latest", window}, {"windows", std::move(windows)}}.dump());
}

std::optional<ElementSnapshot> load_element_snapshot(Handle window) {
    const Json document = read_document();
    if (window == 0) {
        const auto latest = document.find("latest");
        if (latest == document.end() || !latest->is_number_unsigned()) {
            return std::nullopt;
        }
        window = latest->get<Handle>();
    }
    const auto windows = document.find("windows");
    if (windows == document.end() || !windows->is_array()) {
        return std::nullopt;
    }
    for (const Json& entry : *windows) {
        if (!entry.is_object() || entry.value("id", Json()) != Json(window)) {
            continue;
        }
        ElementSnapshot snapshot{window, {}};
        for (const Json& item : entry.value("elements", Json::array())) {
            if (!item.is_array() || item.size() != 4 || !item[0].is_number_integer() ||
                !item[1].is_string() || !item[2].is_string() || !item[3].is_string()) {
                return std::nullopt;  // not a document this program wrote
            }
            const auto path = parse_element_path(item[1].get<std::string>());
            if (!path) {
                return std::nullopt;
            }
            snapshot.elements.push_back(SnapshotElement{
                item[0].get<int>(), *path, item[2].get<std::string>(), item[3].get<std::string>()});
        }
        return snapshot;
    }
    return std::nullopt;
}

}  // namespace cua_actions::windows
