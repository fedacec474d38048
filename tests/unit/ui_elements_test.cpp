// The windows list, focus_window, the bounded walk of a window's controls and acting on
// its elements, on the simulated desktop's window tree.
#include "cua_actions/windows/ui_elements.h"

#include <gtest/gtest.h>

#include "cua_actions/windows/dispatcher.h"
#include "cua_actions/windows/element_store.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kOwnThread = 1;
constexpr std::uint32_t kProbeThread = 20;
constexpr std::uint32_t kBusyThread = 21;
constexpr std::uint32_t kRoleList = 33, kRoleListItem = 34, kRoleLabel = 41, kRoleEdit = 42,
                        kRoleButton = 43, kRoleCheckBox = 44;

class MemoryStore : public ElementSnapshotStore {
  public:
    std::optional<std::string> read() override { return document; }
    zelto::Status write(const std::string& text) override {
        document = text;
        return zelto::done();
    }
    std::optional<std::string> document;
};

class UiElementsTest : public ::testing::Test {
  protected:
    UiElementsTest() {
        set_element_snapshot_store(&store);
        desktop->current_thread_id = kOwnThread;
        sim::SimAppWindow behind;
        behind.title = u"Untitled - Notepad";
        behind.class_name = "Notepad";
        behind.rect = {0, 0, 800, 600};
        behind.thread_id = 30;
        behind.process_id = 31;
        notepad = desktop->add_app_window(behind);
        sim::SimAppWindow front;
        front.title = u"Zelto Controls";
        front.class_name = "ZeltoProbeControls";
        front.rect = {100, 100, 500, 400};
        front.thread_id = kProbeThread;
        front.process_id = 77;
        probe = desktop->add_app_window(front);
        desktop->process_images = {{31, "C:\\windows\\notepad.exe"},
                                   {77, "Z:\\build\\zelto-probe.exe"}};
        desktop->foreground_window = probe;
        button = control("Button", kRoleButton, "OK", {110, 110, 190, 140});
        edit = control("Edit", kRoleEdit, "", {200, 110, 400, 140});
        desktop->control(edit)->value = "hello";
        desktop->control(edit)->editable = true;
        check = control("Button", kRoleCheckBox, "Remember", {110, 150, 250, 170});
        desktop->control(check)->state = kStateChecked;
        list = control("ListBox", kRoleList, "", {110, 180, 300, 300});
        for (const char* item : {"alpha", "beta"}) {
            desktop->control(list)->elements.push_back(
                sim::SimElement{kRoleListItem, item, "", 0, {112, 182, 298, 198}});
        }
        control("Static", kRoleLabel, "Name:", {110, 310, 200, 330});
    }
    ~UiElementsTest() override { set_element_snapshot_store(nullptr); }

    Handle control(std::string class_name, std::uint32_t role, std::string name, Rect rect,
                   Handle parent = 0) {
        sim::SimControl added;
        added.parent = parent != 0 ? parent : probe;
        added.class_name = std::move(class_name);
        added.role = role;
        added.name = std::move(name);
        added.rect = rect;
        return desktop->add_control(added);
    }
    static std::vector<std::string> roles(const Json& result) {
        std::vector<std::string> out;
        for (const Json& element : result["data"]["elements"]) {
            out.push_back(element["role"].get<std::string>());
        }
        return out;
    }
    Json walk(Json params = Json::object()) {
        params["window_id"] = probe;
        return dispatch("ui_elements", params);
    }

    sim::ScopedSimDesktop desktop;
    MemoryStore store;
    Handle notepad = 0, probe = 0, button = 0, edit = 0, check = 0, list = 0;
};

TEST_F(UiElementsTest, ListsEveryControlWithRoleNameValueStateAndPlace) {
    const Json result = walk();
    ASSERT_TRUE(result["ok"].get<bool>()) << result.dump();
    EXPECT_EQ(roles(result), (std::vector<std::string>{"client", "button", "edit", "check_box",
                                                       "list", "list_item", "list_item", "label"}));
    const Json& elements = result["data"]["elements"];
    EXPECT_EQ(elements[0]["name"], "Zelto Controls");
    EXPECT_EQ(elements[0]["parent"], nullptr);
    EXPECT_EQ(elements[1]["center"], Json::array({150, 125}));
    EXPECT_EQ(elements[1]["position"], Json::array({78.1, 115.7}));  // thousandths of 1920x1080
    EXPECT_EQ(elements[1]["parent"], 1);
    EXPECT_EQ(elements[2]["value"], "hello");
    EXPECT_EQ(elements[3]["value"], "checked");
    EXPECT_EQ(elements[3]["states"], Json::array({"checked"}));
    EXPECT_EQ(elements[5]["name"], "alpha");
    EXPECT_EQ(elements[5]["parent"], 5);  // the list
    EXPECT_FALSE(result["data"]["truncated"].get<bool>());
    EXPECT_EQ(result["data"]["window"]["process_name"], "zelto-probe.exe");
    // Every accessible object released, COM undone on the walking thread.
    EXPECT_TRUE(desktop->accessible_objects.empty());
    EXPECT_EQ(desktop->com_initialized, 0);
}

