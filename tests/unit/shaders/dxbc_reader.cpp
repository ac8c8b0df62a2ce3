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

// --- bounded reads inside a chunk -------------------------------------------------------

class ChunkView {
  public:
    ChunkView(const std::vector<uint8_t>& bytes, const Chunk& chunk)
        : data_(bytes.data() + chunk.offset), size_(chunk.size) {}

    bool U32(size_t offset, uint32_t& value) const {
        if (offset > size_ || size_ - offset < 4) return false;
        value = ReadU32(data_ + offset);
        return true;
    }
    bool U16(size_t offset, uint16_t& value) const {
        if (offset > size_ || size_ - offset < 2) return false;
        value = uint16_t(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool U8(size_t offset, uint8_t& value) const {
        if (offset >= size_) return false;
        value = data_[offset];
        return true;
    }
    // A NUL-terminated string that must end inside the chunk.
    bool String(size_t offset, std::string& value) const {
        if (offset >= size_) return false;
        const void* end = memchr(data_ + offset, 0, size_ - offset);
        if (end == nullptr) return false;
        value.assign(reinterpret_cast<const char*>(data_ + offset),
                     static_cast<const uint8_t*>(end) - (data_ + offset));
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

template <typename T>
std::optional<T> Fail(std::string* error, const std::string& reason) {
    if (error != nullptr) *error = reason;
    return std::nullopt;
}

// Shader types can nest (structures of structures); real shaders stay shallow, and the limit
// keeps a malformed (cyclic) type table from recursing without end.
constexpr int kMaxTypeDepth = 8;

bool ReadType(const ChunkView& view, uint32_t offset, int depth, ShaderType& type) {
    if (depth > kMaxTypeDepth) return false;
    uint16_t elements = 0, memberCount = 0;
    uint32_t memberOffset = 0;
    if (!view.U16(offset, type.typeClass) || !view.U16(offset + 2, type.type) ||
        !view.U16(offset + 4, type.rows) || !view.U16(offset + 6, type.columns) ||
        !view.U16(offset + 8, elements) || !view.U16(offset + 10, memberCount) ||
        !view.U32(offset + 12, memberOffset)) {
        return false;
    }
    type.members.clear();
    for (uint32_t i = 0; i < memberCount; ++i) {
        // Member entries: name offset, type offset, offset within the structure.
        const size_t entry = size_t(memberOffset) + 12 * size_t(i);
        uint32_t nameOffset = 0, typeOffset = 0;
        ShaderType::Member member;
        if (!view.U32(entry, nameOffset) || !view.U32(entry + 4, typeOffset) ||
            !view.U32(entry + 8, member.offset) || !view.String(nameOffset, member.name) ||
            !ReadType(view, typeOffset, depth + 1, member.type)) {
            return false;
        }
        type.members.push_back(std::move(member));
    }
    return true;
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

std::optional<std::vector<SignatureElement>> ParseSignature(const std::vector<uint8_t>& bytes,
                                                            const Chunk& chunk,
                                                            std::string* error) {
    using Result = std::vector<SignatureElement>;
    const ChunkView view(bytes, chunk);
    // u32 element count, u32 offset of the first element (8), then 24-byte elements.
    uint32_t count = 0, first = 0;
    if (!view.U32(0, count) || !view.U32(4, first)) return Fail<Result>(error, "short signature");
    if (count > chunk.size / 24) return Fail<Result>(error, "signature count too large");
    Result elements;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = size_t(first) + 24 * size_t(i);
        SignatureElement element;
        uint32_t nameOffset = 0;
        if (!view.U32(entry, nameOffset) || !view.U32(entry + 4, element.semanticIndex) ||
            !view.U32(entry + 8, element.systemValue) ||
            !view.U32(entry + 12, element.componentType) ||
            !view.U32(entry + 16, element.registerIndex) || !view.U8(entry + 20, element.mask) ||
            !view.String(nameOffset, element.semanticName)) {
            return Fail<Result>(error, "signature element out of bounds");
        }
        elements.push_back(std::move(element));
    }
    return elements;
}

const Binding* Reflection::FindBinding(const std::string& name) const {
    for (const Binding& binding : bindings) {
        if (binding.name == name) return &binding;
    }
    return nullptr;
}

const ConstantBuffer* Reflection::FindConstantBuffer(const std::string& name) const {
    for (const ConstantBuffer& buffer : constantBuffers) {
        if (buffer.name == name) return &buffer;
    }
    return nullptr;
}

std::optional<Reflection> ParseReflection(const std::vector<uint8_t>& bytes, const Chunk& chunk,
                                          std::string* error) {
    const ChunkView view(bytes, chunk);
    // Header: u32 cbuffer count, u32 cbuffer offset, u32 binding count, u32 binding offset,
    // u8 minor, u8 major, u16 program type, u32 flags, u32 creator string offset.
    uint32_t cbCount = 0, cbOffset = 0, bindCount = 0, bindOffset = 0;
    Reflection reflection;
    if (!view.U32(0, cbCount) || !view.U32(4, cbOffset) || !view.U32(8, bindCount) ||
        !view.U32(12, bindOffset) || !view.U8(16, reflection.minorVersion) ||
        !view.U8(17, reflection.majorVersion) || !view.U16(18, reflection.programType)) {
        return Fail<Reflection>(error, "short RDEF header");
    }
    if (bindCount > chunk.size / 32 || cbCount > chunk.size / 24) {
        return Fail<Reflection>(error, "RDEF counts too large");
    }
    for (uint32_t i = 0; i < bindCount; ++i) {
        // 32-byte entries: name, input type, return type, dimension, sample count, bind point,
        // bind count, flags.
        const size_t entry = size_t(bindOffset) + 32 * size_t(i);
        Binding binding;
        uint32_t nameOffset = 0;
        if (!view.U32(entry, nameOffset) || !view.U32(entry + 4, binding.inputType) ||
            !view.U32(entry + 8, binding.returnType) || !view.U32(entry + 12, binding.dimension) ||
            !view.U32(entry + 20, binding.bindPoint) || !view.U32(entry + 24, binding.bindCount) ||
            !view.U32(entry + 28, binding.flags) || !view.String(nameOffset, binding.name)) {
            return Fail<Reflection>(error, "RDEF binding out of bounds");
        }
        reflection.bindings.push_back(std::move(binding));
    }
    for (uint32_t i = 0; i < cbCount; ++i) {
        // 24-byte entries: name, variable count, variable offset, size, flags, type.
        const size_t entry = size_t(cbOffset) + 24 * size_t(i);
        ConstantBuffer buffer;
        uint32_t nameOffset = 0, varCount = 0, varOffset = 0;
        if (!view.U32(entry, nameOffset) || !view.U32(entry + 4, varCount) ||
            !view.U32(entry + 8, varOffset) || !view.U32(entry + 12, buffer.size) ||
            !view.String(nameOffset, buffer.name)) {
            return Fail<Reflection>(error, "RDEF constant buffer out of bounds");
        }
        if (varCount > chunk.size / 24) return Fail<Reflection>(error, "too many variables");
        for (uint32_t v = 0; v < varCount; ++v) {
            // 24-byte entries (shader model 4): name, offset, size, flags, type, default value.
            const size_t varEntry = size_t(varOffset) + 24 * size_t(v);
            Variable variable;
            uint32_t varName = 0, typeOffset = 0;
            if (!view.U32(varEntry, varName) || !view.U32(varEntry + 4, variable.offset) ||
                !view.U32(varEntry + 8, variable.size) || !view.U32(varEntry + 16, typeOffset) ||
                !view.String(varName, variable.name) ||
                !ReadType(view, typeOffset, 0, variable.type)) {
                return Fail<Reflection>(error, "RDEF variable out of bounds");
            }
            buffer.variables.push_back(std::move(variable));
        }
        reflection.constantBuffers.push_back(std::move(buffer));
    }
    return reflection;
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
