#include "dxbc_reader.h"

#include <cstring>

namespace quillo::dxbc {
namespace {

// --- MD5 block function (RFC 1321) ------------------------------------------------------

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void WriteU32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

uint32_t RotateLeft(uint32_t x, uint32_t n) {
    return (x << n) | (x >> (32 - n));
}

void Md5Block(std::array<uint32_t, 4>& state, const uint8_t* block) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = ReadU32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t f, g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = d;
        d = c;
        c = b;
        b = b + RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

template <typename T>
std::optional<T> Fail(std::string* error, const std::string& reason) {
    if (error != nullptr) *error = reason;
    return std::nullopt;
}

}  // namespace

// Standard MD5 appends 0x80, zeros and the 64-bit bit count at the end of the last block. The
// DXBC variant instead puts the 32-bit bit count first in the last block and the word
// (bits >> 2) | 1 in its last word; when the remaining bytes leave no room for the count in
// front (56 or more), they are closed with 0x80 and zeros as usual and one extra block holds
// just the two words.
std::array<uint32_t, 4> ComputeChecksum(const uint8_t* data, size_t size) {
    std::array<uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    constexpr size_t kHashed = 20;  // magic and checksum are not hashed
    if (size < kHashed) return state;
    data += kHashed;
    size -= kHashed;
    const uint32_t bitCount = static_cast<uint32_t>(size * 8);
    const uint32_t lastWord = (bitCount >> 2) | 1;

    const size_t fullBlocks = size / 64;
    for (size_t i = 0; i < fullBlocks; ++i) Md5Block(state, data + 64 * i);
    const uint8_t* rest = data + 64 * fullBlocks;
    const size_t restSize = size - 64 * fullBlocks;

    uint8_t block[64] = {};
    if (restSize >= 56) {
        memcpy(block, rest, restSize);
        block[restSize] = 0x80;
        Md5Block(state, block);
        memset(block, 0, sizeof block);
        WriteU32(block, bitCount);
        WriteU32(block + 60, lastWord);
        Md5Block(state, block);
    } else {
        WriteU32(block, bitCount);
        memcpy(block + 4, rest, restSize);
        block[4 + restSize] = 0x80;
        WriteU32(block + 60, lastWord);
        Md5Block(state, block);
    }
    return state;
}

const Chunk* Container::Find(const std::string& tag) const {
    for (const Chunk& chunk : chunks) {
        if (chunk.tag == tag) return &chunk;
    }
    return nullptr;
}

std::optional<Container> ParseContainer(const std::vector<uint8_t>& bytes, std::string* error) {
    // Header: "DXBC", 16-byte checksum, u32 version (1), u32 total size, u32 chunk count,
    // then one u32 offset per chunk.
    constexpr size_t kHeaderSize = 32;
    if (bytes.size() < kHeaderSize) return Fail<Container>(error, "shorter than the header");
    if (memcmp(bytes.data(), "DXBC", 4) != 0) return Fail<Container>(error, "no DXBC magic");
    Container container;
    for (int i = 0; i < 4; ++i) container.storedChecksum[i] = ReadU32(bytes.data() + 4 + 4 * i);
    container.totalSize = ReadU32(bytes.data() + 24);
    const uint32_t count = ReadU32(bytes.data() + 28);
    if (count > (bytes.size() - kHeaderSize) / 4) {
        return Fail<Container>(error, "chunk table runs past the end");
    }
    for (uint32_t i = 0; i < count; ++i) {
        const size_t offset = ReadU32(bytes.data() + kHeaderSize + 4 * i);
        if (offset > bytes.size() || bytes.size() - offset < 8) {
            return Fail<Container>(error, "chunk header out of bounds");
        }
        Chunk chunk;
        chunk.tag.assign(reinterpret_cast<const char*>(bytes.data() + offset), 4);
        chunk.offset = offset + 8;
        chunk.size = ReadU32(bytes.data() + offset + 4);
        if (chunk.size > bytes.size() - chunk.offset) {
            return Fail<Container>(error, "chunk " + chunk.tag + " runs past the end");
        }
        container.chunks.push_back(std::move(chunk));
    }
    return container;
}

std::optional<std::vector<uint32_t>> ReadProgramTokens(const std::vector<uint8_t>& bytes,
                                                       const Chunk& chunk, std::string* error) {
    using Result = std::vector<uint32_t>;
    if (chunk.size < 8 || chunk.size % 4 != 0) return Fail<Result>(error, "bad program size");
    Result tokens(chunk.size / 4);
    for (size_t i = 0; i < tokens.size(); ++i)
        tokens[i] = ReadU32(bytes.data() + chunk.offset + 4 * i);
    if (tokens[1] != tokens.size()) {
        return Fail<Result>(error, "program length token disagrees with the chunk size");
    }
    return tokens;
}

std::optional<std::vector<Instruction>> SplitInstructions(const std::vector<uint32_t>& program) {
    constexpr uint32_t kCustomData = 0x35;  // length in the second token
    std::vector<Instruction> instructions;
    size_t at = 2;
    while (at < program.size()) {
        Instruction instruction;
        instruction.opcode = program[at] & 0x7ff;
        size_t length = (program[at] >> 24) & 0x7f;
        if (instruction.opcode == kCustomData) {
            if (at + 1 >= program.size()) return std::nullopt;
            length = program[at + 1];
        }
        if (length == 0 || length > program.size() - at) return std::nullopt;
        instruction.tokens.assign(program.begin() + at, program.begin() + at + length);
        instructions.push_back(std::move(instruction));
        at += length;
    }
    return instructions;
}

}  // namespace quillo::dxbc
