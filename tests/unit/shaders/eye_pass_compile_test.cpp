// The committed bytecode is what the HLSL sources compile to today: compiles both sources with
// D3DCompile (Windows' d3dcompiler_47, or Wine's) exactly as scripts/compile-shaders.sh does
// and compares the bytes. Only in the Windows build; skipped where the compiler is missing.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gpu/shaders/generated/eye_pass_ps.h"
#include "gpu/shaders/generated/eye_pass_vs.h"
#include "gpu/shaders/shader_compile_options.h"
#include "shaderc/hlsl_compiler.h"
#include "test_paths.h"

namespace quillo::test {
namespace {

// The source folder as a path this Windows program can open: under Wine a Unix path from the
// build is reached through drive Z:.
std::string SourcePath(const char* relative) {
    std::string root = QUILLO_TEST_SOURCE_DIR;
    if (!root.empty() && root[0] == '/') root = "Z:" + root;
    return root + "/" + relative;
}

void ExpectCompilesTo(const ShaderCompileOptions& options, const char* committedCompiler,
                      const uint8_t* committed, size_t committedSize) {
    // Another compiler (Microsoft's under Windows, another Wine version) emits different but
    // equally valid bytes; only the compiler that made the committed bytes can check them.
    const std::string compiler = shaderc::CompilerIdentity();
    if (compiler != committedCompiler) {
        GTEST_SKIP() << options.headerPath << " was made by \"" << committedCompiler
                     << "\"; this is \"" << compiler << "\"";
    }

    std::ifstream in(SourcePath(options.sourcePath), std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << SourcePath(options.sourcePath);
    std::ostringstream source;
    source << in.rdbuf();

    shaderc::CompileResult result = shaderc::CompileHlsl(
        source.str(), options.sourcePath, options.entryPoint, options.target, options.flags);
    if (!result.ok && result.messages.find("could not be loaded") != std::string::npos) {
        GTEST_SKIP() << result.messages;
    }
    ASSERT_TRUE(result.ok) << result.messages;
    const std::vector<uint8_t> expected(committed, committed + committedSize);
    EXPECT_EQ(result.bytecode.size(), expected.size());
    EXPECT_TRUE(result.bytecode == expected)
        << options.headerPath << " is stale: run scripts/compile-shaders.sh and commit the result";
}

TEST(EyePassShaderSources, VertexShaderCompilesToTheCommittedBytecode) {
    ExpectCompilesTo(kEyePassVertexShaderOptions, kEyePassVertexShaderCompiler,
                     kEyePassVertexShader, kEyePassVertexShaderSize);
}

TEST(EyePassShaderSources, PixelShaderCompilesToTheCommittedBytecode) {
    ExpectCompilesTo(kEyePassPixelShaderOptions, kEyePassPixelShaderCompiler, kEyePassPixelShader,
                     kEyePassPixelShaderSize);
}

}  // namespace
}  // namespace quillo::test

#endif  // _WIN32
