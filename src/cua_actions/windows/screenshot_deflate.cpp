#include "cua_actions/windows/screenshot_deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "cua_actions/windows/simd.h"

namespace cua_actions::windows {
namespace {

static_assert(std::endian::native == std::endian::little, "the bit writer stores little-endian");

constexpr std::size_t kWindowSize = 32768;
// Matches shorter than one 4-byte probe are not looked for.
constexpr std::size_t kMinMatch = 4;
constexpr std::size_t kMaxMatch = 258;
constexpr int kHashBits = 15;
// Image rows: matches a row up are tried first, and the table then only needs
// the recent past. A table this small stays in the nearest cache, which makes
// the search a sixth faster; on the screens measured the output is smaller
// too, though the table no longer reaches a whole window back.
constexpr int kRowHashBits = 11;
// Symbols per block: large enough that the code tables cost little, small
// enough that each part of the image gets a code of its own.
constexpr std::size_t kBlockSymbols = std::size_t{1} << 16;
// After this many probes without a match the step grows by one byte, so noisy
// areas (photos) cost fewer probes; it never grows past kMaxStep.
constexpr unsigned kMissesPerStep = 32;
constexpr std::size_t kMaxStep = 8;
constexpr std::size_t kMaxStoredLength = 65535;

constexpr int kLitLenSymbols = 286;
constexpr int kDistSymbols = 30;
constexpr int kCodeLengthSymbols = 19;
constexpr int kEndOfBlock = 256;
constexpr int kFirstLengthSymbol = 257;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;

constexpr std::uint32_t kBlockStored = 0;
constexpr std::uint32_t kBlockDynamic = 2;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                     4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code's lengths are sent.
constexpr std::array<std::uint8_t, kCodeLengthSymbols> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length (minus 3) and distance (minus 1) to their code numbers. Distances of
// 256 and more share a code per 128, so they are looked up by distance >> 7.
struct CodeTables {
    std::array<std::uint8_t, 256> length_code{};
    std::array<std::uint8_t, 256> near_dist_code{};
    std::array<std::uint8_t, 256> far_dist_code{};
};

constexpr CodeTables make_code_tables() {
    CodeTables tables;
    for (std::size_t code = 0; code < kLengthBase.size(); ++code) {
        const std::size_t first = kLengthBase[code] - 3u;
        const std::size_t count = code + 1 == kLengthBase.size() ? 1 : 1u << kLengthExtra[code];
        for (std::size_t i = 0; i < count && first + i < 256; ++i) {
            tables.length_code[first + i] = static_cast<std::uint8_t>(code);
        }
    }
    for (std::size_t code = 0; code < kDistBase.size(); ++code) {
        const std::size_t first = kDistBase[code] - 1u;
        const std::size_t last = first + (std::size_t{1} << kDistExtra[code]);
        for (std::size_t d = first; d < last; d += d < 256 ? 1 : 128) {
            if (d < 256) {
                tables.near_dist_code[d] = static_cast<std::uint8_t>(code);
            } else {
                tables.far_dist_code[d >> 7] = static_cast<std::uint8_t>(code);
            }
        }
    }
    return tables;
}

constexpr CodeTables kCodes = make_code_tables();

inline std::uint32_t dist_code(std::uint32_t dist_minus_one) {
    return dist_minus_one < 256 ? kCodes.near_dist_code[dist_minus_one]
                                : kCodes.far_dist_code[dist_minus_one >> 7];
}

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

// Writes bits least significant first, as deflate packs them.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* out) : start_(out), out_(out) {}

    // `count` at most 32; `bits` has nothing above its low `count` bits. The
    // whole bytes go out at once: an 8-byte store, of which only the complete
    // bytes count (the bound leaves room for the rest).
    void put(std::uint64_t bits, unsigned count) {
        buffer_ |= bits << pending_;
        pending_ += count;
        std::memcpy(out_, &buffer_, sizeof(buffer_));
        const unsigned whole_bytes = pending_ >> 3;
        out_ += whole_bytes;
        buffer_ >>= whole_bytes * 8;  // at most 32: pending_ was below 40
        pending_ &= 7;
    }

    // Pads with zero bits to the next byte boundary and writes out what is held.
    void align_to_byte() {
        while (pending_ > 0) {
            *out_++ = static_cast<std::uint8_t>(buffer_);
            buffer_ >>= 8;
            pending_ = pending_ > 8 ? pending_ - 8 : 0;
        }
        buffer_ = 0;
    }

