#include "mcp/stdio_transport.h"

#include <gtest/gtest.h>

#include <vector>

namespace mcp {
namespace {

TEST(LineSplitter, CutsAtLineFeedsWhereverTheChunksEnd) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{"a\nb\n"}, {"a", "b"}},
        {{"a", "b\n", "c"}, {"ab", "c"}},            // the last line needs no line feed
        {{"a\r\n", "\r\n", "b\r"}, {"a", "", "b"}},  // CR LF ends a line too
        {{"x\r", "\ny"}, {"x", "y"}},                // CR and LF in separate chunks
        {{"\xc3", "\xa9\n"}, {"\xc3\xa9"}},          // a character split across chunks
        {{"in \"a\rb\" q\n"}, {"in \"a\rb\" q"}},    // only a CR before the LF is removed
        {{""}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines;
        const auto on_line = [&](std::string_view line) { lines.emplace_back(line); };
        LineSplitter splitter;
        for (const std::string& chunk : c.chunks) {
            splitter.feed(chunk, on_line);
        }
        splitter.finish(on_line);
        EXPECT_EQ(lines, c.lines) << ::testing::PrintToString(c.chunks);
    }
}

}  // namespace
}  // namespace mcp
