#include "main/stdin_reader.h"

#include <vector>

namespace cua_entry {
namespace {

constexpr std::size_t kReadChunkBytes = 64 * 1024;

}  // namespace

std::optional<std::string> read_to_end(const ChunkReader& read) {
    std::string input;
    std::vector<char> buffer(kReadChunkBytes);
    while (true) {
        const ReadChunk chunk = read(buffer.data(), buffer.size());
        switch (chunk.outcome) {
            case ReadOutcome::data:
                if (chunk.bytes == 0) {
                    return input;
                }
                input.append(buffer.data(), chunk.bytes);
                break;
            case ReadOutcome::more_data:
                // A message longer than the buffer: the rest comes with the next read.
                input.append(buffer.data(), chunk.bytes);
                break;
            case ReadOutcome::end:
                return input;
            case ReadOutcome::failed:
                return std::nullopt;
        }
    }
}

}  // namespace cua_entry
