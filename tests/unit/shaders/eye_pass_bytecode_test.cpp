// The committed eye-pass bytecode, checked without a Direct3D runtime: a well-formed DXBC
// container (magic, size, checksum, chunks) whose declarations carry exactly the registers the
// compositor binds (a wrong one would draw nothing, or garbage, on a GPU) and whose pixel shader
// encodes the gamma as the product requires. Names and layouts beyond the registers are checked
// by running the shaders (tests/unit/d3d11).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dxbc_reader.h"
#include "gpu/shaders/generated/eye_pass_ps.h"
#include "gpu/shaders/generated/eye_pass_vs.h"

namespace quillo::dxbc {
namespace {

// Shader-model-4 opcodes and operand fields used below.
constexpr uint32_t kOpExp = 0x19, kOpLog = 0x2f, kOpMul = 0x38, kOpSample = 0x45;
constexpr uint32_t kOpDclResource = 0x58;
constexpr uint32_t kOpDclConstantBuffer = 0x59;
constexpr uint32_t kOpDclSampler = 0x5a;
constexpr uint32_t kOpDclInputSgv = 0x60;
constexpr uint32_t kOpDclInputPs = 0x62;
constexpr uint32_t kOpDclOutput = 0x65;
constexpr uint32_t kOpDclOutputSiv = 0x67;
constexpr uint32_t kOperandInput = 1, kOperandOutput = 2, kOperandSampler = 6, kOperandResource = 7,
                   kOperandConstantBuffer = 8, kOperandImmediate32 = 4;
uint32_t OperandType(uint32_t token) {
    return (token >> 12) & 0xff;
}
uint32_t OperandMask(uint32_t token) {
    return (token >> 4) & 0xf;
}
// Bits 11.. of a declaration's opcode token: interpolation mode, resource dimension, sampler
// mode.
uint32_t DeclarationControl(uint32_t token) {
    return (token >> 11) & 0x1f;
}

struct Shader {
    std::vector<uint8_t> bytes;
    Container container;
    std::vector<uint32_t> program;
    std::vector<Instruction> instructions;

    std::vector<const Instruction*> All(uint32_t opcode) const {
        std::vector<const Instruction*> found;
        for (const Instruction& instruction : instructions) {
            if (instruction.opcode == opcode) found.push_back(&instruction);
        }
        return found;
    }
};

// Parses everything the tests look at; fails the test on any malformed part.
void Load(const uint8_t* data, size_t size, Shader& shader) {
    shader.bytes.assign(data, data + size);
    std::string error;
    std::optional<Container> container = ParseContainer(shader.bytes, &error);
    ASSERT_TRUE(container) << error;
    shader.container = *container;
    for (const char* tag : {"RDEF", "ISGN", "OSGN"}) {
        ASSERT_NE(shader.container.Find(tag), nullptr) << "no " << tag << " chunk";
    }
    const Chunk* program = shader.container.Find("SHDR");
    if (program == nullptr) program = shader.container.Find("SHEX");
    ASSERT_NE(program, nullptr) << "no SHDR or SHEX chunk";

    auto tokens = ReadProgramTokens(shader.bytes, *program, &error);
    ASSERT_TRUE(tokens) << error;
    shader.program = *tokens;
    auto instructions = SplitInstructions(shader.program);
    ASSERT_TRUE(instructions) << "instruction lengths run past the program";
    shader.instructions = *instructions;
}

class EyePassBytecode : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Load(kEyePassVertexShader, kEyePassVertexShaderSize, vs_));
        ASSERT_NO_FATAL_FAILURE(Load(kEyePassPixelShader, kEyePassPixelShaderSize, ps_));
    }
    Shader vs_, ps_;
};

