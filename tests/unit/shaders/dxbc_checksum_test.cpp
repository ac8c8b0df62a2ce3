// The DXBC checksum and container reader the bytecode tests rely on, checked against
// containers whose checksums the shader compiler wrote.
#include <gtest/gtest.h>

#include <vector>

#include "checksum_vectors.h"
#include "dxbc_reader.h"
#include "gpu/shaders/generated/eye_pass_ps.h"
#include "gpu/shaders/generated/eye_pass_vs.h"

namespace quillo::dxbc {
namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) {
    return std::vector<uint8_t>(data, data + size);
}

void ExpectStoredChecksumMatches(const std::vector<uint8_t>& bytes) {
    std::string error;
    std::optional<Container> container = ParseContainer(bytes, &error);
    ASSERT_TRUE(container) << error;
    EXPECT_EQ(container->storedChecksum, ComputeChecksum(bytes.data(), bytes.size()));
}

TEST(DxbcChecksum, MatchesTheCompilersChecksumForEveryWayTheLastBlockEnds) {
    // Hashed sizes modulo 64: vertex shader 48, pixel shader 24 (length words fit into the
    // last block), 60 (they need a block of their own), 0 (no partial block at all).
    ASSERT_EQ((kEyePassVertexShaderSize - 20) % 64, 48u);
    ASSERT_EQ((kEyePassPixelShaderSize - 20) % 64, 24u);
    ASSERT_EQ((sizeof test_vectors::kRestOf60Bytes - 20) % 64, 60u);
    ASSERT_EQ((sizeof test_vectors::kNoRest - 20) % 64, 0u);
    ExpectStoredChecksumMatches(Bytes(kEyePassVertexShader, kEyePassVertexShaderSize));
    ExpectStoredChecksumMatches(Bytes(kEyePassPixelShader, kEyePassPixelShaderSize));
    ExpectStoredChecksumMatches(
        Bytes(test_vectors::kRestOf60Bytes, sizeof test_vectors::kRestOf60Bytes));
    ExpectStoredChecksumMatches(Bytes(test_vectors::kNoRest, sizeof test_vectors::kNoRest));
}

TEST(DxbcChecksum, ChangesWithAnyHashedByteButNotWithTheStoredChecksum) {
    std::vector<uint8_t> bytes = Bytes(kEyePassPixelShader, kEyePassPixelShaderSize);
    const auto original = ComputeChecksum(bytes.data(), bytes.size());
    // The checksum field itself (bytes 4..19) and the magic are not hashed.
    bytes[4] ^= 0xFF;
    bytes[0] ^= 0xFF;
    EXPECT_EQ(ComputeChecksum(bytes.data(), bytes.size()), original);
    // First hashed byte, one in the middle, the last one.
    for (size_t at : {size_t(20), bytes.size() / 2, bytes.size() - 1}) {
        std::vector<uint8_t> changed = Bytes(kEyePassPixelShader, kEyePassPixelShaderSize);
        changed[at] ^= 0x01;
        EXPECT_NE(ComputeChecksum(changed.data(), changed.size()), original) << "byte " << at;
    }
}

TEST(DxbcContainer, RejectsMalformedContainers) {
    const std::vector<uint8_t> good = Bytes(kEyePassVertexShader, kEyePassVertexShaderSize);
    std::string error;

    std::vector<uint8_t> wrongMagic = good;
    wrongMagic[0] = 'X';
    EXPECT_FALSE(ParseContainer(wrongMagic, &error));

    std::vector<uint8_t> truncated(good.begin(), good.begin() + 31);
    EXPECT_FALSE(ParseContainer(truncated, &error));

    // A chunk whose size field runs past the end of the container.
    std::vector<uint8_t> tooLong = good;
    const uint32_t lastChunk = tooLong[28] - 1u;  // the chunk count is at byte 28
    const size_t tableEntry = 32 + 4 * lastChunk;
    const size_t chunkAt = tooLong[tableEntry] | tooLong[tableEntry + 1] << 8;
    tooLong[chunkAt + 4] = 0xFF;
    tooLong[chunkAt + 5] = 0xFF;
    EXPECT_FALSE(ParseContainer(tooLong, &error));
    EXPECT_NE(error.find("runs past the end"), std::string::npos) << error;

    // A chunk count far larger than the table the container has room for.
    std::vector<uint8_t> tooMany = good;
    tooMany[31] = 0x10;
    EXPECT_FALSE(ParseContainer(tooMany, &error));
}

TEST(DxbcContainer, RejectsSignatureNamesOutsideTheirChunk) {
    std::vector<uint8_t> bytes = Bytes(kEyePassVertexShader, kEyePassVertexShaderSize);
    std::string error;
    std::optional<Container> container = ParseContainer(bytes, &error);
    ASSERT_TRUE(container) << error;
    const Chunk* isgn = container->Find("ISGN");
    ASSERT_NE(isgn, nullptr);
    ASSERT_TRUE(ParseSignature(bytes, *isgn, &error)) << error;
    // The first element's name offset (at 8 within the chunk) pointed past the chunk.
    bytes[isgn->offset + 8] = 0xF0;
    bytes[isgn->offset + 9] = 0xFF;
    EXPECT_FALSE(ParseSignature(bytes, *isgn, &error));
}

}  // namespace
}  // namespace quillo::dxbc
