// Newline-delimited messages: bytes in, whole lines out, and the program's
// standard streams (Windows only) as the line source and sink.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "mcp/server.h"

namespace mcp {

// Cuts a byte stream into lines at each line feed; a carriage return before
// the line feed is dropped. Chunks may end anywhere, even inside a character.
class LineSplitter {
  public:
    using LineHandler = std::function<void(std::string_view line)>;

    void feed(std::string_view bytes, const LineHandler& on_line);
    // End of input: a last line without a line feed still counts.
    void finish(const LineHandler& on_line);

  private:
    std::string pending_;
};

#ifdef _WIN32
// Writes each line plus a line feed to standard output as bytes; dropped when
// the process has no standard output.
class StdoutSink : public LineSink {
  public:
    void write_line(const std::string& line) override;
};

// Feeds standard input to `server` line by line until it ends, then closes it.
void serve_standard_input(Server& server);
#endif

}  // namespace mcp