TEST_F(UiElementsTest, BoundsCutTheWalkAndSayTruncated) {
    struct Case {
        const char* what;
        Json params;
        std::uint32_t call_ms;
        std::size_t count;
        bool truncated;
    };
    const Case cases[] = {
        {"element cap", {{"max_elements", 3}}, 0, 3, true},
        {"depth limit", {{"max_depth", 1}}, 0, 6, true},  // no list items
        {"time limit", {{"time_limit_ms", 100}}, 30, 1, true},
        {"interactive only", {{"interactive_only", true}}, 0, 6, false},
        {"within every bound", Json::object(), 0, 8, false},
    };
    for (const Case& c : cases) {
        desktop->accessible_call_ms = c.call_ms;
        const Json result = walk(c.params);
        ASSERT_TRUE(result["ok"].get<bool>()) << c.what;
        EXPECT_EQ(result["data"]["elements"].size(), c.count) << c.what;
        EXPECT_EQ(result["data"]["truncated"].get<bool>(), c.truncated) << c.what;
    }
}

TEST_F(UiElementsTest, HungWindowIsSkippedWithANoteAndTheOthersComeBack) {
    const Handle busy = control("ZeltoBusy", kRoleLabel, "busy", {300, 300, 400, 350});
    desktop->control(busy)->thread_id = kBusyThread;
    desktop->hung_threads.insert(kBusyThread);
    const std::uint64_t before = desktop->now_ms();
    const Json result = walk();
    ASSERT_TRUE(result["ok"].get<bool>());
    EXPECT_EQ(result["data"]["elements"].size(), 8u);
    ASSERT_EQ(result["data"]["notes"].size(), 1u);
    EXPECT_NE(result["data"]["notes"][0].get<std::string>().find("not responding"),
              std::string::npos);
    EXPECT_EQ(desktop->hung_window_calls, 0);  // nothing reached the hung thread but WM_NULL
    EXPECT_EQ(desktop->now_ms() - before, kHungWindowTimeoutMs);
}

TEST_F(UiElementsTest, InvalidLimitsAndWindowsFailClearly) {
    EXPECT_EQ(walk({{"max_elements", -1}})["error"],
              "Invalid max_elements: expected an integer from 1 to 5000");
    EXPECT_EQ(dispatch("ui_elements", {{"window_id", 999}})["error"],
              "No window with id 999 (it may have closed)");
}

TEST_F(UiElementsTest, ClickByElementLandsOnItsCentre) {
    ASSERT_TRUE(walk()["ok"].get<bool>());
    const Json result = dispatch("click", {{"element", 2}});
    ASSERT_TRUE(result["ok"].get<bool>()) << result.dump();
    EXPECT_EQ(desktop->cursor, (Point{150, 125}));
    const auto inputs = desktop->inputs();
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0].mouse.flags, kMouseEventLeftDown);
}

TEST_F(UiElementsTest, ChangedUnknownOrClosedElementsFailWithNothingClicked) {
    ASSERT_TRUE(walk()["ok"].get<bool>());
    desktop->control(button)->name = "Cancel";
    EXPECT_EQ(dispatch("click", {{"element", 2}})["error"],
              "Element 2 changed (was button \"OK\", now button \"Cancel\"); nothing done: "
              "call ui_elements again");
    EXPECT_EQ(
        dispatch("click", {{"element", 42}})["error"],
        "Unknown element 42: not in the latest ui_elements of window " + std::to_string(probe));
    EXPECT_EQ(dispatch("click", {{"element", -1}})["error"],
              "Invalid element: expected an element id from ui_elements");
    desktop->controls.pop_back();  // the label went away
    EXPECT_NE(dispatch("type", {{"element", 8}, {"text", "x"}})["error"].get<std::string>().find(
                  "is gone from window"),
              std::string::npos);
    desktop->post_message(probe, kWmClose, 0, 0);
    EXPECT_NE(dispatch("click", {{"element", 3}})["error"].get<std::string>().find("has closed"),
              std::string::npos);
    EXPECT_TRUE(desktop->inputs().empty());
}

