// A reader for the DXBC shader container, enough to check the eye-pass bytecode without a
// Direct3D runtime: the container header and its checksum, the chunk table, the reflection
// data (RDEF) and the input/output signatures (ISGN/OSGN). Every field is read little-endian
// with bounds checks; a malformed container is reported, never trusted.
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

struct SignatureElement {
    std::string semanticName;
    uint32_t semanticIndex = 0;
    uint32_t systemValue = 0;    // D3D_NAME
    uint32_t componentType = 0;  // D3D_REGISTER_COMPONENT_TYPE: 1 uint32, 2 sint32, 3 float32
    uint32_t registerIndex = 0;
    uint8_t mask = 0;
};

std::optional<std::vector<SignatureElement>> ParseSignature(const std::vector<uint8_t>& bytes,
                                                            const Chunk& chunk, std::string* error);

struct ShaderType {
    uint16_t typeClass = 0;  // D3D_SHADER_VARIABLE_CLASS: 0 scalar, 1 vector, 5 struct
    uint16_t type = 0;       // D3D_SHADER_VARIABLE_TYPE: 2 int, 3 float
    uint16_t rows = 0;
    uint16_t columns = 0;
    struct Member;
    std::vector<Member> members;
};
struct ShaderType::Member {
    std::string name;
    uint32_t offset = 0;
    ShaderType type;
};

struct Variable {
    std::string name;
    uint32_t offset = 0;
    uint32_t size = 0;
    ShaderType type;
};

struct ConstantBuffer {
    std::string name;
    uint32_t size = 0;
    std::vector<Variable> variables;
};

struct Binding {
    std::string name;
    uint32_t inputType = 0;   // D3D_SHADER_INPUT_TYPE: 0 cbuffer, 2 texture, 3 sampler
    uint32_t returnType = 0;  // D3D_RESOURCE_RETURN_TYPE: 5 float
    uint32_t dimension = 0;   // D3D_SRV_DIMENSION: 4 texture2d
    uint32_t bindPoint = 0;
    uint32_t bindCount = 0;
    uint32_t flags = 0;
};

struct Reflection {
    std::vector<Binding> bindings;
    std::vector<ConstantBuffer> constantBuffers;
    uint8_t majorVersion = 0;
    uint8_t minorVersion = 0;
    uint16_t programType = 0;  // 0xFFFE vertex, 0xFFFF pixel
    const Binding* FindBinding(const std::string& name) const;
    const ConstantBuffer* FindConstantBuffer(const std::string& name) const;
};

std::optional<Reflection> ParseReflection(const std::vector<uint8_t>& bytes, const Chunk& chunk,
                                          std::string* error);

// The program of a SHDR/SHEX chunk as 32-bit tokens (version token, length token, then the
// instructions), or nullopt when the length token disagrees with the chunk.
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
