// Simulated clipboard backed by simulated global memory blocks.
#include <algorithm>

#include "support/sim_desktop.h"

namespace sim {

namespace {
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorClipboardNotOpen = 1418;
constexpr std::uint32_t kFirstRegisteredFormat = 0xC000;
}  // namespace

void SimDesktop::put_clipboard_bytes(std::uint32_t format, std::vector<std::byte> bytes) {
    auto guard = lock();
    const Handle handle = next_input_handle++;
    global_blocks[handle] = SimGlobalBlock{std::move(bytes), 0, true};
    for (SimClipboardEntry& entry : clipboard) {
        if (entry.format == format) {
            global_blocks.erase(entry.data);
            entry.data = handle;
            return;
        }
    }
    clipboard.push_back(SimClipboardEntry{format, handle});
}

void SimDesktop::put_clipboard_text(std::u16string_view text) {
    std::vector<std::byte> bytes((text.size() + 1) * sizeof(char16_t));
    std::copy_n(reinterpret_cast<const std::byte*>(text.data()), text.size() * sizeof(char16_t),
                bytes.begin());
    put_clipboard_bytes(cua_actions::windows::kCfUnicodeText, std::move(bytes));
}

void SimDesktop::put_clipboard_non_memory(std::uint32_t format) {
    auto guard = lock();
    clipboard.push_back(SimClipboardEntry{format, next_input_handle++});
}

std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> SimDesktop::clipboard_contents()
    const {
    std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> contents;
    for (const SimClipboardEntry& entry : clipboard) {
        const auto block = global_blocks.find(entry.data);
        if (block != global_blocks.end()) {
            contents.emplace_back(entry.format, block->second.bytes);
        }
    }
    return contents;
}

std::size_t SimDesktop::leaked_global_blocks() const {
    return static_cast<std::size_t>(
        std::count_if(global_blocks.begin(), global_blocks.end(),
                      [](const auto& block) { return !block.second.owned_by_clipboard; }));
}

bool SimDesktop::open_clipboard(Handle /*owner*/) {
    auto guard = lock();
    if (clipboard_fail.open.next()) {
        last_error_ = kErrorAccessDenied;  // another program holds it
        return false;
    }
    if (clipboard_open) {
        clipboard_misuse.emplace_back("OpenClipboard while already open");
    }
    clipboard_open = true;
    ++clipboard_opens;
    return true;
}

bool SimDesktop::close_clipboard() {
    auto guard = lock();
    if (!clipboard_open) {
        clipboard_misuse.emplace_back("CloseClipboard while closed");
        last_error_ = kErrorClipboardNotOpen;
        return false;
    }
    clipboard_open = false;
    return true;
}

bool SimDesktop::empty_clipboard() {
    auto guard = lock();
    if (!clipboard_open) {
        clipboard_misuse.emplace_back("EmptyClipboard while closed");
        last_error_ = kErrorClipboardNotOpen;
        return false;
    }
    if (clipboard_fail.empty.next()) {
        last_error_ = kErrorAccessDenied;
        return false;
    }
    for (const SimClipboardEntry& entry : clipboard) {
        global_blocks.erase(entry.data);  // the clipboard frees what it owns
    }
    clipboard.clear();
    return true;
}

std::uint32_t SimDesktop::enum_clipboard_formats(std::uint32_t format) {
    auto guard = lock();
    if (!clipboard_open) {
        clipboard_misuse.emplace_back("EnumClipboardFormats while closed");
        last_error_ = kErrorClipboardNotOpen;
        return 0;
    }
    if (format == 0) {
        return clipboard.empty() ? 0 : clipboard.front().format;
    }
    for (std::size_t i = 0; i + 1 < clipboard.size(); ++i) {
        if (clipboard[i].format == format) {
            return clipboard[i + 1].format;
        }
    }
    return 0;
}

Handle SimDesktop::get_clipboard_data(std::uint32_t format) {
    auto guard = lock();
    if (!clipboard_open) {
        clipboard_misuse.emplace_back("GetClipboardData while closed");
        last_error_ = kErrorClipboardNotOpen;
        return 0;
    }
    for (const SimClipboardEntry& entry : clipboard) {
        if (entry.format == format) {
            return entry.data;
        }
    }
    return 0;
}

Handle SimDesktop::set_clipboard_data(std::uint32_t format, Handle memory) {
    auto guard = lock();
    if (!clipboard_open) {
        clipboard_misuse.emplace_back("SetClipboardData while closed");
        last_error_ = kErrorClipboardNotOpen;
        return 0;
    }
    if (clipboard_fail.set.next()) {
        last_error_ = kErrorAccessDenied;
        return 0;
    }
    const auto block = global_blocks.find(memory);
    if (block == global_blocks.end() || block->second.owned_by_clipboard) {
        clipboard_misuse.emplace_back("SetClipboardData with a block that is not ours");
        last_error_ = kErrorInvalidHandle;
        return 0;
    }
    if (block->second.locks != 0) {
        clipboard_misuse.emplace_back("SetClipboardData with a locked block");
    }
    block->second.owned_by_clipboard = true;
    for (SimClipboardEntry& entry : clipboard) {
        if (entry.format == format) {
            global_blocks.erase(entry.data);
            entry.data = memory;
            return memory;
        }
    }
    clipboard.push_back(SimClipboardEntry{format, memory});
    return memory;
}

std::uint32_t SimDesktop::register_clipboard_format(const std::string& name) {
    auto guard = lock();
    if (clipboard_fail.register_format.next()) {
        last_error_ = kErrorAccessDenied;
        return 0;
    }
    const auto found = clipboard_format_names.find(name);
    if (found != clipboard_format_names.end()) {
        return found->second;
    }
    const auto id =
        static_cast<std::uint32_t>(kFirstRegisteredFormat + clipboard_format_names.size());
    clipboard_format_names[name] = id;
    return id;
}

Handle SimDesktop::global_alloc(std::uint32_t /*flags*/, std::size_t bytes) {
    auto guard = lock();
    if (clipboard_fail.alloc.next()) {
        last_error_ = kErrorNotEnoughMemory;
        return 0;
    }
    const Handle handle = next_input_handle++;
    global_blocks[handle] = SimGlobalBlock{std::vector<std::byte>(bytes), 0, false};
    return handle;
}

std::size_t SimDesktop::global_size(Handle memory) {
    auto guard = lock();
    const auto block = global_blocks.find(memory);
    return block == global_blocks.end() ? 0 : block->second.bytes.size();
}

void* SimDesktop::global_lock(Handle memory) {
    auto guard = lock();
    const auto block = global_blocks.find(memory);
    // An empty movable block is discarded memory: there is nothing to lock.
    if (block == global_blocks.end() || block->second.bytes.empty() || clipboard_fail.lock.next()) {
        last_error_ = kErrorInvalidHandle;
        return nullptr;
    }
    ++block->second.locks;
    return block->second.bytes.data();
}

bool SimDesktop::global_unlock(Handle memory) {
    auto guard = lock();
    const auto block = global_blocks.find(memory);
    if (block == global_blocks.end() || block->second.locks == 0) {
        clipboard_misuse.emplace_back("GlobalUnlock of a block that is not locked");
        return false;
    }
    return --block->second.locks > 0;
}

Handle SimDesktop::global_free(Handle memory) {
    auto guard = lock();
    const auto block = global_blocks.find(memory);
    if (block == global_blocks.end()) {
        clipboard_misuse.emplace_back("GlobalFree of an unknown block");
        return memory;
    }
    if (block->second.owned_by_clipboard) {
        clipboard_misuse.emplace_back("GlobalFree of a block the clipboard owns");
        return memory;
    }
    if (block->second.locks != 0) {
        clipboard_misuse.emplace_back("GlobalFree of a locked block");
    }
    global_blocks.erase(block);
    return 0;
}

}  // namespace sim
