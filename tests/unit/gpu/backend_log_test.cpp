// The driver says once which GPU backend the headset got and why.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"

namespace quillo::test {
namespace {

std::mutex gLinesLock;
std::vector<std::string> gLines;

void Capture(const char* line) {
    std::lock_guard<std::mutex> lock(gLinesLock);
    gLines.push_back(line);
}

std::vector<std::string> BackendLines() {
    std::lock_guard<std::mutex> lock(gLinesLock);
    std::vector<std::string> found;
    for (const std::string& line : gLines) {
        if (line.find("GPU backend") != std::string::npos) found.push_back(line);
    }
    return found;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

TEST(GpuBackendLog, TheDeviceIsLoggedOnceWithWhyItHasThatBackend) {
    gLines.clear();
    platform::SetLogSink(&Capture);
    FrameCompositor compositor;
    ASSERT_TRUE(compositor.CreateDevice());
    ASSERT_TRUE(compositor.CreateDevice());
    platform::SetLogSink(nullptr);
    const std::vector<std::string> lines = BackendLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string name = compositor.device()->BackendName();
#if defined(_WIN32)
    if (name == "d3d11") {
        EXPECT_TRUE(Contains(lines[0], "d3d11")) << lines[0];
    } else {
        // Unless asked for, software on Windows means no one else can open the frames.
        EXPECT_TRUE(Contains(lines[0], "ERROR") ||
                    Contains(lines[0], "requested by QUILLO_GPU_BACKEND"))
            << lines[0];
    }
#else
    EXPECT_EQ(name, "software");
    EXPECT_TRUE(Contains(lines[0], "software (this build has no Direct3D 11")) << lines[0];
#endif
}

TEST(GpuBackendLog, AFallbackToSoftwareReadsAsTheFailureItIs) {
    const std::string line = gpu::BackendLogLine(gpu::BackendReason::D3D11Failed);
    EXPECT_TRUE(Contains(line.c_str(), "ERROR")) << line;
    EXPECT_TRUE(Contains(line.c_str(), "neither the runtime nor the companion")) << line;
    EXPECT_EQ(gpu::CreateGpuDeviceWithReason(gpu::Backend::Software).reason,
              gpu::BackendReason::SoftwareRequested);
}

}  // namespace
}  // namespace quillo::test
