// Cost of the link core's present paths on the software GPU backend, in one process with no
// companion attached (so the hand-over never waits): a virtual-display present (back-buffer
// copy and hand-over) and a direct-mode present of one two-eye layer (eye passes, hand-over,
// clear of the next texture), at the smallest window the headset allows and at the default.
//
// Both paths open the runtime's texture (back buffer, sync texture) by handle in every present,
// as the runtime hands it over; the figures include the heap allocations per frame after the
// first frames (the goal is zero).
//
// Usage: bench_present [frames per case, default 20]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "link/quillo_core.h"
#include "platform/clock.h"

#include "allocation_counter.h"

namespace {

using namespace quillo;

constexpr uint32_t kRgba8 = 28;

struct Figures {
    double meanMs = 0, minMs = 0, maxMs = 0;
    double allocationsPerFrame = 0;
    double cpuMs = 0;  // process CPU time per frame (all threads): less disturbed by a busy machine
};

constexpr int kWarmUpFrames = 3;

template <typename Present>
Figures Measure(int frames, Present present) {
    std::vector<double> times;
    times.reserve(frames);
    const double frequency = static_cast<double>(platform::CounterFrequency());
    for (int i = 0; i < kWarmUpFrames; ++i) present(i);
    const long long allocationsBefore = bench::Allocations();
    const std::clock_t cpuBefore = std::clock();
    for (int i = 0; i < frames; ++i) {
        const int64_t start = platform::CounterNow();
        present(i);
        times.push_back(static_cast<double>(platform::CounterNow() - start) * 1000.0 / frequency);
    }
    Figures f;
    f.cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC / frames;
    f.allocationsPerFrame =
        static_cast<double>(bench::Allocations() - allocationsBefore) / static_cast<double>(frames);
    double sum = 0;
    for (double t : times) sum += t;
    f.meanMs = sum / times.size();
    f.minMs = *std::min_element(times.begin(), times.end());
    f.maxMs = *std::max_element(times.begin(), times.end());
    return f;
}

void Run(uint32_t width, uint32_t height, int frames) {
    QuilloCore core;
    core.Initialize("_bench_present");
    // Frames later than one interval are not delayed: at 1000 Hz pacing adds nothing here.
    core.OnFramerateUpdated(1000);
    FrameCompositor& compositor = core.Compositor();
    if (!compositor.CreateDevice(gpu::CreateSoftwareDevice())) {
        std::printf("no software device\n");
        return;
    }
    compositor.setOutputFormat(kRgba8);
    compositor.CreateOutputTextures(width, height);

    gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = kRgba8;
    desc.bindFlags = gpu::kBindShaderResource | gpu::kBindRenderTarget;
    desc.miscFlags = gpu::kMiscSharedKeyedMutex;
    std::unique_ptr<gpu::Device> runtime = gpu::CreateSoftwareDevice();
    std::shared_ptr<gpu::Texture> back = runtime->CreateTexture(desc);
    desc.width = desc.height = 16;
    std::shared_ptr<gpu::Texture> sync = runtime->CreateTexture(desc);
    const Figures virtualFrames =
        Measure(frames, [&](int) { core.PresentVirtual(back->SharedHandle()); });

    FrameCompositor::SwapTexture eyes[2];
    for (auto& eye : eyes) {
        eye = compositor.CreateSwapTexture(width / 2, height, kRgba8);
        compositor.OpenSharedTexture(eye.handle);
    }
    std::vector<SubmittedLayer> layers;
    layers.reserve(4);
    const Figures directFrames = Measure(frames, [&](int) {
        SubmittedLayer layer;
        layer.handles[0] = eyes[0].handle;
        layer.handles[1] = eyes[1].handle;
        layers.push_back(layer);
        core.PresentDirect(sync->SharedHandle(), layers);
    });
    std::printf(
        "%4ux%-4u  virtual present mean %7.3f ms (min %7.3f, max %7.3f, CPU %7.3f ms, %.2f "
        "allocations/frame)\n"
        "           direct present (1 layer, sync texture) mean %7.3f ms (min %7.3f, max %7.3f, "
        "CPU %7.3f ms, %.2f allocations/frame)\n",
        width, height, virtualFrames.meanMs, virtualFrames.minMs, virtualFrames.maxMs,
        virtualFrames.cpuMs, virtualFrames.allocationsPerFrame, directFrames.meanMs,
        directFrames.minMs, directFrames.maxMs, directFrames.cpuMs,
        directFrames.allocationsPerFrame);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::printf("software present paths, %d frames per case\n", frames);
    Run(1000, 600, frames);
    Run(2560, 1440, frames);
    return 0;
}
