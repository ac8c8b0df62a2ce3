// Software textures and their keyed mutexes between two processes where a process dies: the
// test program starts itself as the second process (ChildRole.Run, chosen by
// QUILLO_GPU_CHILD_HANDLE) and hands it the low 32 bits of a texture's shared handle, as
// FrameInfo does for the companion; the child signals through the first byte of the texture
// itself. Pixels and hand-overs between live processes are checked frame by frame in
// integration/frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "gpu/gpu_backend.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "support/wait_until.h"

namespace quillo::test {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 32;

uint8_t Pattern(size_t i) {
    return static_cast<uint8_t>(i * 13 + 7);
}

std::vector<uint8_t> ReadAll(gpu::Device& device, gpu::Texture& texture) {
    std::vector<uint8_t> pixels;
    device.ReadTexture(texture, pixels);
    return pixels;
}

// The second process: opens the texture, takes its keyed mutex, sets the first byte to 3 and
// holds on until it is killed. Exit codes name what went wrong.
TEST(ChildRole, Run) {
    std::string handle;
    if (!platform::ReadEnvironmentVariable("QUILLO_GPU_CHILD_HANDLE", handle)) {
        GTEST_SKIP() << "only runs as the second process of the tests below";
    }
    std::unique_ptr<gpu::Device> device = gpu::CreateSoftwareDevice();
    std::shared_ptr<gpu::Texture> texture =
        device->OpenSharedTexture(std::strtoul(handle.c_str(), nullptr, 16));
    int code = 10;  // no texture
    if (texture && texture->Describe().width == kWidth) {
        code = 11;  // not acquired
        if (texture->AcquireSync(0, kChildTimeoutMs) == gpu::SyncResult::Ok) {
            std::vector<uint8_t> pixels = ReadAll(*device, *texture);
            pixels[0] = 3;
            device->UpdateTexture(*texture, pixels.data(), kWidth * 4);
            std::this_thread::sleep_for(std::chrono::minutes(1));
            code = 12;  // never killed
        }
    }
    // The exit code is what the parent reads; gtest's own result would only say pass/fail.
    std::fflush(stdout);
    std::exit(code);
}

class SharedTextureProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = gpu::CreateSoftwareDevice();
        texture = device->CreateTexture({kWidth, kHeight, 28,
                                         gpu::kBindRenderTarget | gpu::kBindShaderResource,
                                         gpu::kMiscSharedKeyedMutex});
        ASSERT_TRUE(texture);
        ASSERT_EQ(texture->SharedHandle() >> 32, 0u);  // the low 32 bits are the whole handle
        std::vector<uint8_t> pixels(kWidth * kHeight * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = Pattern(i);
        ASSERT_TRUE(device->UpdateTexture(*texture, pixels.data(), kWidth * 4));
    }

    std::unique_ptr<gpu::Device> device;
    std::shared_ptr<gpu::Texture> texture;
};

TEST_F(SharedTextureProcessTest, AMutexLeftByAKilledProcessIsTakenOverAsAbandoned) {
    char handle[16];
    std::snprintf(handle, sizeof handle, "%08X", static_cast<uint32_t>(texture->SharedHandle()));
    platform::ChildProcessOptions options;
    options.program = platform::CurrentExecutablePath();
    options.arguments = {"--gtest_filter=ChildRole.Run"};
    options.environment = {{"QUILLO_GPU_CHILD_HANDLE", handle}};
    platform::ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(options, &error)) << error;
    ASSERT_TRUE(test::WaitUntil([&] { return ReadAll(*device, *texture)[0] == 3; },
                                std::chrono::milliseconds(kChildTimeoutMs)))
        << "child exit " << (child.Wait(0) ? child.exitCode() : -1);
    EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Timeout);  // holder alive
    ASSERT_TRUE(child.Kill());
    EXPECT_EQ(texture->AcquireSync(0, kChildTimeoutMs), gpu::SyncResult::Abandoned);
    EXPECT_TRUE(texture->ReleaseSync(0));
    EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Ok);
    EXPECT_TRUE(texture->ReleaseSync(0));
}

TEST_F(SharedTextureProcessTest, AnOpeningOutlivesTheCreatorsReferenceAndThenTheHandleIsGone) {
    const uint64_t handle = texture->SharedHandle();
    auto opened = device->OpenSharedTexture(handle);
    ASSERT_TRUE(opened);
    texture.reset();
    // (Whether a new opening is still possible here differs: on Windows the section lives while
    // any handle does; on POSIX the creator removed its name.)
    EXPECT_EQ(ReadAll(*device, *opened)[5], Pattern(5));
    EXPECT_EQ(opened->AcquireSync(0, 0), gpu::SyncResult::Ok);
    EXPECT_TRUE(opened->ReleaseSync(0));
    opened.reset();
    EXPECT_FALSE(device->OpenSharedTexture(handle));
}

}  // namespace
}  // namespace quillo::test
