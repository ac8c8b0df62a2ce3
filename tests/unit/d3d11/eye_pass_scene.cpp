#include "eye_pass_scene.h"

#include <memory>

#include "gpu/dxgi_format.h"

namespace quillo::test {

bool RenderScene(gpu::Device& device, const Scene& scene, std::vector<uint8_t>& pixels,
                 std::string& error) {
    const gpu::TextureDesc outputDesc{scene.width, scene.height, dxgi::kR8G8B8A8Unorm,
                                      gpu::kBindRenderTarget | gpu::kBindShaderResource, 0};
    std::shared_ptr<gpu::Texture> output = device.CreateTexture(outputDesc);
    if (!output) {
        error = "output texture not made";
        return false;
    }
    const std::vector<uint8_t> filled(static_cast<size_t>(scene.width) * scene.height * 4,
                                      scene.fill);
    if (!device.UpdateTexture(*output, filled.data(), scene.width * 4)) {
        error = "output texture not filled";
        return false;
    }
    std::unique_ptr<gpu::RenderTargetView> target =
        device.CreateRenderTargetView(output, dxgi::kR8G8B8A8Unorm);
    if (!target) {
        error = "render-target view not made";
        return false;
    }

    std::vector<std::unique_ptr<gpu::ShaderResourceView>> views;
    for (const SourceImage& image : scene.sources) {
        const gpu::TextureDesc desc{image.width, image.height, image.format,
                                    gpu::kBindRenderTarget | gpu::kBindShaderResource, 0};
        std::shared_ptr<gpu::Texture> texture = device.CreateTexture(desc);
        const uint32_t pitch = image.width * BytesPerTexel(image.format);
        if (!texture || !device.UpdateTexture(*texture, image.texels.data(), pitch)) {
            error = "source texture of format " + std::to_string(image.format) + " not made";
            return false;
        }
        views.push_back(device.CreateShaderResourceView(texture, TypedFormatFor(image.format)));
        if (!views.back()) {
            error = "view of format " + std::to_string(image.format) + " not made";
            return false;
        }
    }

    if (!device.CreateRenderStates()) {
        error = "render states not made";
        return false;
    }
    if (scene.opaqueBlend) device.SetBlendState(gpu::BlendState::Opaque);
    const float half = static_cast<float>(scene.width >> 1);
    const float height = static_cast<float>(scene.height);
    const gpu::Viewport viewports[2] = {{0.0f, 0.0f, half, height, 0.0f, 1.0f},
                                        {half, 0.0f, half, height, 0.0f, 1.0f}};
    for (const SceneLayer& layer : scene.layers) {
        const int sources[2] = {layer.left, layer.right};
        gpu::EyePass passes[2];
        for (int eye = 0; eye < 2; ++eye) {
            passes[eye].viewport = viewports[eye];
            passes[eye].source = sources[eye] >= 0 ? views.at(sources[eye]).get() : nullptr;
            passes[eye].bounds = layer.bounds[eye];
        }
        device.DrawEyePasses(*target, scene.invertY, passes, 2);
    }
    if (!device.ReadTexture(*output, pixels)) {
        error = "output not read back";
        return false;
    }
    return true;
}

SourceImage NoiseImage(uint32_t width, uint32_t height, uint32_t seed, uint8_t alpha) {
    SourceImage image;
    image.width = width;
    image.height = height;
    image.format = dxgi::kR8G8B8A8Unorm;
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < width * height; ++i) {
        for (int channel = 0; channel < 3; ++channel) {
            state = state * 1664525u + 1013904223u;
            image.texels.push_back(static_cast<uint8_t>(state >> 24));
        }
        image.texels.push_back(alpha);
    }
    return image;
}

}  // namespace quillo::test
