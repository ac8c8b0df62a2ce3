// Eye pass, pixel stage: optionally flips the texture vertically, samples the eye texture,
// gamma-encodes red, green and blue with the exponent 1/2.2 and writes an opaque pixel (the
// sampled alpha is not used, so alpha blending and opaque blending give the same picture).
//
// Written for the HLSL that every compiler we use understands: Wine's D3DCompile (which
// generates the committed bytecode on Linux) has no ?: operator, no asfloat and no exp2/log2
// intrinsics. fxc flattens the one-line `if` below into a select (movc); Wine's compiler
// keeps a branch on the constant, which is uniform across the draw. pow(x, y) is defined as
// exp2(log2(x) * y), and both compilers emit exactly log, mul, exp for it.

cbuffer Parameters : register(b1)
{
    int InvertY;   // flip vertically when greater than 0
    float3 pad1;   // filler to 16 bytes; never read
};

Texture2D<float4> SourceTexture : register(t0);
SamplerState SamplerDefault : register(s0);

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0) : SV_Target
{
    float2 uv = texcoord;
    if (0 < InvertY)
        uv.y = 1.0 - uv.y;

    float4 c = SourceTexture.Sample(SamplerDefault, uv);

    // 0.45454547 is the float nearest to 1/2.2 (bits 0x3EE8BA2F); the bytecode test checks
    // that the compiled shader carries exactly those bits.
    const float k = 0.45454547;
    return float4(pow(c.rgb, k), 1.0);
}
