#pragma once
// A fast raw deflate (RFC 1951) for the screenshot's filtered rows: greedy
// matching with one hash probe per position tried (after the same bytes one
// image row up, when the input is rows), and one dynamic Huffman code
// per block (a stored block where that is smaller). Built for speed on screen
// images rather than for the smallest output.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace cua_actions::windows {

enum class DeflateEnd {
    // Ends on a byte boundary after an empty non-final stored block, so the
    // blocks of another stream can follow (a sync point).
    joinable,
    // Ends with the final block, padded to a byte boundary.
    final,
};

// The most bytes `fast_deflate` writes for `input_size` bytes of input.
std::size_t fast_deflate_bound(std::size_t input_size);

// Compresses streams one after another with the same tables, so that each
// stream after the first costs no fresh memory. One per thread.
class FastDeflater {
  public:
    FastDeflater();
    ~FastDeflater();
    FastDeflater(const FastDeflater&) = delete;
    FastDeflater& operator=(const FastDeflater&) = delete;

    // As fast_deflate below.
    std::size_t compress(std::span<const std::uint8_t> input, DeflateEnd end, std::uint8_t* out,
                         std::size_t row_bytes = 0);

  private:
    struct Tables;
    std::unique_ptr<Tables> tables_;
};

// Compresses `input` into `out`, which holds at least
// fast_deflate_bound(input.size()) bytes. Matches never reach before the start
// of `input`. Returns the number of bytes written. `row_bytes`, when not 0, is
// the length of the image rows the input is made of: the bytes one row up are
// tried first for each match.
std::size_t fast_deflate(std::span<const std::uint8_t> input, DeflateEnd end, std::uint8_t* out,
                         std::size_t row_bytes = 0);

// The zlib stream's Adler-32 checksum continued over `size` more bytes (start
// with 1).
std::uint32_t adler32_update(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

// Code lengths of a complete prefix code, none longer than `max_bits`, for the
// symbols with a non-zero frequency (0 for the others); more frequent symbols
// never get longer codes. At least two frequencies must be non-zero and at most
// 286 are read. `lengths` holds freq.size() entries.
void huffman_code_lengths(std::span<const std::uint32_t> freq, int max_bits,
                          std::span<std::uint8_t> lengths);

}  // namespace cua_actions::windows
