// Cost of a present on the software GPU backend at the product's default output size
// (2560x1440), for both present paths, and the heap allocations a steady-state frame makes.
//
//   bench_software_present [frames] [case]
//
// With `case`, only the cases whose name contains it run (for profiling one of them).
//
// Prints, per case: mean and best milliseconds per frame, and allocations per frame (counted
// by a replaced global operator new; the goal is zero once the first frames have run).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "gpu/software/texel_format.h"

#include "allocation_counter.h"

namespace {

using namespace quillo;

constexpr uint32_t kWidth = 2560;
constexpr uint32_t kHeight = 1440;
constexpr int kWarmUpFrames = 3;

struct Figures {
    double meanMs = 0;
    double bestMs = 0;
    double cpuMs = 0;  // process CPU time per frame: less disturbed by a busy machine
    double allocationsPerFrame = 0;
};

template <typename Frame>
Figures Measure(int frames, Frame&& frame) {
    for (int i = 0; i < kWarmUpFrames; ++i) frame(i);
    std::vector<double> times;
    times.reserve(static_cast<size_t>(frames));
    const long long allocationsBefore = bench::Allocations();
    const std::clock_t cpuBefore = std::clock();
    for (int i = 0; i < frames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        frame(i);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    const long long allocations = bench::Allocations() - allocationsBefore;
    Figures figures;
    figures.cpuMs =
        1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC / frames;
    for (double t : times) figures.meanMs += t;
    figures.meanMs /= frames;
    figures.bestMs = *std::min_element(times.begin(), times.end());
    figures.allocationsPerFrame = static_cast<double>(allocations) / frames;
    return figures;
}

const char* gOnly = nullptr;

bool Selected(const char* name) {
    return gOnly == nullptr || std::strstr(name, gOnly) != nullptr;
}

void Print(const char* name, const Figures& figures) {
    std::printf("%-56s %8.2f ms mean %8.2f ms best %8.2f ms CPU %5.2f allocations/frame\n", name,
                figures.meanMs, figures.bestMs, figures.cpuMs, figures.allocationsPerFrame);
}

// An eye texture with a gradient, so the filter has real work to do.
std::shared_ptr<gpu::Texture> MakeEyeTexture(FrameCompositor& compositor, uint32_t width,
                                             uint32_t height, uint32_t format, uint64_t& handle) {
    FrameCompositor::SwapTexture swap = compositor.CreateSwapTexture(width, height, format);
    if (!swap.texture) return nullptr;
    // Half floats for the RGBA16F case (a byte gradient scaled into [0, 1]), bytes otherwise.
    const bool half = format == 10;
    const uint32_t texelSize = half ? 8 : 4;
    std::vector<uint8_t> texels(static_cast<size_t>(width) * height * texelSize);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* t = &texels[(static_cast<size_t>(y) * width + x) * texelSize];
            const uint8_t channels[4] = {static_cast<uint8_t>(x * 255 / width),
                                         static_cast<uint8_t>(y * 255 / height),
                                         static_cast<uint8_t>((x + y) & 255), 255};
            for (int c = 0; c < 4; ++c) {
                if (!half) {
                    t[c] = channels[c];
                    continue;
                }
                const uint16_t bits = gpu::software::FloatToHalf(channels[c] / 255.0f);
                t[2 * c] = static_cast<uint8_t>(bits);
                t[2 * c + 1] = static_cast<uint8_t>(bits >> 8);
            }
        }
    }
    if (!compositor.device()->UpdateTexture(*swap.texture, texels.data(), width * texelSize)) {
        return nullptr;
    }
    compositor.OpenSharedTexture(swap.handle);
    handle = swap.handle;
    return swap.texture;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    if (argc > 2) gOnly = argv[2];
    FrameCompositor compositor;
    if (!compositor.CreateDevice(gpu::CreateSoftwareDevice())) {
        std::printf("no software device\n");
        return 1;
    }
    compositor.setOutputFormat(28);
    compositor.CreateOutputTextures(kWidth, kHeight);
    if (compositor.OutputTexture(0) == nullptr) {
        std::printf("output textures could not be made\n");
        return 1;
    }
    std::printf("software present, output %ux%u, %d frames per case (after %d warm-up)\n", kWidth,
                kHeight, frames, kWarmUpFrames);

