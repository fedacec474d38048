// The "type" action: Unicode key events, or the clipboard paste fallback when
// an input method is open, the events are refused or their list cannot be built.
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <new>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/typing_pointer.h"
#include "cua_actions/windows/ui_element_actions.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::size_t kPreviewChars = 30;
constexpr std::uint32_t kTypeSettleMs = 60;
// A hung target must not hang the action on the input-method question.
constexpr std::uint32_t kImeQueryTimeoutMs = 200;

constexpr const char* kImeOpenLine =
    "[CUA-type-win] IME appears open for foreground window, using clipboard paste fallback";
constexpr const char* kSendInputFailedLine =
    "[CUA-type-win] unicode SendInput failed, fallback to clipboard paste path";

// ImmGetContext -> ImmReleaseContext.
class ScopedImeContext {
  public:
    explicit ScopedImeContext(Handle window)
        : window_(window), context_(platform().imm_get_context(window)) {}
    ~ScopedImeContext() {
        if (context_ != 0) {
            platform().imm_release_context(window_, context_);
        }
    }
    ScopedImeContext(const ScopedImeContext&) = delete;
    ScopedImeContext& operator=(const ScopedImeContext&) = delete;

    Handle get() const { return context_; }

  private:
    Handle window_;
    Handle context_;
};

// Characters the preview shows as \u{hex}: controls, format characters,
// separators other than the plain space, unassigned and private code points.
bool is_unprintable(UChar32 c) {
    if (c == U' ') {
        return false;
    }
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return true;
        default:
            return false;
    }
}

bool ime_appears_open() {
    Platform& os = platform();
    const Handle foreground = os.get_foreground_window();
    if (foreground == 0) {
        return false;
    }
    {
        const ScopedImeContext context(foreground);
        if (context.get() != 0) {
            return os.imm_get_open_status(context.get());
        }
    }
    // Another program's window hands out no input context; its default IME
    // window still answers for the input method of the window with the focus.
    Handle target = foreground;
    if (const auto info = os.get_gui_thread_info(0); info && info->focus != 0) {
        target = info->focus;
    }
    const Handle ime_window = os.imm_get_default_ime_wnd(target);
    if (ime_window == 0) {
        return false;
    }
    const auto status = os.send_message_timeout(ime_window, kWmImeControl, kImcGetOpenStatus, 0,
                                                kSmtoAbortIfHung, kImeQueryTimeoutMs);
    return status.has_value() && *status != 0;
}

}  // namespace

std::string type_preview(std::string_view text) {
    const std::u16string units = text::utf8_to_utf16(text::utf8_prefix(text, kPreviewChars));
    std::string preview = "\"";
    std::size_t i = 0;
    while (i < units.size()) {
        const std::size_t start = i;
        UChar32 c = 0;
        U16_NEXT(units.data(), i, units.size(), c);
        switch (c) {
            case U'"':
                preview += "\\\"";
                continue;
            case U'\\':
                preview += "\\\\";
                continue;
            case U'\n':
                preview += "\\n";
                continue;
            case U'\r':
                preview += "\\r";
                continue;
            case U'\t':
                preview += "\\t";
                continue;
            case 0:
                preview += "\\0";
                continue;
            default:
                break;
        }
        if (is_unprintable(c) || u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
            preview += escaped;
        } else {
            preview += text::utf16_to_utf8(std::u16string_view(units).substr(start, i - start));
        }
    }
    preview += '"';
    return preview;
}

std::optional<std::vector<InputRecord>> unicode_typing_events(std::u16string_view units) {
    std::vector<InputRecord> events;
    if (units.size() > events.max_size() / 2) {
        return std::nullopt;
    }
    try {
        events.reserve(units.size() * 2);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    for (const char16_t unit : units) {
        events.push_back(InputRecord::key_event(0, unit, kKeyEventUnicode));
        events.push_back(InputRecord::key_event(0, unit, kKeyEventUnicode | kKeyEventKeyUp));
    }
    return events;
}

ActionResult type_as_unicode_events(std::string_view text, std::u16string_view units) {
    Platform& os = platform();
    const std::optional<std::vector<InputRecord>> events = unicode_typing_events(units);
    // Accepted events are not taken back: part of the text may arrive twice.
    if (!events || os.send_input(*events) != events->size()) {
        os.write_stderr_line(kSendInputFailedLine);
        return paste_text_via_clipboard(text);
    }
    os.sleep_ms(kTypeSettleMs);
    return ok_result();
}

ActionResult handle_type(const Json& params) {
    const std::string* text = string_param(params, "text");
    if (text == nullptr) {
        return error_result("Missing text");
    }
    if (find_param(params, "element") != nullptr) {
        // Typing into an element of the latest ui_elements: it is clicked first.
        if (const zelto::Status focused = focus_element(params); !focused) {
            return error_result(focused.error());
        }
    }
    Platform& os = platform();
    os.write_stderr_line("[CUA-type-win] text=" + type_preview(*text));

    if (ime_appears_open()) {
        os.write_stderr_line(kImeOpenLine);
        return paste_text_via_clipboard(*text);
    }
    if (text->empty()) {
        os.sleep_ms(kTypeSettleMs);
        return ok_result();
    }
    // Every length goes out in one SendInput: two events per UTF-16 unit is all it costs.
    return type_as_unicode_events(*text, text::utf8_to_utf16(*text));
}

}  // namespace cua_actions::windows
