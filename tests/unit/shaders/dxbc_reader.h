// A reader for the DXBC shader container, enough to check the eye-pass bytecode without a
// Direct3D runtime: the container header and its checksum, the chunk table and the program's
// instructions. Every field is read little-endian with bounds checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillo::dxbc {

// The container checksum: MD5 over everything after the 20-byte magic + checksum, with the
// length words placed differently from standard MD5 (see the .cpp). The result is the four
// MD5 state words, stored little-endian at bytes 4..19 of the container.
std::array<uint32_t, 4> ComputeChecksum(const uint8_t* data, size_t size);

struct Chunk {
    std::string tag;    // four characters, e.g. "RDEF"
    size_t offset = 0;  // of the chunk's data (after its 8-byte header), in the container
    size_t size = 0;
};

struct Container {
    std::array<uint32_t, 4> storedChecksum{};
    uint32_t totalSize = 0;  // the size field of the header
    std::vector<Chunk> chunks;
    const Chunk* Find(const std::string& tag) const;
};

// Parses the header and chunk table; nullopt (and a reason) when anything is out of bounds or
// the magic is wrong.
std::optional<Container> ParseContainer(const std::vector<uint8_t>& bytes, std::string* error);

std::optional<std::vector<uint32_t>> ReadProgramTokens(const std::vector<uint8_t>& bytes,
                                                       const Chunk& chunk, std::string* error);

// One instruction of a program: its opcode (bits 0..10 of the first token) and all its tokens.
struct Instruction {
    uint32_t opcode = 0;
    std::vector<uint32_t> tokens;
};
// Splits the instructions after the version and length tokens; nullopt on a length that runs
// past the end.
std::optional<std::vector<Instruction>> SplitInstructions(const std::vector<uint32_t>& program);

}  // namespace quillo::dxbc
