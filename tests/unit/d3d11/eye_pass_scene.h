// A small eye-pass scene drawn through the GPU device seam the way the compositor draws
// layers: output texture of format 28, left and right eye viewports of half the width each
// (integer halving), one DrawEyePasses per layer. Drawing the same scene on two backends and
// comparing the pixels is how the Direct3D 11 backend is checked against the software one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gpu/gpu_device.h"
#include "gpu/submitted_layer.h"

namespace quillo::test {

struct SourceImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 28;         // the texture's format; typeless ones are viewed typed
    std::vector<uint8_t> texels;  // tightly packed rows, top row first
};

struct SceneLayer {
    int left = -1;  // index into Scene::sources; -1 draws the eye without a view
    int right = -1;
    TextureBounds bounds[2];
};

struct Scene {
    uint32_t width = 0;  // output texture, both eyes side by side
    uint32_t height = 0;
    uint8_t fill = 0x5A;  // every output byte before the first layer
    int32_t invertY = 0;
    bool opaqueBlend = false;  // false: the alpha blend state CreateRenderStates binds
    std::vector<SourceImage> sources;
    std::vector<SceneLayer> layers;
};

// Draws `scene` on `device`; the output's RGBA8 pixels, or false with a reason.
bool RenderScene(gpu::Device& device, const Scene& scene, std::vector<uint8_t>& pixels,
                 std::string& error);

// A grey or coloured RGBA8 image whose texels come from a fixed pseudo-random sequence.
SourceImage NoiseImage(uint32_t width, uint32_t height, uint32_t seed, uint8_t alpha = 255);

}  // namespace quillo::test
