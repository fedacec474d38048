#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "text/json_output.h"
#include "text/text.h"

namespace {

using namespace std::string_literals;

// Every character with the Unicode White_Space property.
const char* const kWhiteSpace[] = {
    " ",      "\t",     "\n",     "\v",     "\f",     "\r",     "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

TEST(TextTrim, StripsEachWhiteSpaceCharacterAtEitherEnd) {
    for (const std::string ws : kWhiteSpace) {
        SCOPED_TRACE(testing::PrintToString(ws));
        EXPECT_EQ(text::trim(ws + "a b" + ws), "a b");
        EXPECT_EQ(text::trim(ws + ws + "x"), "x");
        EXPECT_EQ(text::trim("x" + ws + ws), "x");
        EXPECT_EQ(text::trim("x" + ws + "y"), "x" + ws + "y");
        EXPECT_EQ(text::trim(ws), "");
    }
}

// The trim's own list of White_Space against ICU's property, code point by code point.
TEST(TextTrim, WhiteSpaceIsExactlyIcusProperty) {
    for (std::uint32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
        ASSERT_EQ(text::is_white_space_code_point(code_point),
                  static_cast<bool>(u_isUWhiteSpace(static_cast<UChar32>(code_point))))
            << std::hex << code_point;
    }
}

TEST(TextSplit, KeepsEmptyPieces) {
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(text::split("a;;b", ';'), (Pieces{"a", "", "b"}));
    EXPECT_EQ(text::split("", ';'), (Pieces{""}));
    EXPECT_EQ(text::split("a\n", '\n'), (Pieces{"a", ""}));
}

TEST(TextTrim, KeepsEverythingElse) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"", ""},
        {"\u3000 \t\u00A0\u2029", ""},
        {"\uFEFFx ", "\uFEFFx"},               // BOM is not White_Space
        {" \u200Bx\u200B ", "\u200Bx\u200B"},  // nor are zero-width spaces
        {"\u180E", "\u180E"},          // nor the Mongolian vowel separator, since Unicode 6.3
        {"\x1Cx\x1F", "\x1Cx\x1F"},    // information separators are controls, not White_Space
        {" \xA0x\xA0 ", "\xA0x\xA0"},  // NBSP's trail byte on its own is just an invalid byte
        {"\xC2 x", "\xC2 x"},          // truncated lead before a space stays
        {" x \xC2", "x \xC2"},
        {"\x85 \xFF", "\x85 \xFF"},
        {" \xE3\x80 ", "\xE3\x80"},  // truncated U+3000
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::trim(c.in), c.out) << testing::PrintToString(c.in);
    }
}

TEST(TextLower, MapsFullUnicodeCase) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"", ""},
        {"Notepad++ 2.0 @[`{", "notepad++ 2.0 @[`{"},
        {"\u0130stanbul", "i\u0307stanbul"},  // İ -> i + combining dot, root locale
        {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2"},  // final sigma
        {"\u039F\u0394\u039F\u03A3 X", "\u03BF\u03B4\u03BF\u03C2 x"},
        {"\u03A3\u039F", "\u03C3\u03BF"},  // non-final sigma
        {"Stra\u00DFe", "stra\u00DFe"},    // ß has no lower-case change
        {"\u1E9E", "\u00DF"},              // capital sharp s
        {"\u00C0\u00C9\u00CE \u041F\u0420\u0418", "\u00E0\u00E9\u00EE \u043F\u0440\u0438"},
        {"\U00010400x", "\U00010428x"},  // Deseret: outside the BMP
        {"X\xFFY\xE2\x82", "x\uFFFDy\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::to_lower(c.in), c.out) << testing::PrintToString(c.in);
    }
}

TEST(TextLower, AsciiLowerChangesOnlyAToZ) {
    EXPECT_EQ(text::ascii_lower("@AZ[`az{ \u00C0\u0130\xFF"), "@az[`az{ \u00C0\u0130\xFF");
}