TEST_F(EyePassBytecode, ContainersAreWholeAndTheirChecksumsHold) {
    for (const Shader* shader : {&vs_, &ps_}) {
        EXPECT_EQ(shader->container.totalSize, shader->bytes.size());
        EXPECT_EQ(shader->container.storedChecksum,
                  ComputeChecksum(shader->bytes.data(), shader->bytes.size()));
        // Every chunk once; chunks neither overlap nor leave the container.
        std::vector<std::pair<size_t, size_t>> spans;
        for (const Chunk& chunk : shader->container.chunks) {
            EXPECT_EQ(
                std::count_if(shader->container.chunks.begin(), shader->container.chunks.end(),
                              [&](const Chunk& other) { return other.tag == chunk.tag; }),
                1)
                << chunk.tag;
            spans.emplace_back(chunk.offset - 8, chunk.offset + chunk.size);
        }
        std::sort(spans.begin(), spans.end());
        for (size_t i = 1; i < spans.size(); ++i) EXPECT_LE(spans[i - 1].second, spans[i].first);
    }
}

TEST_F(EyePassBytecode, ShaderModelFourVertexAndPixelPrograms) {
    // Version token: program type in bits 16.., major 4, minor 0.
    EXPECT_EQ(vs_.program[0], 0x00010040u);
    EXPECT_EQ(ps_.program[0], 0x00000040u);
}

TEST_F(EyePassBytecode, VertexShaderDeclaresOneConstantRegisterInB0AndNoTexture) {
    // The program declares cb0 with one 16-byte register.
    auto declarations = vs_.All(kOpDclConstantBuffer);
    ASSERT_EQ(declarations.size(), 1u);
    const std::vector<uint32_t>& tokens = declarations[0]->tokens;
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(OperandType(tokens[1]), kOperandConstantBuffer);
    EXPECT_EQ(tokens[2], 0u);
    EXPECT_EQ(tokens[3], 1u);
    EXPECT_TRUE(vs_.All(kOpDclResource).empty());
    EXPECT_TRUE(vs_.All(kOpDclSampler).empty());
}

TEST_F(EyePassBytecode, VertexShaderMakesItsVerticesFromTheVertexIdAlone) {
    auto vertexId = vs_.All(kOpDclInputSgv);
    ASSERT_EQ(vertexId.size(), 1u);
    ASSERT_EQ(vertexId[0]->tokens.size(), 4u);
    EXPECT_EQ(OperandType(vertexId[0]->tokens[1]), kOperandInput);
    EXPECT_EQ(vertexId[0]->tokens[3], 6u);
    auto position = vs_.All(kOpDclOutputSiv);
    ASSERT_EQ(position.size(), 1u);
    ASSERT_EQ(position[0]->tokens.size(), 4u);
    EXPECT_EQ(OperandType(position[0]->tokens[1]), kOperandOutput);
    EXPECT_EQ(position[0]->tokens[2], 0u);
    EXPECT_EQ(position[0]->tokens[3], 1u);
    auto texcoord = vs_.All(kOpDclOutput);
    ASSERT_EQ(texcoord.size(), 1u);
    EXPECT_EQ(OperandMask(texcoord[0]->tokens[1]), 0x3u);
    EXPECT_EQ(texcoord[0]->tokens[2], 1u);
}

TEST_F(EyePassBytecode, PixelShaderBindsParametersSourceTextureAndSamplerDefault) {
    auto cbuffers = ps_.All(kOpDclConstantBuffer);
    ASSERT_EQ(cbuffers.size(), 1u);
    ASSERT_EQ(cbuffers[0]->tokens.size(), 4u);
    EXPECT_EQ(cbuffers[0]->tokens[2], 1u);  // cb1
    EXPECT_EQ(cbuffers[0]->tokens[3], 1u);
    auto samplers = ps_.All(kOpDclSampler);
    ASSERT_EQ(samplers.size(), 1u);
    EXPECT_EQ(OperandType(samplers[0]->tokens[1]), kOperandSampler);
    EXPECT_EQ(samplers[0]->tokens[2], 0u);
    EXPECT_EQ(DeclarationControl(samplers[0]->tokens[0]) & 0xf, 0u);  // default mode
    auto resources = ps_.All(kOpDclResource);
    ASSERT_EQ(resources.size(), 1u);
    ASSERT_EQ(resources[0]->tokens.size(), 4u);
    EXPECT_EQ(OperandType(resources[0]->tokens[1]), kOperandResource);
    EXPECT_EQ(resources[0]->tokens[2], 0u);
    EXPECT_EQ(DeclarationControl(resources[0]->tokens[0]), 3u);  // texture2d
    EXPECT_EQ(resources[0]->tokens[3], 0x5555u);                 // float in all four
}