    // Only after align_to_byte.
    void put_bytes(const std::uint8_t* data, std::size_t size) {
        if (size != 0) {
            std::memcpy(out_, data, size);
            out_ += size;
        }
    }

    std::size_t bytes_written() const { return static_cast<std::size_t>(out_ - start_); }

  private:
    std::uint8_t* start_;
    std::uint8_t* out_;
    std::uint64_t buffer_ = 0;
    unsigned pending_ = 0;
};

// --- Huffman codes ------------------------------------------------------------

// Code lengths of an optimal prefix code for weights sorted ascending, in
// place (Moffat and Katajainen): weights[i] becomes the length of symbol i.
void minimum_redundancy_lengths(std::uint32_t* weights, int count) {
    if (count == 1) {
        weights[0] = 1;
        return;
    }
    // First pass: internal node weights, with parent pointers left behind.
    weights[0] += weights[1];
    int root = 0;
    int leaf = 2;
    for (int next = 1; next < count - 1; ++next) {
        if (leaf >= count || weights[root] < weights[leaf]) {
            weights[next] = weights[root];
            weights[root++] = static_cast<std::uint32_t>(next);
        } else {
            weights[next] = weights[leaf++];
        }
        if (leaf >= count || (root < next && weights[root] < weights[leaf])) {
            weights[next] += weights[root];
            weights[root++] = static_cast<std::uint32_t>(next);
        } else {
            weights[next] += weights[leaf++];
        }
    }
    // Second pass: depths of the internal nodes.
    weights[count - 2] = 0;
    for (int next = count - 3; next >= 0; --next) {
        weights[next] = weights[weights[next]] + 1;
    }
    // Third pass: depths of the leaves.
    int available = 1;
    int used = 0;
    std::uint32_t depth = 0;
    root = count - 2;
    int next = count - 1;
    while (available > 0) {
        while (root >= 0 && weights[root] == depth) {
            ++used;
            --root;
        }
        while (available > used) {
            weights[next--] = depth;
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

}  // namespace

void huffman_code_lengths(std::span<const std::uint32_t> freq, int max_bits,
                          std::span<std::uint8_t> lengths) {
    constexpr std::size_t kMostSymbols = kLitLenSymbols;
    std::array<std::uint16_t, kMostSymbols> order{};
    const int symbols = static_cast<int>(std::min(freq.size(), kMostSymbols));
    int used = 0;
    for (int symbol = 0; symbol < symbols; ++symbol) {
        lengths[symbol] = 0;
        if (freq[symbol] != 0) {
            order[used++] = static_cast<std::uint16_t>(symbol);
        }
    }
    if (used == 0) {
        return;
    }
    std::sort(order.begin(), order.begin() + used, [&](std::uint16_t a, std::uint16_t b) {
        return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
    });
    std::array<std::uint32_t, kMostSymbols> depth{};
    for (int i = 0; i < used; ++i) {
        depth[i] = freq[order[i]];
    }
    minimum_redundancy_lengths(depth.data(), used);

    // Lengths over the limit are cut to it; the code is then over-full, and
    // codes are moved one level deeper until it is exactly complete again.
    std::array<std::uint32_t, 33> per_length{};
    for (int i = 0; i < used; ++i) {
        ++per_length[std::min<std::uint32_t>(depth[i], static_cast<std::uint32_t>(max_bits))];
    }
    std::uint32_t kraft = 0;
    for (int bits = 1; bits <= max_bits; ++bits) {
        kraft += per_length[bits] << (max_bits - bits);
    }
    while (kraft > (1u << max_bits)) {
        --per_length[max_bits];
        for (int bits = max_bits - 1; bits > 0; --bits) {
            if (per_length[bits] != 0) {
                --per_length[bits];
                per_length[bits + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The rarest symbols get the longest codes.
    int next = 0;
    for (int bits = max_bits; bits >= 1; --bits) {
        for (std::uint32_t k = 0; k < per_length[bits]; ++k) {
            lengths[order[next++]] = static_cast<std::uint8_t>(bits);
        }
    }
}

namespace {

// Canonical codes for the lengths, bit-reversed for least-significant-first output.
template <std::size_t Symbols>
void build_codes(const std::array<std::uint8_t, Symbols>& lengths,
                 std::array<std::uint16_t, Symbols>& codes) {
    std::array<std::uint16_t, kMaxCodeBits + 2> per_length{};
    for (std::uint8_t length : lengths) {
        ++per_length[length];
    }
    per_length[0] = 0;
    std::array<std::uint16_t, kMaxCodeBits + 2> next{};
    std::uint32_t code = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        code = (code + per_length[bits - 1]) << 1;
        next[bits] = static_cast<std::uint16_t>(code);
    }
    for (std::size_t symbol = 0; symbol < Symbols; ++symbol) {
        const unsigned length = lengths[symbol];
        if (length == 0) {
            codes[symbol] = 0;
            continue;
        }
        std::uint32_t value = next[length]++;
        std::uint32_t reversed = 0;
        for (unsigned i = 0; i < length; ++i, value >>= 1) {
            reversed = (reversed << 1) | (value & 1u);
        }
        codes[symbol] = static_cast<std::uint16_t>(reversed);
    }
}

// A Huffman code needs two used symbols to be complete; unused ones are free
// to add because they are never sent.
template <std::size_t Symbols>
void ensure_two_symbols(std::array<std::uint32_t, Symbols>& freq) {
    int used = 0;
    for (std::uint32_t f : freq) {
        used += f != 0 ? 1 : 0;
    }
    for (int symbol = 0; used < 2; ++symbol) {
        if (freq[symbol] == 0) {
            freq[symbol] = 1;
            ++used;
        }
    }
}

// --- blocks -------------------------------------------------------------------

// Literal bytes (taken from the input in order) followed by one match; a
// length of 0 means literals only.
struct Sequence {
    std::uint32_t literals;
    std::uint16_t length;
    std::uint16_t distance;
};

struct Block {
    // One more than the symbols: the literals left at the end close the block.
    std::unique_ptr<Sequence[]> sequences{new Sequence[kBlockSymbols + 1]};
    std::size_t count = 0;
    std::size_t symbols = 0;       // literals and matches so far
    std::uint32_t literals = 0;    // waiting for the next match
    std::size_t source_begin = 0;  // input offset of the block's first byte
    std::array<std::uint32_t, kLitLenSymbols> litlen_freq{};
    std::array<std::uint32_t, kDistSymbols> dist_freq{};

    bool full() const { return symbols >= kBlockSymbols; }

    void add_literals(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            ++litlen_freq[bytes[i]];
        }
        literals += static_cast<std::uint32_t>(size);
        symbols += size;
    }

    void add_match(std::size_t length, std::size_t distance) {
        sequences[count++] = Sequence{literals, static_cast<std::uint16_t>(length),
                                      static_cast<std::uint16_t>(distance)};
        literals = 0;
        ++symbols;
        ++litlen_freq[kFirstLengthSymbol + kCodes.length_code[length - 3]];
        ++dist_freq[dist_code(static_cast<std::uint32_t>(distance - 1))];
    }

    // Literals left over become a sequence of their own.
    void close() {
        if (literals != 0) {
            sequences[count++] = Sequence{literals, 0, 0};
            literals = 0;
        }
    }

    void reset(std::size_t source) {
        count = 0;
        symbols = 0;
        literals = 0;
        source_begin = source;
        litlen_freq.fill(0);
        dist_freq.fill(0);
    }
};

// The code-length sequence of a dynamic block header, run-length coded with
// symbols 16 (repeat the previous 3-6 times), 17 (3-10 zeros), 18 (11-138 zeros).
struct CodeLengthRuns {
    std::array<std::uint8_t, kLitLenSymbols + kDistSymbols> symbol{};
    std::array<std::uint8_t, kLitLenSymbols + kDistSymbols> extra{};
    int count = 0;
    std::array<std::uint32_t, kCodeLengthSymbols> freq{};

    void add(std::uint8_t code, std::uint8_t extra_value) {
        symbol[count] = code;
        extra[count] = extra_value;
        ++count;
        ++freq[code];
    }

    void encode(const std::uint8_t* lengths, int total) {
        for (int i = 0; i < total;) {
            const std::uint8_t value = lengths[i];
            int run = 1;
            while (i + run < total && lengths[i + run] == value) {
                ++run;
            }
            i += run;
            if (value == 0) {
                while (run >= 11) {
                    const int take = std::min(run, 138);
                    add(18, static_cast<std::uint8_t>(take - 11));
                    run -= take;
                }
                if (run >= 3) {
                    add(17, static_cast<std::uint8_t>(run - 3));
                    run = 0;
                }
            } else {
                add(value, 0);
                --run;
                while (run >= 3) {
                    const int take = std::min(run, 6);
                    add(16, static_cast<std::uint8_t>(take - 3));
                    run -= take;
                }
            }
            for (; run > 0; --run) {
                add(value, 0);
            }
        }
    }
};

constexpr unsigned code_length_extra_bits(std::uint8_t symbol) {
    return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0;
}

void write_stored(BitWriter& bits, const std::uint8_t* data, std::size_t size, bool final) {
    do {
        const std::size_t chunk = std::min(size, kMaxStoredLength);
        const bool last_chunk = chunk == size;
        bits.put((final && last_chunk ? 1u : 0u) | kBlockStored << 1, 3);
        bits.align_to_byte();
        const auto length = static_cast<std::uint16_t>(chunk);
        const auto complement = static_cast<std::uint16_t>(~length);
        const std::uint8_t header[4] = {
            static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(complement), static_cast<std::uint8_t>(complement >> 8)};
        bits.put_bytes(header, sizeof(header));
        bits.put_bytes(data, chunk);
        data += chunk;
        size -= chunk;
    } while (size > 0);
}

// Bits a run of stored blocks takes for `size` bytes, padding included at most.
std::uint64_t stored_bits(std::size_t size) {
    const std::uint64_t chunks =
        std::max<std::uint64_t>(1, (size + kMaxStoredLength - 1) / kMaxStoredLength);
    return chunks * (3 + 7 + 32) + 8 * static_cast<std::uint64_t>(size);
}

// The Huffman codes of one dynamic block, how its header sends them, and what
// the whole block costs in bits.
struct DynamicCode {
    std::array<std::uint8_t, kLitLenSymbols> litlen_lengths{};
    std::array<std::uint8_t, kDistSymbols> dist_lengths{};
    std::array<std::uint8_t, kCodeLengthSymbols> cl_lengths{};
    int litlen_count = 0;  // lengths sent (HLIT + 257)
    int dist_count = 0;    // HDIST + 1
    int cl_count = 0;      // HCLEN + 4
    CodeLengthRuns runs;
    std::uint64_t block_bits = 0;
};

DynamicCode plan_dynamic_code(const Block& block) {
    DynamicCode code;
    // The end-of-block symbol is sent once; the codes need two used symbols.
    std::array<std::uint32_t, kLitLenSymbols> litlen_freq = block.litlen_freq;
    litlen_freq[kEndOfBlock] = 1;
    std::array<std::uint32_t, kDistSymbols> dist_freq = block.dist_freq;
    std::uint64_t data_bits = 0;
    for (int symbol = 0; symbol < kLitLenSymbols; ++symbol) {
        data_bits += static_cast<std::uint64_t>(litlen_freq[symbol]) *
                     (symbol >= kFirstLengthSymbol ? kLengthExtra[symbol - kFirstLengthSymbol] : 0);
    }
    for (int symbol = 0; symbol < kDistSymbols; ++symbol) {
        data_bits += static_cast<std::uint64_t>(dist_freq[symbol]) * kDistExtra[symbol];
    }
    const std::array<std::uint32_t, kLitLenSymbols> litlen_sent = litlen_freq;
    const std::array<std::uint32_t, kDistSymbols> dist_sent = dist_freq;
    ensure_two_symbols(litlen_freq);
    ensure_two_symbols(dist_freq);
    huffman_code_lengths(litlen_freq, kMaxCodeBits, code.litlen_lengths);
    huffman_code_lengths(dist_freq, kMaxCodeBits, code.dist_lengths);
    for (int symbol = 0; symbol < kLitLenSymbols; ++symbol) {
        data_bits += static_cast<std::uint64_t>(litlen_sent[symbol]) * code.litlen_lengths[symbol];
    }
    for (int symbol = 0; symbol < kDistSymbols; ++symbol) {
        data_bits += static_cast<std::uint64_t>(dist_sent[symbol]) * code.dist_lengths[symbol];
    }

    // Trailing unused lengths are not sent.
    code.litlen_count = kLitLenSymbols;
    while (code.litlen_count > kFirstLengthSymbol &&
           code.litlen_lengths[code.litlen_count - 1] == 0) {
        --code.litlen_count;
    }
    code.dist_count = kDistSymbols;
    while (code.dist_count > 1 && code.dist_lengths[code.dist_count - 1] == 0) {
        --code.dist_count;
    }
    std::array<std::uint8_t, kLitLenSymbols + kDistSymbols> all_lengths{};
    std::copy_n(code.litlen_lengths.begin(), code.litlen_count, all_lengths.begin());
    std::copy_n(code.dist_lengths.begin(), code.dist_count,
                all_lengths.begin() + code.litlen_count);
    code.runs.encode(all_lengths.data(), code.litlen_count + code.dist_count);
    std::array<std::uint32_t, kCodeLengthSymbols> cl_freq = code.runs.freq;
    ensure_two_symbols(cl_freq);
    huffman_code_lengths(cl_freq, kMaxCodeLengthBits, code.cl_lengths);
    code.cl_count = kCodeLengthSymbols;
    while (code.cl_count > 4 && code.cl_lengths[kCodeLengthOrder[code.cl_count - 1]] == 0) {
        --code.cl_count;
    }

    std::uint64_t header_bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(code.cl_count);
    for (int i = 0; i < code.runs.count; ++i) {
        const std::uint8_t symbol = code.runs.symbol[i];
        header_bits += code.cl_lengths[symbol] + code_length_extra_bits(symbol);
    }
    code.block_bits = header_bits + data_bits;
    return code;
}

void write_dynamic_header(BitWriter& bits, const DynamicCode& code, bool final) {
    std::array<std::uint16_t, kCodeLengthSymbols> cl_codes;
    build_codes(code.cl_lengths, cl_codes);
    bits.put((final ? 1u : 0u) | kBlockDynamic << 1, 3);
    bits.put(static_cast<std::uint32_t>(code.litlen_count - kFirstLengthSymbol), 5);
    bits.put(static_cast<std::uint32_t>(code.dist_count - 1), 5);
    bits.put(static_cast<std::uint32_t>(code.cl_count - 4), 4);
    for (int i = 0; i < code.cl_count; ++i) {
        bits.put(code.cl_lengths[kCodeLengthOrder[i]], 3);
    }
    for (int i = 0; i < code.runs.count; ++i) {
        const std::uint8_t symbol = code.runs.symbol[i];
        bits.put(cl_codes[symbol], code.cl_lengths[symbol]);
        if (const unsigned extra = code_length_extra_bits(symbol); extra != 0) {
            bits.put(code.runs.extra[i], extra);
        }
    }
}

// The block's literals and matches in the codes, then the end of the block.
void write_dynamic_body(BitWriter& bits, const DynamicCode& code, const Block& block,
                        const std::uint8_t* input) {
    std::array<std::uint16_t, kLitLenSymbols> litlen_codes;
    std::array<std::uint16_t, kDistSymbols> dist_codes;
    build_codes(code.litlen_lengths, litlen_codes);
    build_codes(code.dist_lengths, dist_codes);
    const auto& litlen_lengths = code.litlen_lengths;
    const auto& dist_lengths = code.dist_lengths;

    // Each length (minus 3) with its code and extra bits joined, ready to send.
    std::array<std::uint32_t, 256> length_bits;
    std::array<std::uint8_t, 256> length_bit_count;
    for (std::uint32_t index = 0; index < 256; ++index) {
        const std::uint32_t length_code = kCodes.length_code[index];
        const std::uint32_t symbol = kFirstLengthSymbol + length_code;
        const std::uint32_t extra = index + 3 - kLengthBase[length_code];
        length_bits[index] = litlen_codes[symbol] | extra << litlen_lengths[symbol];
        length_bit_count[index] =
            static_cast<std::uint8_t>(litlen_lengths[symbol] + kLengthExtra[length_code]);
    }
    const std::uint8_t* literal = input + block.source_begin;
    for (std::size_t i = 0; i < block.count; ++i) {
        const Sequence& sequence = block.sequences[i];
        for (std::uint32_t k = 0; k < sequence.literals; ++k, ++literal) {
            bits.put(litlen_codes[*literal], litlen_lengths[*literal]);
        }
        if (sequence.length == 0) {
            continue;
        }
        literal += sequence.length;
        const std::uint32_t length_index = sequence.length - 3u;
        bits.put(length_bits[length_index], length_bit_count[length_index]);
        const std::uint32_t dist_index = sequence.distance - 1u;
        const std::uint32_t dist = dist_code(dist_index);
        const std::uint32_t extra = dist_index + 1 - kDistBase[dist];
        bits.put(dist_codes[dist] | static_cast<std::uint64_t>(extra) << dist_lengths[dist],
                 dist_lengths[dist] + kDistExtra[dist]);
    }
    bits.put(litlen_codes[kEndOfBlock], litlen_lengths[kEndOfBlock]);
}

// Writes the block with codes made for it, or the bytes it stands for as
// stored blocks when that is smaller (noise does not compress).
void write_block(BitWriter& bits, const Block& block, const std::uint8_t* input,
                 std::size_t source_end, bool final) {
    const DynamicCode code = plan_dynamic_code(block);
    const std::size_t source_size = source_end - block.source_begin;
    if (stored_bits(source_size) < code.block_bits) {
        write_stored(bits, input + block.source_begin, source_size, final);
        return;
    }
    write_dynamic_header(bits, code, final);
    write_dynamic_body(bits, code, block, input);
}

// Greedy LZ77 over the whole input, handing full blocks to the writer.
class Compressor {
  public:
    Compressor(std::span<const std::uint8_t> input, std::size_t row_bytes, BitWriter& bits,
               Block& block, std::int32_t* head)
        : input_(input.data()),
          size_(input.size()),
          row_(row_bytes <= kWindowSize ? row_bytes : 0),
          hash_shift_(32 - (row_ != 0 ? kRowHashBits : kHashBits)),
          bits_(bits),
          block_(block),
          head_(head) {}

    void run(bool final) {
        std::int32_t* head = head_;
        // A start far enough back that no probe sees it as within the window.
        std::fill_n(head, std::size_t{1} << (32 - hash_shift_),
                    -static_cast<std::int32_t>(kWindowSize) - 1);
        block_.reset(0);

        std::size_t pos = 0;
        std::size_t literals_from = 0;
        unsigned misses = 0;
        while (pos + kMinMatch <= size_) {
            const std::uint32_t probe = load32(input_ + pos);
            const std::uint32_t hash = (probe * 0x9E3779B1u) >> hash_shift_;
            const std::int64_t candidate = head[hash];
            head[hash] = static_cast<std::int32_t>(pos);
            std::size_t distance =
                static_cast<std::size_t>(static_cast<std::int64_t>(pos) - candidate);
            // Screens repeat from one row to the next: the same bytes a row up
            // are the first choice, the table's candidate the second.
            if (row_ != 0 && pos >= row_ && load32(input_ + pos - row_) == probe) {
                distance = row_;
            } else if (distance > kWindowSize || load32(input_ + candidate) != probe) {
                pos += std::min<std::size_t>(1 + misses++ / kMissesPerStep, kMaxStep);
                continue;
            }
            const std::size_t length = match_length(input_ + pos - distance, input_ + pos,
                                                    std::min(kMaxMatch, size_ - pos));
            add_literals(literals_from, pos);
            block_.add_match(length, distance);
            pos += length;
            literals_from = pos;
            misses = 0;
            if (block_.full()) {
                flush(pos, false);
            }
        }
        add_literals(literals_from, size_);
        if (final || block_.symbols != 0) {
            flush(size_, final);
        }
    }

  private:
    static std::size_t match_length(const std::uint8_t* earlier, const std::uint8_t* here,
                                    std::size_t limit) {
        std::size_t length = kMinMatch;
        while (length + 8 <= limit) {
            const std::uint64_t differ = load64(earlier + length) ^ load64(here + length);
            if (differ != 0) {
                return length + static_cast<std::size_t>(std::countr_zero(differ) / 8);
            }
            length += 8;
        }
        while (length < limit && earlier[length] == here[length]) {
            ++length;
        }
        return length;
    }

    void add_literals(std::size_t from, std::size_t to) {
        while (from < to) {
            const std::size_t take = std::min(to - from, kBlockSymbols - block_.symbols);
            block_.add_literals(input_ + from, take);
            from += take;
            if (block_.full()) {
                flush(from, false);
            }
        }
    }

    void flush(std::size_t source_end, bool final) {
        block_.close();
        write_block(bits_, block_, input_, source_end, final);
        block_.reset(source_end);
    }

    const std::uint8_t* input_;
    std::size_t size_;
    std::size_t row_;  // 0: no rows
    unsigned hash_shift_;
    BitWriter& bits_;
    Block& block_;
    std::int32_t* head_;
};

}  // namespace

std::uint32_t adler32_update(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kModulus = 65521;
    // The most bytes before the sums must be reduced to stay within 32 bits.
    constexpr std::size_t kMostBeforeModulo = 5552;
    std::uint64_t s1 = adler & 0xFFFF;
    std::uint64_t s2 = adler >> 16;
#ifdef ZELTO_HAVE_SSE2
    // 16 bytes at a time: s1 gains their sum, s2 gains 16 * s1 before them
    // plus their sum weighted 16, 15, ..., 1.
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights_low = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weights_high = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (size >= 16) {
        const std::size_t blocks = std::min(size, kMostBeforeModulo) / 16;
        __m128i byte_sum = zero;         // bytes of this run so far
        __m128i byte_sum_before = zero;  // the sum above, added once per block
        __m128i weighted = zero;
        for (std::size_t i = 0; i < blocks; ++i, data += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
            byte_sum_before = _mm_add_epi32(byte_sum_before, byte_sum);
            byte_sum = _mm_add_epi32(byte_sum, _mm_sad_epu8(bytes, zero));
            weighted = _mm_add_epi32(
                weighted,
                _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weights_low),
                              _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weights_high)));
        }
        alignas(16) std::uint32_t lanes[3][4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), byte_sum);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), byte_sum_before);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), weighted);
        std::uint64_t sums[3] = {};
        for (int k = 0; k < 3; ++k) {
            sums[k] = std::uint64_t{lanes[k][0]} + lanes[k][1] + lanes[k][2] + lanes[k][3];
        }
        s2 = (s2 + s1 * 16 * blocks + 16 * sums[1] + sums[2]) % kModulus;
        s1 = (s1 + sums[0]) % kModulus;
        size -= blocks * 16;
    }
