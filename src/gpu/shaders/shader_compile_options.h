// How the eye-pass shaders are compiled: the one place the shader compiler (tools/shaderc)
// and the test that checks the committed bytecode take entry points, targets and flags from,
// so both produce the same bytes.
#pragma once

#include <cstdint>

namespace quillo {

struct ShaderCompileOptions {
    const char* sourcePath;  // relative to the repository root
    const char* entryPoint;
    const char* target;
    uint32_t flags;          // D3DCOMPILE_* flags; 0 is the compiler's default optimisation level
    const char* arrayName;   // name of the byte array in the generated header
    const char* headerPath;  // relative to the repository root
};

inline constexpr ShaderCompileOptions kEyePassVertexShaderOptions = {
    "src/gpu/shaders/eye_pass_vs.hlsl",        "main", "vs_4_0", 0, "kEyePassVertexShader",
    "src/gpu/shaders/generated/eye_pass_vs.h",
};

inline constexpr ShaderCompileOptions kEyePassPixelShaderOptions = {
    "src/gpu/shaders/eye_pass_ps.hlsl",        "main", "ps_4_0", 0, "kEyePassPixelShader",
    "src/gpu/shaders/generated/eye_pass_ps.h",
};

}  // namespace quillo
