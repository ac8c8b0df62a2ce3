// How the Direct3D 11 backend reports failures: a repeating failure gives one line when it
// starts and one when it ends; a draw before the render states exist changes nothing.
// Windows build only.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpu/d3d11/failure_log.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"

namespace quillo::test {
namespace {

using namespace quillo::gpu;

std::vector<std::string> g_logLines;
void CollectLogLine(const char* line) {
    g_logLines.push_back(line);
}

class D3D11FailureHandling : public ::testing::Test {
  protected:
    void SetUp() override {
        g_logLines.clear();
        quillo::platform::SetLogSink(CollectLogLine);
    }
    void TearDown() override { quillo::platform::SetLogSink(nullptr); }
};

TEST_F(D3D11FailureHandling, RepeatedFailureLogsWhereARunOfFailuresStartsAndEnds) {
    d3d11::RepeatedFailure failure("mapping a buffer");
    failure.Record(true, 0);  // success without earlier failure: nothing to say
    failure.Record(false, 0x887A0005);
    failure.Record(false, 0x887A0005);
    failure.Record(false, 0x887A0001);
    EXPECT_TRUE(failure.failing());
    failure.Record(true, 0);
    failure.Record(true, 0);
    failure.Record(false, 0x80004005);
    ASSERT_EQ(g_logLines.size(), 3u);
    EXPECT_EQ(g_logLines[0], "driver_quillo: Direct3D 11: mapping a buffer failed (0x887A0005)\n");
    EXPECT_EQ(g_logLines[1], "driver_quillo: Direct3D 11: mapping a buffer works again\n");
    EXPECT_EQ(g_logLines[2], "driver_quillo: Direct3D 11: mapping a buffer failed (0x80004005)\n");
}

TEST_F(D3D11FailureHandling, DrawBeforeRenderStatesLeavesTheTargetAsItWas) {
    std::unique_ptr<Device> device = CreateD3D11Device();
    if (!device) GTEST_SKIP() << "no Direct3D 11 device on this system";
    std::shared_ptr<Texture> target =
        device->CreateTexture({4, 2, 28, kBindRenderTarget | kBindShaderResource, 0});
    ASSERT_TRUE(target);
    const std::vector<uint8_t> filled(4 * 2 * 4, 0x5A);
    ASSERT_TRUE(device->UpdateTexture(*target, filled.data(), 16));
    std::unique_ptr<RenderTargetView> view = device->CreateRenderTargetView(target, 28);
    ASSERT_TRUE(view);

    const EyePass pass{Viewport{0, 0, 4, 2, 0, 1}, nullptr, TextureBounds{}};
    device->DrawEyePasses(*view, 0, &pass, 1);
    device->DrawEyePasses(*view, 0, &pass, 1);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(device->ReadTexture(*target, pixels));
    EXPECT_EQ(pixels, filled);
    ASSERT_EQ(g_logLines.size(), 1u);
    EXPECT_NE(g_logLines[0].find("no constant buffers"), std::string::npos) << g_logLines[0];

    // Once the states exist the same draw paints the missing view opaque black.
    ASSERT_TRUE(device->CreateRenderStates());
    device->DrawEyePasses(*view, 0, &pass, 1);
    ASSERT_TRUE(device->ReadTexture(*target, pixels));
    for (size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_EQ(pixels[i] | pixels[i + 1] | pixels[i + 2], 0);
        EXPECT_EQ(pixels[i + 3], 255);
    }
}

}  // namespace
}  // namespace quillo::test

#endif  // _WIN32