    // Virtual display: copy the runtime's back buffer into the current output texture and
    // hand it over (release this one, acquire the other).
    gpu::TextureDesc backBufferDesc{kWidth, kHeight, 28,
                                    gpu::kBindRenderTarget | gpu::kBindShaderResource,
                                    gpu::kMiscSharedKeyedMutex};
    std::shared_ptr<gpu::Texture> backBuffer = compositor.device()->CreateTexture(backBufferDesc);
    std::shared_ptr<gpu::Texture> opened =
        compositor.OpenRuntimeTexture(backBuffer->SharedHandle());
    int frameIndex = 0;
    compositor.AcquireOutput(frameIndex, gpu::kWaitInfinite);
    auto handOver = [&] {
        compositor.ReleaseOutput(frameIndex);
        frameIndex ^= 1;
        compositor.AcquireOutput(frameIndex, gpu::kWaitInfinite);
    };
    if (Selected("copy path, back buffer kept open"))
        Print("copy path, back buffer kept open", Measure(frames, [&](int) {
                  opened->AcquireSync(0, 16);
                  compositor.CopyIntoOutput(frameIndex, *opened);
                  opened->ReleaseSync(0);
                  handOver();
              }));
    // Opened every frame, as the present path does: the backend serves the opening it keeps,
    // which it may only do when no one else holds it.
    opened.reset();
    if (Selected("copy path, back buffer opened every frame"))
        Print("copy path, back buffer opened every frame", Measure(frames, [&](int) {
                  std::shared_ptr<gpu::Texture> texture =
                      compositor.OpenRuntimeTexture(backBuffer->SharedHandle());
                  texture->AcquireSync(0, 16);
                  compositor.CopyIntoOutput(frameIndex, *texture);
                  texture->ReleaseSync(0);
                  handOver();
              }));

    // Direct mode: one layer, both eyes, then hand-over and clear of the next texture.
    struct EyeCase {
        const char* name;
        uint32_t width, height, format;
    } eyeCases[] = {
        {"eye pass, 1280x1440 RGBA8 eyes (1:1), + clear", 1280, 1440, 28},
        {"eye pass, 1280x1440 sRGB eyes (1:1), + clear", 1280, 1440, 29},
        {"eye pass, 1512x1680 BGRA sRGB eyes (scaled), + clear", 1512, 1680, 91},
        {"eye pass, 1280x1440 RGBA16F eyes (generic path), + clear", 1280, 1440, 10},
    };
    for (const EyeCase& eyeCase : eyeCases) {
        if (!Selected(eyeCase.name)) continue;
        uint64_t left = 0, right = 0;
        auto leftTexture =
            MakeEyeTexture(compositor, eyeCase.width, eyeCase.height, eyeCase.format, left);
        auto rightTexture =
            MakeEyeTexture(compositor, eyeCase.width, eyeCase.height, eyeCase.format, right);
        if (!leftTexture || !rightTexture) {
            std::printf("%-58s could not make the eye textures\n", eyeCase.name);
            continue;
        }
        SubmittedLayer layer;
        layer.handles[0] = left;
        layer.handles[1] = right;
        const int caseFrames = eyeCase.format == 10 ? std::max(1, frames / 5) : frames;
        Print(eyeCase.name, Measure(caseFrames, [&](int) {
                  compositor.BindOpaqueBlend();
                  compositor.RenderLayer(frameIndex, layer);
                  handOver();
                  compositor.ClearOutput(frameIndex);
              }));
        compositor.ReleaseSharedTexture(left);
        compositor.ReleaseSharedTexture(right);
    }

    if (Selected("clear only"))
        Print("clear only", Measure(frames, [&](int) { compositor.ClearOutput(frameIndex); }));
    if (Selected("keyed-mutex hand-over only"))
        Print("keyed-mutex hand-over only", Measure(frames * 10, [&](int) { handOver(); }));
    compositor.ReleaseOutput(frameIndex);
    return 0;
}
