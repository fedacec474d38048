#include "text/json_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace text {
namespace {

struct ErrorCase {
    std::string text;
    std::string error;
};

void expect_errors(const std::vector<ErrorCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + c.text);
        const JsonReadResult result = read_json(c.text);
        EXPECT_EQ(result.error, c.error);
        EXPECT_TRUE(result.value.is_null());
    }
}

TEST(JsonReaderErrors, Structure) {
    expect_errors({
        {"", "EOF while parsing a value at line 1 column 0"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
        {"\f1", "expected value at line 1 column 1"},
        {"\xC2\xA0"
         "1",
         "expected value at line 1 column 1"},
        {R"({"action":"a"} {"action":"b"})", "trailing characters at line 1 column 16"},
        {"[1,2", "EOF while parsing a list at line 1 column 4"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"[,1]", "expected value at line 1 column 2"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"[1, ", "EOF while parsing a value at line 1 column 4"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{,}", "key must be a string at line 1 column 2"},
        {R"({"a":1,})", "trailing comma at line 1 column 8"},
        {R"({"a":1,)", "EOF while parsing a value at line 1 column 7"},
        {R"({"a" 1})", "expected `:` at line 1 column 6"},
        {R"({"a")", "EOF while parsing an object at line 1 column 4"},
        {R"({"a":1 "b":2})", "expected `,` or `}` at line 1 column 8"},
        {R"({"a":1)", "EOF while parsing an object at line 1 column 6"},
        // Lines count line feeds before the position; a line feed itself is column 0.
        {"[\n1,\n]", "trailing comma at line 3 column 1"},
        {"[1,\n", "EOF while parsing a value at line 2 column 0"},
        {"1\r\n2", "trailing characters at line 2 column 1"},
    });
}

TEST(JsonReaderErrors, LiteralsAndNumbers) {
    expect_errors({
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"trux", "expected ident at line 1 column 4"},
        {"falsy", "expected ident at line 1 column 5"},
        {"True", "expected value at line 1 column 1"},
        {"-01", "invalid number at line 1 column 3"},
        {"-", "invalid number at line 1 column 1"},
        {"- 1", "invalid number at line 1 column 2"},
        {"+1", "expected value at line 1 column 1"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1.x", "invalid number at line 1 column 3"},
        {"[1.]", "invalid number at line 1 column 4"},
        {"1e", "invalid number at line 1 column 2"},
        {"1e+x", "invalid number at line 1 column 4"},
        {"1.5.2", "trailing characters at line 1 column 4"},
        {"[-1e400]", "number out of range at line 1 column 7"},
        {"1e99999999999999999999", "number out of range at line 1 column 22"},
        {std::string(400, '9'), "number out of range at line 1 column 400"},
    });
}

TEST(JsonReaderErrors, Strings) {
    expect_errors({
        {R"({"a":"b)", "EOF while parsing a string at line 1 column 7"},
        {R"("\q")", "invalid escape at line 1 column 3"},
        {R"("\)", "EOF while parsing a string at line 1 column 2"},
        {R"("\u12")", "EOF while parsing a string at line 1 column 6"},
        {R"("\u12G4")", "invalid escape at line 1 column 6"},
        {"\"\x1F\"",
         "control character (\\u0000-\\u001F) found while parsing a string at "
         "line 1 column 2"},
        {"\"a\nb\"",
         "control character (\\u0000-\\u001F) found while parsing a string at "
         "line 2 column 0"},
        {R"("\uD83D")", "lone leading surrogate in hex escape at line 1 column 8"},
        {R"("\uD83D\n")", "lone leading surrogate in hex escape at line 1 column 9"},
        {R"("\uD83D\u0041")", "lone leading surrogate in hex escape at line 1 column 13"},
        {R"("\uD83D)", "EOF while parsing a string at line 1 column 7"},
        {R"("\uDE00")", "invalid unicode code point at line 1 column 7"},
    });
}

TEST(JsonReaderErrors, NestingLimitIsExactly128) {
    expect_errors({
        {std::string(129, '['), "recursion limit exceeded at line 1 column 129"},
        {std::string(128, '['), "EOF while parsing a list at line 1 column 128"},
        // The 10^6 bracket case must stop at the limit rather than exhaust the stack.
        {std::string(1'000'000, '['), "recursion limit exceeded at line 1 column 129"},
    });
    std::string mixed;
    for (int i = 0; i < 64; ++i)
        mixed += R"({"k":[)";
    EXPECT_EQ(read_json(mixed + "{}").error, "recursion limit exceeded at line 1 column 385");

    const JsonReadResult deepest = read_json(std::string(128, '[') + std::string(128, ']'));
    ASSERT_TRUE(deepest.ok()) << deepest.error;
    const nlohmann::json* level = &deepest.value;
    for (int depth = 1; depth < 128; ++depth)
        level = &level->at(0);
    EXPECT_EQ(*level, nlohmann::json::array());
}

nlohmann::json read_ok(const std::string& text) {
    JsonReadResult result = read_json(text);
    EXPECT_TRUE(result.ok()) << text << " -> " << result.error;
    return result.value;
}

TEST(JsonReaderValues, NumbersKeepTheirKind) {
    EXPECT_EQ(read_ok("18446744073709551615").get<std::uint64_t>(),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(read_ok("0").is_number_unsigned());
    const auto min = read_ok("-9223372036854775808");
    EXPECT_TRUE(min.is_number_integer() && !min.is_number_unsigned());
    EXPECT_EQ(min.get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
    // The integer -0 is the integer 0, signed as every negative literal is: a sign that stuck
    // would show as -0.0 once the value is used as a float.
    const auto minus_zero = read_ok("-0");
    EXPECT_TRUE(minus_zero.is_number_integer() && !minus_zero.is_number_unsigned());
    EXPECT_EQ(minus_zero.get<std::int64_t>(), 0);
    EXPECT_FALSE(std::signbit(minus_zero.get<double>()));

    struct FloatCase {
        std::string text;
        double value;
    };
    for (const auto& c : std::vector<FloatCase>{
             {"18446744073709551616", 18446744073709551616.0},
             {"-9223372036854775809", -9223372036854775808.0},
             {"1.5", 1.5},
             {"-0.0", -0.0},
             {"-0e0", -0.0},
             {"1E2", 100.0},
             {"9007199254740993.0", 9007199254740992.0},  // ties round to even
             {"4.9e-324", std::numeric_limits<double>::denorm_min()},
             {"0.000001e313", 1e307},
             {"1e-400", 0.0},
             {"-1e-99999999999999999999", -0.0},
         }) {
        const auto value = read_ok(c.text);
        ASSERT_TRUE(value.is_number_float()) << c.text;
        EXPECT_EQ(value.get<double>(), c.value) << c.text;
        EXPECT_EQ(std::signbit(value.get<double>()), std::signbit(c.value)) << c.text;
    }
}

TEST(JsonReaderValues, StringsAndStructure) {
    EXPECT_EQ(read_ok(R"("a\"b\\c\/d\be\ff\ng\rh\ti")"), "a\"b\\c/d\be\ff\ng\rh\ti");
    EXPECT_EQ(read_ok(R"("\u0041\u00e9\u20AC h\u00E9")"), "A\xC3\xA9\xE2\x82\xAC h\xC3\xA9");
    EXPECT_EQ(read_ok(R"("\ud83d\ude00 \uDBFF\uDFFF")"), "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF");
    EXPECT_EQ(read_ok(R"("a\u0000b")"), std::string("a\0b", 3));
    EXPECT_EQ(read_ok("\"h\xC3\xA9\x7F\""), "h\xC3\xA9\x7F");

    EXPECT_EQ(read_ok(R"({"a":1,"b":true,"a":[2]})"), (nlohmann::json{{"a", {2}}, {"b", true}}));
    const nlohmann::json expected = {
        {"action", "click"},
        {"args",
         {1,
          {{"x", nlohmann::json::array()}, {"y", nlohmann::json::object()}},
          nullptr,
          true,
          false}}};
    EXPECT_EQ(read_ok(" \t\r\n{ \"action\" : \"click\" ,\n\"args\":[ 1 , {\"x\":[ ],\"y\":{ }} ,"
                      "null,true , false ] }\n "),
              expected);
}

// Generated inputs, some with one byte changed, must be accepted or refused exactly as
// a conforming parser does, and read to the same value.
TEST(JsonReaderRobustness, AgreesWithReferenceOnMutatedInputs) {
    std::mt19937 rng(20240611);
    const std::string alphabet = "[]{},:\" \\u0aeE.-+19tfnlx";
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    const std::vector<std::string> scalars = {
        "-0.5e+3", "0", "null", "false", "\"k\\n\"", "\"\\u00e9x\"", "\"\\ud83d\\ude00\""};
    std::function<std::string(int)> gen = [&](int depth) {
        const int kind = pick(depth > 3 ? 2 : 4);
        if (kind == 0)
            return scalars[pick(static_cast<int>(scalars.size()))];
        if (kind == 1)
            return std::to_string(pick(100000)) + (pick(2) ? ".25" : "e-7");
        std::string s(1, kind == 2 ? '[' : '{');
        for (int i = pick(4); i > 0; --i) {
            if (kind == 3) {
                s += '"';
                s += std::to_string(pick(3));
                s += "\" :";
            }
            s += gen(depth + 1) + (i > 1 ? " , " : "");
        }
        return s + (kind == 2 ? ']' : '}');
    };
    int accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text = gen(0);
        if (pick(3) != 0 && !text.empty()) {
            const std::size_t at = pick(static_cast<int>(text.size()));
            const char byte = alphabet[pick(static_cast<int>(alphabet.size()))];
            const int how = pick(3);
            if (how == 0)
                text[at] = byte;
            else if (how == 1)
                text.erase(at, 1);
            else
                text.insert(at, 1, byte);
        }
        const JsonReadResult result = read_json(text);
        ASSERT_EQ(result.ok(), nlohmann::json::accept(text)) << text << " -> " << result.error;
        if (result.ok()) {
            ++accepted;
            EXPECT_EQ(result.value, nlohmann::json::parse(text)) << text;
        }
    }
    EXPECT_GT(accepted, 1000);  // both outcomes are exercised
    EXPECT_LT(accepted, 3900);
}

TEST(JsonReaderRobustness, ArbitraryBytesFailWithAPosition) {
    const std::set<std::string> descriptions = {
        "expected value",
        "trailing characters",
        "EOF while parsing a list",
        "EOF while parsing an object",
        "EOF while parsing a string",
        "EOF while parsing a value",
        "invalid number",
        "invalid escape",
        "trailing comma",
        "key must be a string",
        "expected `,` or `]`",
        "expected `,` or `}`",
        "expected `:`",
        "recursion limit exceeded",
        "control character (\\u0000-\\u001F) found while parsing a string"};
    std::mt19937 rng(7);
    std::string bytes(1 << 20, '\0');
    for (int round = 0; round < 4; ++round) {
        // Later rounds draw from JSON punctuation so the reader gets past the first byte.
        const std::string pool = round == 0 ? "" : "[[[{\"\\:,]}0e.-  \n";
        for (char& b : bytes)
            b = pool.empty() ? static_cast<char>(rng()) : pool[rng() % pool.size()];
        const JsonReadResult result = read_json(bytes);
        const std::size_t at = result.error.rfind(" at line ");
        ASSERT_NE(at, std::string::npos) << result.error;
        EXPECT_EQ(descriptions.count(result.error.substr(0, at)), 1u) << result.error;
        std::size_t line = 0, column = 0;
        int used = 0;
        ASSERT_EQ(std::sscanf(result.error.c_str() + at, " at line %zu column %zu%n", &line,
                              &column, &used),
                  2);
        EXPECT_EQ(at + used, result.error.size());
        const auto line_feeds =
            static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        EXPECT_LE(line, 1 + line_feeds);
        EXPECT_LE(column, bytes.size());
    }
}

}  // namespace
}  // namespace text