TEST(TextUtf8, Validity) {
    struct Case {
        std::string bytes;
        bool valid;
    } const cases[] = {
        {"", true},
        {"plain", true},
        {"\x7F", true},
        {"\xC2\x80", true},          // U+0080
        {"\xDF\xBF", true},          // U+07FF
        {"\xE0\xA0\x80", true},      // U+0800
        {"\xED\x9F\xBF", true},      // U+D7FF
        {"\xEE\x80\x80", true},      // U+E000
        {"\xEF\xBF\xBF", true},      // U+FFFF
        {"\xF0\x90\x80\x80", true},  // U+10000
        {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF
        {"\xC0\x80", false},         // overlong NUL
        {"\xC1\xBF", false},
        {"\xE0\x80\x80", false},
        {"\xE0\x9F\xBF", false},
        {"\xF0\x80\x80\x80", false},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xED\xA0\x80", false},      // U+D800
        {"\xED\xBF\xBF", false},      // U+DFFF
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xFF", false},
        {"\x80", false},
        {"a\xC3", false},  // truncated at the end
        {"\xE2\x82", false},
        {"\xF0\x9F\x98", false},
        {"\xC3Z", false},
        {"\xE2\x82\xAC\xE2\x82", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(TextUtf8, ReplacesEachMaximalInvalidSubpartOnce) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
        std::size_t chars;
    } const cases[] = {
        {"", u"", 0},
        {"A\u00E9\u20AC\U0001F600", u"A\u00E9\u20AC\U0001F600", 4},
        {"\xE2\x82\x41", u"\uFFFDA", 2},
        {"\xF0\x80", u"\uFFFD\uFFFD", 2},  // F0 80 is not the start of any character
        {"\xF0\x9F\x98", u"\uFFFD", 1},
        {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600", 2},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", 3},
        {"\xC0\x80", u"\uFFFD\uFFFD", 2},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
        {"\xFF\xFE", u"\uFFFD\uFFFD", 2},
        {"\x80\xBFz", u"\uFFFD\uFFFDz", 3},
        {"a\xC3", u"a\uFFFD", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.utf8));
        EXPECT_EQ(text::utf8_to_utf16(c.utf8), c.utf16);
        EXPECT_EQ(text::utf8_char_count(c.utf8), c.chars);
    }
}

TEST(TextUtf8, ReplacesUnpairedSurrogatesInUtf16) {
    struct Case {
        std::u16string utf16;
        std::string utf8;
    } const cases[] = {
        {u"A\u00E9\u20AC\U0001F600\uFFFF", "A\u00E9\u20AC\U0001F600\uFFFF"},
        {{0xD800}, "\uFFFD"},
        {{0xDC00, u'x'}, "\uFFFDx"},
        {{0xD83D, u'A'}, "\uFFFDA"},
        {{0xDE00, 0xD83D}, "\uFFFD\uFFFD"},  // pair in the wrong order
        {{0xDE00, 0xDE00}, "\uFFFD\uFFFD"},
        {{0xD83D, 0xD83D, 0xDE00}, "\uFFFD\U0001F600"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::utf16_to_utf8(c.utf16), c.utf8) << testing::PrintToString(c.utf8);
    }
}

// ICU's UTF-8 macros replace the same maximal subparts, so they serve as the reference.
std::u16string reference_utf8_to_utf16(const std::string& s) {
    std::u16string out;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            c = 0xFFFD;
        }
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(U16_LEAD(c));
            out.push_back(U16_TRAIL(c));
        }
    }
    return out;
}

TEST(TextUtf8, EveryScalarValueRoundTrips) {
    for (UChar32 cp = 0; cp <= 0x10FFFF; ++cp) {
        if (U_IS_SURROGATE(cp)) {
            continue;
        }
        std::uint8_t bytes[4];
        int32_t n = 0;
        U8_APPEND_UNSAFE(bytes, n, cp);
        const std::string utf8(reinterpret_cast<const char*>(bytes), n);
        const std::u16string utf16 = text::utf8_to_utf16(utf8);
        const std::size_t units = cp < 0x10000 ? 1 : 2;
        const bool ok = text::is_valid_utf8(utf8) && text::utf8_char_count(utf8) == 1 &&
                        utf16.size() == units && utf16 == reference_utf8_to_utf16(utf8) &&
                        text::utf16_to_utf8(utf16) == utf8;
        if (!ok) {
            ADD_FAILURE() << "U+" << std::hex << cp;
            return;
        }
    }
}

