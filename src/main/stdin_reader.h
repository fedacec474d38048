#pragma once
// Reading standard input to its end, apart from the handle that supplies the bytes.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace cua_entry {

// What one read call of the input handle gave.
enum class ReadOutcome {
    data,       // `bytes` arrived
    more_data,  // `bytes` arrived and the message they belong to goes on (message-mode pipe)
    end,        // no more input
    failed,     // the read failed
};

struct ReadChunk {
    ReadOutcome outcome = ReadOutcome::end;
    std::size_t bytes = 0;  // filled into the buffer, for data and more_data
};

// Reads up to `capacity` bytes into `buffer`.
using ChunkReader = std::function<ReadChunk(char* buffer, std::size_t capacity)>;

// Everything the reader supplies until its end, or nothing when a read failed.
std::optional<std::string> read_to_end(const ChunkReader& read);

}  // namespace cua_entry
