// The clipboard paste fallback of "type": snapshot of the user's clipboard,
// the text as format 13, Control+V, and the snapshot written back.
#include <cstring>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/typing_pointer.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kClipboardSettleMs = 50;
constexpr std::uint32_t kPasteKeyGapMs = 10;
constexpr std::uint32_t kPasteSettleMs = 100;
constexpr int kRestoreAttempts = 3;
constexpr std::uint32_t kRestoreRetryMs = 50;

constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkV = 0x56;

// Registered formats that keep the pasted text (often a secret) out of the
// clipboard history and cloud sync; each is a block of zero bytes.
struct PrivacyFormat {
    const char* name;
    std::size_t bytes;
};
constexpr PrivacyFormat kPrivacyFormats[] = {
    {"ExcludeClipboardContentFromMonitorProcessing", 0},
    {"CanIncludeInClipboardHistory", 4},
    {"CanUploadToCloudClipboard", 4},
};

// OpenClipboard (no owner window) -> CloseClipboard.
class ClipboardSession {
  public:
    ClipboardSession() : open_(platform().open_clipboard(0)) {}
    ~ClipboardSession() {
        if (open_) {
            platform().close_clipboard();
        }
    }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;

    bool is_open() const { return open_; }

  private:
    bool open_;
};

// GlobalAlloc -> GlobalFree, unless the clipboard took the block over.
class GlobalBlock {
  public:
    explicit GlobalBlock(std::size_t bytes)
        : handle_(platform().global_alloc(kGmemMoveable, bytes)) {}
    ~GlobalBlock() {
        if (handle_ != 0) {
            platform().global_free(handle_);
        }
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    Handle get() const { return handle_; }
    // Call only after SetClipboardData succeeded: the clipboard frees it now.
    void release() { handle_ = 0; }

  private:
    Handle handle_;
};

// GlobalLock -> GlobalUnlock.
class GlobalLockGuard {
  public:
    explicit GlobalLockGuard(Handle block)
        : block_(block), address_(platform().global_lock(block)) {}
    ~GlobalLockGuard() {
        if (address_ != nullptr) {
            platform().global_unlock(block_);
        }
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

    void* get() const { return address_; }

  private:
    Handle block_;
    void* address_;
};

// Copies `size` bytes into a new movable block and gives it to the open
// clipboard under `format`. On failure the block is freed again.
bool set_clipboard_bytes(std::uint32_t format, const void* data, std::size_t size) {
    GlobalBlock block(size);
    if (block.get() == 0) {
        return false;
    }
    if (size > 0) {  // an empty block has nothing to copy and cannot be locked
        const GlobalLockGuard lock(block.get());
        if (lock.get() == nullptr) {
            return false;
        }
        std::memcpy(lock.get(), data, size);
    }
    if (platform().set_clipboard_data(format, block.get()) == 0) {
        return false;
    }
    block.release();
    return true;
}

// Failures here only cost the privacy hint, never the paste.
void mark_clipboard_private() {
    static constexpr std::byte kZeros[4] = {};
    for (const PrivacyFormat& privacy : kPrivacyFormats) {
        const std::uint32_t format = platform().register_clipboard_format(privacy.name);
        if (format != 0) {
            set_clipboard_bytes(format, kZeros, privacy.bytes);
        }
    }
}

enum class SetTextOutcome { set, not_opened, failed_after_emptying };

SetTextOutcome put_text_on_clipboard(std::u16string units) {
    const ClipboardSession session;
    if (!session.is_open()) {
        return SetTextOutcome::not_opened;
    }
    platform().empty_clipboard();  // a failure to empty is ignored
    units.push_back(u'\0');
    if (!set_clipboard_bytes(kCfUnicodeText, units.data(), units.size() * sizeof(char16_t))) {
        return SetTextOutcome::failed_after_emptying;
    }
    mark_clipboard_private();
    return SetTextOutcome::set;
}

bool restore_attempt(const std::vector<ClipboardFormatSnapshot>& snapshot) {
    const ClipboardSession session;
    if (!session.is_open()) {
        return false;
    }
    platform().empty_clipboard();  // a failure to empty is ignored
    bool every_entry_set = true;
    for (const ClipboardFormatSnapshot& entry : snapshot) {
        if (!set_clipboard_bytes(entry.format, entry.data.data(), entry.data.size())) {
            every_entry_set = false;  // the remaining entries are still set
        }
    }
    return every_entry_set;
}

void send_paste_key(std::uint16_t vk, bool key_up) {
    const InputRecord record = InputRecord::key_event(vk, 0, key_up ? kKeyEventKeyUp : 0);
    platform().send_input(std::span<const InputRecord>(&record, 1));  // count not examined
}

}  // namespace

std::optional<std::vector<ClipboardFormatSnapshot>> snapshot_clipboard() {
    Platform& os = platform();
    const ClipboardSession session;
    if (!session.is_open()) {
        return std::nullopt;
    }
    std::vector<ClipboardFormatSnapshot> snapshot;
    for (std::uint32_t format = os.enum_clipboard_formats(0); format != 0;
         format = os.enum_clipboard_formats(format)) {
        const Handle data = os.get_clipboard_data(format);
        if (data == 0) {
            continue;
        }
        // 0 also for handles that are no global memory block, such as bitmaps.
        const std::size_t size = os.global_size(data);
        if (size == 0) {
            continue;
        }
        const GlobalLockGuard lock(data);
        if (lock.get() == nullptr) {
            continue;
        }
        const auto* bytes = static_cast<const std::byte*>(lock.get());
        snapshot.push_back(
            ClipboardFormatSnapshot{format, std::vector<std::byte>(bytes, bytes + size)});
    }
    return snapshot;
}

bool restore_clipboard(const std::vector<ClipboardFormatSnapshot>& snapshot) {
    for (int attempt = 0; attempt < kRestoreAttempts; ++attempt) {
        if (restore_attempt(snapshot)) {
            return true;
        }
        platform().sleep_ms(kRestoreRetryMs);
    }
    return false;
}

ActionResult paste_text_via_clipboard(std::string_view text) {
    const auto snapshot = snapshot_clipboard();
    const SetTextOutcome outcome = put_text_on_clipboard(text::utf8_to_utf16(text));
    if (outcome != SetTextOutcome::set) {
        // The clipboard may already have been emptied: the user's content must
        // not be lost with the failed paste.
        if (outcome == SetTextOutcome::failed_after_emptying && snapshot) {
            restore_clipboard(*snapshot);
        }
        return error_result("Failed to set clipboard text");
    }

    Platform& os = platform();
    os.sleep_ms(kClipboardSettleMs);
    send_paste_key(kVkControl, false);
    os.sleep_ms(kPasteKeyGapMs);
    send_paste_key(kVkV, false);
    os.sleep_ms(kPasteKeyGapMs);
    send_paste_key(kVkV, true);
    os.sleep_ms(kPasteKeyGapMs);
    send_paste_key(kVkControl, true);
    os.sleep_ms(kPasteSettleMs);

    if (snapshot) {
        restore_clipboard(*snapshot);  // a failed write-back does not fail the paste
    }
    return ok_result();
}

}  // namespace cua_actions::windows