TEST_F(UiElementsTest, SetValueGoesThroughAccessibilityOnlyForEditableElements) {
    ASSERT_TRUE(walk()["ok"].get<bool>());
    const Json set = dispatch("set_value", {{"element", 3}, {"value", "world"}});
    ASSERT_TRUE(set["ok"].get<bool>()) << set.dump();
    EXPECT_EQ(set["data"]["method"], "accessibility");
    EXPECT_EQ(desktop->control(edit)->text, u"world");
    EXPECT_EQ(desktop->control(edit)->value_changes, 1);
    EXPECT_EQ(dispatch("set_value", {{"element", 2}, {"value", "x"}})["error"],
              "Element 2 is a button \"OK\", not an editable element; nothing done");
    desktop->control(edit)->editable = false;  // refuses put_accValue: typed instead
    const Json typed = dispatch("set_value", {{"element", 3}, {"value", "ab"}});
    EXPECT_EQ(typed["data"]["method"], "typing");
    EXPECT_EQ(desktop->cursor, (Point{300, 125}));
    EXPECT_EQ(desktop->inputs().size(), 2u + 4u + 4u);  // click, Ctrl+A, two characters
}

TEST_F(UiElementsTest, ListsWindowsFrontToBackAndFocusBringsTheOneBehindForward) {
    const Json listed = dispatch("list_windows", Json::object());
    ASSERT_EQ(listed["data"]["windows"].size(), 2u);
    EXPECT_EQ(listed["data"]["windows"][0]["title"], "Zelto Controls");
    EXPECT_EQ(listed["data"]["windows"][0]["foreground"], true);
    EXPECT_EQ(listed["data"]["windows"][1]["pid"], 31);
    EXPECT_EQ(listed["data"]["windows"][1]["process_name"], "notepad.exe");
    EXPECT_EQ(listed["data"]["windows"][1]["display_id"], "0,0,1920,1080");

    const Json focused = dispatch("focus_window", {{"title", "notepad"}});
    ASSERT_TRUE(focused["ok"].get<bool>()) << focused.dump();
    EXPECT_EQ(desktop->foreground_window, notepad);
    EXPECT_EQ(desktop->app_windows.front().handle, notepad);

    desktop->foreground_locked = true;
    EXPECT_EQ(dispatch("focus_window", {{"window_id", probe}})["error"],
              "Window " + std::to_string(probe) + " did not come to the foreground");
    EXPECT_EQ(dispatch("focus_window", {{"title", "calculator"}})["error"],
              "No window title contains 'calculator'");
    EXPECT_EQ(dispatch("focus_window", {{"window_id", probe}, {"close", true}})["data"]["closed"],
              true);
}

TEST_F(UiElementsTest, ListBoxItemsAreReadDirectlyWhenAccessibilityGivesNone) {
    desktop->control(list)->elements.clear();
    for (int i = 0; i < 5000; ++i) {
        desktop->control(list)->list_items.push_back("Item " + std::to_string(i + 1));
    }
    desktop->control(list)->top_index = 10;
    const Json shown = walk();
    ASSERT_TRUE(shown["ok"].get<bool>());
    EXPECT_EQ(shown["data"]["elements"].size(), 6u + 8u);  // the 8 items the box shows
    EXPECT_EQ(shown["data"]["elements"][5]["name"], "Item 11");
    const Json all = walk({{"include_offscreen", true}});
    EXPECT_EQ(all["data"]["elements"].size(), 500u);
    EXPECT_TRUE(all["data"]["truncated"].get<bool>());
    ASSERT_TRUE(walk()["ok"].get<bool>());
    ASSERT_TRUE(dispatch("click", {{"element", 7}})["ok"].get<bool>());  // "Item 12"
    EXPECT_EQ(desktop->cursor, (Point{205, 204}));
}

TEST(ElementPathTest, FormatsAndParsesBothWays) {
    const ElementPath path{{true, 0}, {false, 12}, {false, 3, true}};
    EXPECT_EQ(format_element_path(path), "w0.a12.i3");
    EXPECT_EQ(parse_element_path("w0.a12.i3"), path);
    EXPECT_EQ(parse_element_path(""), ElementPath{});
    for (const char* bad : {"w", "x1", "w1.", "a1..a2", "w-1", "a99999999999"}) {
        EXPECT_FALSE(parse_element_path(bad).has_value()) << bad;
    }
    EXPECT_EQ(role_from_window_class("Button", 3), "check_box");
    EXPECT_EQ(role_from_window_class("Button", 0), "button");
    EXPECT_EQ(role_name(42), "edit");
    EXPECT_EQ(cut_element_text(std::string(250, 'x')).size(), 200u + 3u);
}

}  // namespace
}  // namespace cua_actions::windows