#endif
    while (size > 0) {
        const std::size_t run = std::min(size, kMostBeforeModulo);
        for (std::size_t i = 0; i < run; ++i) {
            s1 += data[i];
            s2 += s1;
        }
        s1 %= kModulus;
        s2 %= kModulus;
        data += run;
        size -= run;
    }
    return static_cast<std::uint32_t>(s2 << 16 | s1);
}

std::size_t fast_deflate_bound(std::size_t input_size) {
    // Every block is at worst stored: its bytes plus 5 per stored chunk and a
    // byte of padding. Blocks end at kBlockSymbols symbols, each at least a
    // byte. The bit writer's last store reaches 8 bytes past its end.
    const std::size_t blocks = input_size / kBlockSymbols + 1;
    const std::size_t chunks = input_size / kMaxStoredLength + blocks;
    return input_size + 6 * chunks + 16 + 8;
}

// The hash table and the block buffer, kept from one stream to the next.
struct FastDeflater::Tables {
    std::unique_ptr<std::int32_t[]> head{new std::int32_t[std::size_t{1} << kHashBits]};
    Block block;
};

FastDeflater::FastDeflater() : tables_(std::make_unique<Tables>()) {}
FastDeflater::~FastDeflater() = default;

std::size_t FastDeflater::compress(std::span<const std::uint8_t> input, DeflateEnd end,
                                   std::uint8_t* out, std::size_t row_bytes) {
    BitWriter bits(out);
    Compressor(input, row_bytes, bits, tables_->block, tables_->head.get())
        .run(end == DeflateEnd::final);
    if (end == DeflateEnd::joinable) {
        // An empty stored block: leaves the stream on a byte boundary.
        write_stored(bits, nullptr, 0, false);
    } else {
        bits.align_to_byte();
    }
    return bits.bytes_written();
}

std::size_t fast_deflate(std::span<const std::uint8_t> input, DeflateEnd end, std::uint8_t* out,
                         std::size_t row_bytes) {
    return FastDeflater().compress(input, end, out, row_bytes);
}

}  // namespace cua_actions::windows
