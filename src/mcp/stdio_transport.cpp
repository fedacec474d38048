#include "mcp/stdio_transport.h"

namespace mcp {
namespace {

std::string_view without_carriage_return(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

void LineSplitter::feed(std::string_view bytes, const LineHandler& on_line) {
    std::size_t newline;
    while ((newline = bytes.find('\n')) != std::string_view::npos) {
        if (pending_.empty()) {
            on_line(without_carriage_return(bytes.substr(0, newline)));
        } else {
            pending_.append(bytes.substr(0, newline));
            const std::string line = std::move(pending_);
            pending_.clear();
            on_line(without_carriage_return(line));
        }
        bytes.remove_prefix(newline + 1);
    }
    pending_.append(bytes);
}

void LineSplitter::finish(const LineHandler& on_line) {
    if (!pending_.empty()) {
        const std::string line = std::move(pending_);
        pending_.clear();
        on_line(without_carriage_return(line));
    }
}

}  // namespace mcp