TEST_F(EyePassBytecode, PixelShaderTakesTexcoordLinearAndWritesOneTarget) {
    auto inputs = ps_.All(kOpDclInputPs);
    ASSERT_EQ(inputs.size(), 1u) << "only TEXCOORD is read";
    EXPECT_EQ(inputs[0]->tokens[2], 1u);
    EXPECT_EQ(OperandMask(inputs[0]->tokens[1]), 0x3u);
    EXPECT_EQ(DeclarationControl(inputs[0]->tokens[0]) & 0xf, 2u);  // linear
    // The vertex shader writes TEXCOORD to the register the pixel shader reads.
    EXPECT_EQ(inputs[0]->tokens[2], vs_.All(kOpDclOutput).at(0)->tokens[2]);
    auto outputs = ps_.All(kOpDclOutput);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0]->tokens[2], 0u);  // o0 (SV_Target0), all four components
    EXPECT_EQ(OperandMask(outputs[0]->tokens[1]), 0xFu);
}

// One source operand of an instruction: its register type, the modifier of its extended token
// (1 negate, 2 abs, 3 both) and, for an immediate, its values.
struct Operand {
    uint32_t type = 0;
    uint32_t modifier = 0;
    std::vector<uint32_t> immediate;
};

// Walks the operands after the opcode token(s); only immediate indices occur in these shaders.
std::vector<Operand> Operands(const Instruction& instruction) {
    const std::vector<uint32_t>& t = instruction.tokens;
    size_t pos = 1;
    for (uint32_t token = t[0]; token >> 31 && pos < t.size(); token = t[pos++]) {
    }
    std::vector<Operand> operands;
    while (pos < t.size()) {
        const uint32_t token = t[pos++];
        Operand operand;
        operand.type = OperandType(token);
        for (bool extended = token >> 31; extended && pos < t.size();) {
            const uint32_t ext = t[pos++];
            if ((ext & 0x3f) == 1) operand.modifier = (ext >> 6) & 0xff;
            extended = ext >> 31;
        }
        if (operand.type == kOperandImmediate32) {
            const size_t count = (token & 3) == 2 ? 4 : 1;
            operand.immediate.assign(t.begin() + pos, t.begin() + std::min(t.size(), pos + count));
            pos += count;
        } else {
            pos += (token >> 20) & 3;  // one immediate index per dimension
        }
        operands.push_back(operand);
    }
    return operands;
}

TEST_F(EyePassBytecode, PixelShaderEncodesGammaAsLogTimesTheExactConstantThenExp) {
    EXPECT_EQ(ps_.All(kOpSample).size(), 1u);
    // pow(c, k) as exp(k log c): log, mul by 0x3EE8BA2F (the float nearest 1/2.2), exp, in that
    // order and never on |c|, which would turn a negative colour into a positive one.
    // Unoptimised code may move the constant into a register first: it counts between log and
    // exp.
    std::vector<uint32_t> order;
    bool constantMultiplied = false;
    for (const Instruction& instruction : ps_.instructions) {
        const uint32_t op = instruction.opcode;
        const bool betweenLogAndExp = !order.empty() && order.back() != kOpExp;
        const std::vector<Operand> operands = Operands(instruction);
        for (size_t i = 1; i < operands.size(); ++i) {
            const std::vector<uint32_t>& values = operands[i].immediate;
            constantMultiplied |=
                betweenLogAndExp && std::count(values.begin(), values.end(), 0x3EE8BA2Fu) >= 3;
            if (op == kOpLog || op == kOpMul || op == kOpExp) {
                EXPECT_EQ(operands[i].modifier & 2u, 0u) << "abs on a source of opcode " << op;
            }
        }
        if (op == kOpLog || op == kOpMul || op == kOpExp) order.push_back(op);
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{kOpLog, kOpMul, kOpExp}));
    EXPECT_TRUE(constantMultiplied);
}

}  // namespace
}  // namespace quillo::dxbc
