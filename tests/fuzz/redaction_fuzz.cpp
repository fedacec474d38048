// Redaction and truncation over any JSON value (or any bytes as one string): the value keeps
// its shape, every string comes out trimmed and at most 2000 characters plus the marker, a
// key's verdict depends only on its ASCII letters and digits regardless of case, and keys
// holding "password" are always redacted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "logging/write_redact.h"
#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace {

using nlohmann::json;

constexpr std::string_view kCutMarker = "\xE2\x80\xA6 [truncated]";

void check_truncated(const std::string& original, const std::string& result) {
    const std::string trimmed = text::trim(original);
    if (text::utf8_char_count(trimmed) <= logging::kMaxLogStringChars) {
        FUZZ_CHECK(result == trimmed);
        return;
    }
    FUZZ_CHECK(result.ends_with(kCutMarker));
    const std::string kept = result.substr(0, result.size() - kCutMarker.size());
    FUZZ_CHECK(kept == text::utf8_prefix(trimmed, logging::kMaxLogStringChars));
    FUZZ_CHECK(text::utf8_char_count(kept) == logging::kMaxLogStringChars);
}

bool redacted(const json& value) {
    return value.is_string() && value.get_ref<const std::string&>() == logging::kRedactedMarker;
}

// `out` is redact_value(`in`): same shape, strings cut, redacted entries only under keys.
void check_walk(const json& in, const json& out) {
    if (in.is_string()) {
        FUZZ_CHECK(out.is_string());
        check_truncated(in.get_ref<const std::string&>(), out.get_ref<const std::string&>());
    } else if (in.is_array()) {
        FUZZ_CHECK(out.is_array() && out.size() == in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            check_walk(in[i], out[i]);
        }
    } else if (in.is_object()) {
        FUZZ_CHECK(out.is_object() && out.size() == in.size());
        for (auto it = in.begin(); it != in.end(); ++it) {
            const auto found = out.find(it.key());
            FUZZ_CHECK(found != out.end());
            if (!redacted(*found) || redacted(logging::redact_value(it.value()))) {
                check_walk(it.value(), *found);
            }
        }
    } else {
        FUZZ_CHECK(out == in);
    }
}

// The same key with separators between its characters and its ASCII case flipped.
std::string disguised(std::string_view key) {
    std::string result = "_";
    for (char c : key) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        result += c;
        result += '-';
    }
    return result;
}

void check_keys(const json& value) {
    if (value.is_array()) {
        for (const json& element : value) {
            check_keys(element);
        }
        return;
    }
    if (!value.is_object()) {
        return;
    }
    for (auto it = value.begin(); it != value.end(); ++it) {
        const bool hidden = redacted(logging::redact_value(json{{it.key(), 0}}).at(it.key()));
        const std::string other = disguised(it.key());
        FUZZ_CHECK(redacted(logging::redact_value(json{{other, 0}}).at(other)) == hidden);
        const std::string with_password = it.key() + "Pass_Word";
        FUZZ_CHECK(redacted(logging::redact_value(json{{with_password, 0}}).at(with_password)));
        check_keys(it.value());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    json value = bytes;
    if (text::is_valid_utf8(bytes)) {
        if (text::JsonReadResult parsed = text::read_json(bytes); parsed.ok()) {
            value = std::move(parsed.value);
        }
    }
    const json result = logging::redact_value(value);
    check_walk(value, result);
    check_keys(value);
    text::json_dump(result);  // any text, valid UTF-8 or not, can be written

    json record = json::object();
    logging::maybe_insert_string(record, "message", bytes);
    FUZZ_CHECK(record.contains("message") == !text::trim(bytes).empty());
    return 0;
}
