// Eye pass, vertex stage: one triangle that covers the whole viewport, made from the vertex
// index alone (no input layout, no vertex buffer). The viewport's top-left corner is (a, b) =
// (0, 0) and its bottom-right corner (1, 1); the eye's texture bounds are mapped linearly onto
// that square, so the texture coordinate runs from (uMin, vMin) to (uMax, vMax).

// Same four floats, same order as the runtime's texture bounds: one eye's bounds are copied
// into the buffer byte for byte.
struct TexBounds
{
    float uMin;
    float vMin;
    float uMax;
    float vMax;
};

cbuffer VSConstBuffer : register(b0)
{
    TexBounds texBounds;
};

struct VSOutput
{
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

VSOutput main(uint vertexId : SV_VERTEXID)
{
    // (a, b) = (0, 0), (2, 0), (0, 2) for vertices 0, 1, 2.
    float a = (float)((vertexId << 1) & 2);
    float b = (float)(vertexId & 2);

    VSOutput output;
    output.position = float4(2.0 * a - 1.0, -2.0 * b + 1.0, 0.0, 1.0);
    output.texcoord = float2((texBounds.uMax - texBounds.uMin) * a + texBounds.uMin,
                             (texBounds.vMax - texBounds.vMin) * b + texBounds.vMin);
    return output;
}