TEST(TextUtf8, MatchesReferenceOnBoundaryByteSequences) {
    // Every sequence of up to four bytes drawn from the values where the rules change.
    const std::uint8_t interesting[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                        0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::vector<std::string> sequences;
    std::vector<std::string> shorter = {""};
    for (int length = 1; length <= 4; ++length) {
        std::vector<std::string> longer;
        for (const auto& prefix : shorter) {
            for (const std::uint8_t b : interesting) {
                longer.push_back(prefix + static_cast<char>(b));
            }
        }
        sequences.insert(sequences.end(), longer.begin(), longer.end());
        shorter = std::move(longer);
    }
    int failures = 0;
    for (const auto& s : sequences) {
        const std::u16string expected = reference_utf8_to_utf16(s);
        const bool expected_valid = expected.find(u'\uFFFD') == std::u16string::npos;
        // The reference only produces whole pairs, so each lead unit starts a two-unit character.
        const std::size_t expected_chars =
            expected.size() - std::count_if(expected.begin(), expected.end(),
                                            [](char16_t u) { return U16_IS_LEAD(u); });
        if (text::utf8_to_utf16(s) != expected || text::is_valid_utf8(s) != expected_valid ||
            text::utf8_char_count(s) != expected_chars) {
            ADD_FAILURE() << testing::PrintToString(s);
            if (++failures > 10) {
                return;
            }
        }
    }
}

TEST(TextUtf8, PrefixNeverSplitsACharacter) {
    struct Case {
        std::string in;
        std::size_t max_chars;
        std::string out;
    } const cases[] = {
        {"h\u00E9llo", 2, "h\u00E9"},
        {"\U0001F600\U0001F600", 1, "\U0001F600"},
        {"abc", 0, ""},
        {"abc", 3, "abc"},
        {"abc", 99, "abc"},
        {"", 5, ""},
        {"e\u0301x", 1, "e"},  // a combining mark is its own character
        {"x\xE2\x82y", 2, "x\xE2\x82"},
        {"\xF0\x9F\x98", 1, "\xF0\x9F\x98"},
        {"\xF0\x80z", 1, "\xF0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::utf8_prefix(c.in, c.max_chars), c.out)
            << testing::PrintToString(c.in) << " " << c.max_chars;
    }
}

TEST(TextBase64, EncodesAndDecodesKnownVectors) {
    struct Case {
        std::string bytes, encoded;
    } const cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
        {"\xFF\xFF\xFF", "////"},
        {"\0\0\0\0"s, "AAAAAA=="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoded);
        EXPECT_EQ(text::base64_encode(c.bytes), c.encoded);
        EXPECT_EQ(text::base64_decode(c.encoded), c.bytes);
        // Appending keeps what was there.
        std::string appended = "data:";
        text::base64_append(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(),
                            appended);
        EXPECT_EQ(appended, "data:" + c.encoded);
    }
}

TEST(TextBase64, EveryByteValueAndLengthRoundTrips) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t n = 0; n <= all.size(); ++n) {
        const std::string encoded = text::base64_encode(all.data(), n);
        ASSERT_EQ(encoded.size(), (n + 2) / 3 * 4);
        const auto decoded = text::base64_decode(encoded);
        ASSERT_TRUE(decoded.has_value()) << n;
        ASSERT_EQ(*decoded, std::string(all.begin(), all.begin() + n));
        ASSERT_EQ(text::base64_encode(*decoded), encoded);
    }
}

