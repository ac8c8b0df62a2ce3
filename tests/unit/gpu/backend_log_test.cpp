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
std::vector<std::string> gBackendLines;

void Capture(const char* line) {
    std::lock_guard<std::mutex> lock(gLinesLock);
    if (std::string(line).find("GPU backend") != std::string::npos) gBackendLines.push_back(line);
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

TEST(GpuBackendLog, TheDeviceIsLoggedOnceWithWhyItHasThatBackend) {
    platform::SetLogSink(&Capture);
    FrameCompositor compositor;
    ASSERT_TRUE(compositor.CreateDevice());
    ASSERT_TRUE(compositor.CreateDevice());
    platform::SetLogSink(nullptr);
    ASSERT_EQ(gBackendLines.size(), 1u);
    const std::string& line = gBackendLines[0];
#if defined(_WIN32)
    if (std::string(compositor.device()->BackendName()) == "d3d11") {
        EXPECT_TRUE(Contains(line, "d3d11")) << line;
    } else {
        // Unless asked for, software on Windows means no one else can open the frames.
        EXPECT_TRUE(Contains(line, "ERROR") || Contains(line, "requested by QUILLO_GPU_BACKEND"))
            << line;
    }
#else
    EXPECT_STREQ(compositor.device()->BackendName(), "software");
    EXPECT_TRUE(Contains(line, "software (this build has no Direct3D 11")) << line;
#endif
}

TEST(GpuBackendLog, AFallbackToSoftwareReadsAsTheFailureItIs) {
    const std::string line = gpu::BackendLogLine(gpu::BackendReason::D3D11Failed);
    EXPECT_TRUE(Contains(line, "ERROR")) << line;
    EXPECT_TRUE(Contains(line, "neither the runtime nor the companion")) << line;
    EXPECT_EQ(gpu::CreateGpuDeviceWithReason(gpu::Backend::Software).reason,
              gpu::BackendReason::SoftwareRequested);
}

}  // namespace
}  // namespace quillo::test
