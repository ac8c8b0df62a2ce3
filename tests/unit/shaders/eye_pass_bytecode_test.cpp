// The committed pixel-shader bytecode, checked without a Direct3D runtime: it must encode the
// gamma as exp(k * log(c)) with k the float nearest 1/2.2 and never take |c|. That the bytecode
// is what the HLSL compiles to, and that a device accepts and runs it, is checked where Direct3D
// exists (eye_pass_compile_test.cpp, tests/unit/d3d11).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gpu/shaders/generated/eye_pass_ps.h"
#include "link/little_endian.h"

namespace quillo::test {
namespace {

constexpr uint32_t kOpExp = 0x19, kOpLog = 0x2f, kOpMul = 0x38, kOpCustomData = 0x35;
constexpr uint32_t kOperandImmediate32 = 4;

using le::ReadU32;

// The tokens of the program chunk (SHDR or SHEX) of a DXBC container: header "DXBC", checksum,
// version, total size, chunk count, then one offset per chunk; each chunk a tag and a size.
std::vector<uint32_t> ProgramTokens(const uint8_t* bytes, size_t size) {
    if (size < 32 || std::memcmp(bytes, "DXBC", 4) != 0 || ReadU32(bytes + 24) != size) return {};
    const uint32_t count = ReadU32(bytes + 28);
    for (uint32_t i = 0; i < count && 32 + 4 * i + 4 <= size; ++i) {
        const size_t offset = ReadU32(bytes + 32 + 4 * i);
        if (offset + 8 > size) return {};
        const size_t length = ReadU32(bytes + offset + 4);
        if (length > size - offset - 8 || length % 4 != 0) return {};
        if (std::memcmp(bytes + offset, "SHDR", 4) != 0 &&
            std::memcmp(bytes + offset, "SHEX", 4) != 0) {
            continue;
        }
        std::vector<uint32_t> tokens(length / 4);
        for (size_t t = 0; t < tokens.size(); ++t) tokens[t] = ReadU32(bytes + offset + 8 + 4 * t);
        return tokens;
    }
    return {};
}

struct Operand {
    uint32_t modifier = 0;  // of the extended token: 1 negate, 2 abs, 3 both
    std::vector<uint32_t> immediate;
};

// The operands of one instruction (tokens [begin, end)); only immediate indices occur here.
std::vector<Operand> Operands(const std::vector<uint32_t>& t, size_t begin, size_t end) {
    size_t pos = begin + 1;
    for (uint32_t token = t[begin]; token >> 31 && pos < end; token = t[pos++]) {
    }
    std::vector<Operand> operands;
    while (pos < end) {
        const uint32_t token = t[pos++];
        Operand operand;
        for (bool extended = token >> 31; extended && pos < end;) {
            const uint32_t ext = t[pos++];
            if ((ext & 0x3f) == 1) operand.modifier = (ext >> 6) & 0xff;
            extended = ext >> 31;
        }
        if (((token >> 12) & 0xff) == kOperandImmediate32) {
            const size_t count = (token & 3) == 2 ? 4 : 1;
            operand.immediate.assign(t.begin() + pos, t.begin() + std::min(end, pos + count));
            pos += count;
        } else {
            pos += (token >> 20) & 3;  // one immediate index per dimension
        }
        operands.push_back(operand);
    }
    return operands;
}

TEST(EyePassBytecode, PixelShaderEncodesGammaAsLogTimesTheExactConstantThenExp) {
    const std::vector<uint32_t> program =
        ProgramTokens(kEyePassPixelShader, kEyePassPixelShaderSize);
    ASSERT_GE(program.size(), 2u) << "no well-formed program chunk";
    ASSERT_EQ(program[0], 0x00000040u);  // pixel shader, model 4.0
    ASSERT_EQ(program[1], program.size());
    // Unoptimised code may move the constant into a register first: it counts between log and
    // exp.
    std::vector<uint32_t> order;
    bool constantMultiplied = false;
    for (size_t at = 2; at < program.size();) {
        const uint32_t op = program[at] & 0x7ff;
        size_t length = (program[at] >> 24) & 0x7f;
        if (op == kOpCustomData && at + 1 < program.size()) length = program[at + 1];
        ASSERT_TRUE(length != 0 && length <= program.size() - at) << "bad instruction length";
        const bool betweenLogAndExp = !order.empty() && order.back() != kOpExp;
        const std::vector<Operand> operands = Operands(program, at, at + length);
        for (size_t i = 1; i < operands.size(); ++i) {
            const std::vector<uint32_t>& values = operands[i].immediate;
            constantMultiplied |=
                betweenLogAndExp && std::count(values.begin(), values.end(), 0x3EE8BA2Fu) >= 3;
            if (op == kOpLog || op == kOpMul || op == kOpExp) {
                EXPECT_EQ(operands[i].modifier & 2u, 0u) << "abs on a source of opcode " << op;
            }
        }
        if (op == kOpLog || op == kOpMul || op == kOpExp) order.push_back(op);
        at += length;
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{kOpLog, kOpMul, kOpExp}));
    EXPECT_TRUE(constantMultiplied);
}

}  // namespace
}  // namespace quillo::test