TEST(TextBase64, DecodeRejectsMalformedInput) {
    const char* const cases[] = {
        "Zg",       "Zg=",    "Zm9vY", "Z===", "====", "=Zm9", "Zg=A",
        "Zh==",  // leftover bits set: "Zg==" is the only spelling of "f"
        "Zm9=",  // likewise for "Zm8="
        "Zg==Zg==", "Zm9v\n", "Zm 9v", "Zm-v", "Zm_v",
    };
    for (const char* c : cases) {
        EXPECT_EQ(text::base64_decode(c), std::nullopt) << c;
    }
    EXPECT_EQ(text::base64_decode("Zm9v\0AAA"s), std::nullopt);
}

TEST(TextJsonDump, FollowsTheOutputRules) {
    using nlohmann::json;
    struct Case {
        json value;
        std::string out;
    } const cases[] = {
        {"\x01\b\t\n\f\r\x1F", R"("\u0001\b\t\n\f\r\u001f")"},
        {"a\0b"s, R"("a\u0000b")"},
        {"\"\\", R"("\"\\")"},
        {"/\x7F\u00E9\u2028\u2029\U0001F600", "\"/\x7F\u00E9\u2028\u2029\U0001F600\""},
        {"x\xFFy", "\"x\uFFFDy\""},
        {"\xE2\x82\x41\xF0\x80", "\"\uFFFDA\uFFFD\uFFFD\""},  // one U+FFFD per maximal subpart
        {1920.0, "1920.0"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e300, "1e+300"},
        {-0.5, "-0.5"},
        {std::nan(""), "null"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
        {1920, "1920"},
        {std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
        {json::array({1, "x", nullptr, true}), R"([1,"x",null,true])"},
        {json{{"b", 1}, {"a", {{"\u00E9", 2}, {"z", 1}, {"Z", 3}, {"\xFF", 5}}}},
         "{\"a\":{\"Z\":3,\"z\":1,\"\u00E9\":2,\"\uFFFD\":5},\"b\":1}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::json_dump(c.value), c.out);
    }
}

TEST(TextJsonDump, WritesDoublesInTheirShortestForm) {
    struct Case {
        double value;
        const char* out;
    } const cases[] = {
        {0.1 + 0.2, "0.30000000000000004"},
        {2722.270532675401, "2722.270532675401"},    // 17 digits with a longer algorithm
        {0.4959708893842458, "0.4959708893842458"},  // the same, in 0..1
        {5e-324, "5e-324"},                          // smallest subnormal
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {1e-7, "1e-07"},
        {1e21, "1e+21"},
        {1e23, "1e+23"},  // 1e23 is not exactly representable: the nearest double reads back
        {9007199254740993.0, "9.007199254740992e+15"},  // 2^53: ties round to even
        {1920.0, "1920.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {0.0001, "0.0001"},  // last plain small value
        {0.00001, "1e-05"},  // first exponent small value
        {0.000123, "0.000123"},
        {999999999999999.0, "999999999999999.0"},  // last plain whole value
        {1e15, "1e+15"},                           // first exponent large value
        {123456789012345.67, "123456789012345.67"},
        {1234567890123456.7, "1.2345678901234568e+15"},
        {-1.5e-10, "-1.5e-10"},
        {1e100, "1e+100"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::json_dump(nlohmann::json(c.value)), c.out);
    }
}

// Significant digits of a JSON number: leading and trailing zeros of the mantissa are layout
// (shortest digits never end in zero), so "1920.0" has 3 and "0.00012" has 2.
int significant_digits(std::string_view number) {
    std::string digits;
    for (const char c : number.substr(0, number.find('e'))) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return 1;
    }
    return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

bool reads_back_exactly(std::string_view text, double value) {
    double read = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), read);
    return ec == std::errc() && end == text.data() + text.size() &&
           std::bit_cast<std::uint64_t>(read) == std::bit_cast<std::uint64_t>(value);
}

// The same characters except for the digits: plain or exponent notation chosen alike.
bool same_layout(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool digit = a[i] >= '0' && a[i] <= '9';
        if (digit != (b[i] >= '0' && b[i] <= '9') || (!digit && a[i] != b[i])) {
            return false;
        }
    }
    return true;
}

// Random doubles, half as raw bit patterns (every exponent), half of the sizes pixel scales and
// fractions have. Each must read back bit for bit, no correctly rounded form with one digit
// fewer may read back, and the layout must be nlohmann's wherever its digits are as many (the
// last digit may still differ: of two equally short forms, the one nearer the value wins).
TEST(TextJsonDump, RandomDoublesAreShortestAndReadBackExactly) {
    std::mt19937_64 rng(1106);
    std::uniform_real_distribution<double> ordinary(0.0, 10000.0);
    std::uniform_int_distribution<int> scale(-12, 12);
    int longer_in_nlohmann = 0;
    for (int i = 0; i < 1'000'000; ++i) {
        double value = i % 2 == 0 ? std::bit_cast<double>(rng())
                                  : std::ldexp(ordinary(rng), scale(rng)) * (i % 4 == 1 ? 1 : -1);
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string out = text::json_dump(nlohmann::json(value));
        ASSERT_TRUE(reads_back_exactly(out, value)) << out;

        const int digits = significant_digits(out);
        if (digits > 1) {
            char shorter[40];
            const auto end = std::to_chars(shorter, shorter + sizeof shorter, value,
                                           std::chars_format::scientific, digits - 2)
                                 .ptr;
            ASSERT_FALSE(reads_back_exactly(std::string_view(shorter, end - shorter), value))
                << out << " is not the shortest: " << std::string_view(shorter, end - shorter);
        }
        const std::string reference = nlohmann::json(value).dump();
        if (significant_digits(reference) == digits) {
            ASSERT_TRUE(same_layout(out, reference)) << out << " vs " << reference;
        } else {
            ASSERT_GT(significant_digits(reference), digits) << reference << " vs " << out;
            ++longer_in_nlohmann;
        }
    }
    // Some of these values exist, so the comparison above did meet them.
    EXPECT_GT(longer_in_nlohmann, 0);
}

// Everything but floats is written exactly as nlohmann writes it, including the replacement of
// invalid UTF-8 in strings and keys.
TEST(TextJsonDump, AgreesWithNlohmannOnEverythingButFloats) {
    std::mt19937 rng(1207);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const std::string pieces[] = {"a",
                                  "\"",
                                  "\\",
                                  "\x01",
                                  "\x1f",
                                  "\x7f",
                                  "\xc3\xa9",
                                  "\xe2\x82",
                                  "\xf0\x9f\x98\x80",
                                  "\xed\xa0\x80",
                                  "\xff",
                                  "\x80",
                                  "\xc0\xaf",
                                  "\xf4\x90\x80\x80",
                                  "\n",
                                  "/"};
    auto random_string = [&] {
        std::string s;
        for (unsigned n = pick(8); n > 0; --n) {
            s += pieces[pick(std::size(pieces))];
        }
        return s;
    };
    std::function<nlohmann::json(int)> random_value = [&](int depth) -> nlohmann::json {
        switch (pick(depth > 3 ? 5 : 7)) {
            case 0:
                return nullptr;
            case 1:
                return pick(2) == 0;
            case 2:
                return static_cast<std::int64_t>(rng()) - (std::int64_t{1} << 31) * pick(3);
            case 3:
                return (std::uint64_t{rng()} << 32) | rng();
            case 4:
                return random_string();
            case 5: {
                nlohmann::json array = nlohmann::json::array();
                for (unsigned n = pick(4); n > 0; --n) {
                    array.push_back(random_value(depth + 1));
                }
                return array;
            }
            default: {
                nlohmann::json object = nlohmann::json::object();
                for (unsigned n = pick(4); n > 0; --n) {
                    object[random_string()] = random_value(depth + 1);
                }
                return object;
            }
        }
    };
    for (int i = 0; i < 5000; ++i) {
        const nlohmann::json value = random_value(0);
        ASSERT_EQ(text::json_dump(value),
                  value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
}

}  // namespace
