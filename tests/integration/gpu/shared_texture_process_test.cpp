// Software textures and their keyed mutexes between two processes where a process dies: the
// test program starts itself as the second process (the role ChildRole.Run, chosen by
// QUILLO_GPU_CHILD_ROLE) and hands it the low 32 bits of a texture's shared handle, as FrameInfo
// does for the companion; the child signals through the first byte of the texture itself.
// Pixels and hand-overs between live processes are checked frame by frame in
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

// Child exit codes.
enum ChildExit { kOk = 0, kNoTexture = 10, kWrongDesc, kNotAcquired, kKeptWaiting, kBadRole };

uint8_t Pattern(size_t i) {
    return static_cast<uint8_t>(i * 13 + 7);
}

std::vector<uint8_t> ReadAll(gpu::Device& device, gpu::Texture& texture) {
    std::vector<uint8_t> pixels;
    device.ReadTexture(texture, pixels);
    return pixels;
}

void SetMarker(gpu::Device& device, gpu::Texture& texture, uint8_t marker) {
    std::vector<uint8_t> pixels = ReadAll(device, texture);
    pixels[0] = marker;
    device.UpdateTexture(texture, pixels.data(), kWidth * 4);
}

// --- the second process -----------------------------------------------------------------

int RunChild(const std::string& role, uint32_t handle) {
    std::unique_ptr<gpu::Device> device = gpu::CreateSoftwareDevice();
    std::shared_ptr<gpu::Texture> texture = device->OpenSharedTexture(handle);
    if (!texture) return kNoTexture;
    const gpu::TextureDesc desc = texture->Describe();
    if (desc.width != kWidth || desc.height != kHeight) return kWrongDesc;

    if (role == "hold") {
        if (texture->AcquireSync(0, gpu::kWaitInfinite) != gpu::SyncResult::Ok) {
            return kNotAcquired;
        }
        SetMarker(*device, *texture, 3);
        // Holds the mutex until the parent kills this process.
        for (int i = 0; i < 600; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return kKeptWaiting;
    }
    return kBadRole;
}

TEST(ChildRole, Run) {
    std::string role, handle;
    if (!platform::ReadEnvironmentVariable("QUILLO_GPU_CHILD_ROLE", role) ||
        !platform::ReadEnvironmentVariable("QUILLO_GPU_CHILD_HANDLE", handle)) {
        GTEST_SKIP() << "only runs as the second process of the tests below";
    }
    const int code =
        RunChild(role, static_cast<uint32_t>(std::strtoul(handle.c_str(), nullptr, 16)));
    // The exit code is what the parent reads; gtest's own result would only say pass/fail.
    std::fflush(stdout);
    std::exit(code);
}

// --- the first process --------------------------------------------------------------------

class SharedTextureProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = gpu::CreateSoftwareDevice();
        ASSERT_TRUE(device);
    }

    std::shared_ptr<gpu::Texture> MakeTexture(uint32_t format, uint32_t miscFlags) {
        gpu::TextureDesc desc{kWidth, kHeight, format,
                              gpu::kBindRenderTarget | gpu::kBindShaderResource, miscFlags};
        std::shared_ptr<gpu::Texture> texture = device->CreateTexture(desc);
        EXPECT_TRUE(texture);
        if (!texture) return nullptr;
        EXPECT_EQ(texture->SharedHandle() >> 32, 0u);  // the low 32 bits are the whole handle
        std::vector<uint8_t> pixels(kWidth * kHeight * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = Pattern(i);
        device->UpdateTexture(*texture, pixels.data(), kWidth * 4);
        return texture;
    }

    void StartChild(const char* role, const gpu::Texture& texture) {
        char handle[16];
        std::snprintf(handle, sizeof handle, "%08X", static_cast<uint32_t>(texture.SharedHandle()));
        platform::ChildProcessOptions options;
        options.program = platform::CurrentExecutablePath();
        options.arguments = {"--gtest_filter=ChildRole.Run"};
        options.environment = {{"QUILLO_GPU_CHILD_ROLE", role},
                               {"QUILLO_GPU_CHILD_HANDLE", handle}};
        std::string error;
        ASSERT_TRUE(child.Start(options, &error)) << error;
    }

    int ChildExitCode() {
        if (!child.Wait(test::kChildTimeoutMs)) return -1;
        return child.exitCode();
    }

    bool MarkerBecomes(gpu::Texture& texture, uint8_t marker) {
        return test::WaitUntil([&] { return ReadAll(*device, texture)[0] == marker; });
    }

    std::unique_ptr<gpu::Device> device;
    platform::ChildProcess child;
};

TEST_F(SharedTextureProcessTest, AMutexLeftByAKilledProcessIsTakenOverAsAbandoned) {
    auto texture = MakeTexture(28, gpu::kMiscSharedKeyedMutex);
    ASSERT_TRUE(texture);
    StartChild("hold", *texture);
    ASSERT_TRUE(MarkerBecomes(*texture, 3)) << "child exit " << ChildExitCode();
    EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Timeout);  // holder alive
    ASSERT_TRUE(child.Kill());
    EXPECT_EQ(texture->AcquireSync(0, gpu::kWaitInfinite), gpu::SyncResult::Abandoned);
    EXPECT_TRUE(texture->ReleaseSync(0));
    EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Ok);
    EXPECT_TRUE(texture->ReleaseSync(0));
}

TEST_F(SharedTextureProcessTest, AnOpeningOutlivesTheCreatorsReferenceAndThenTheHandleIsGone) {
    auto texture = MakeTexture(28, gpu::kMiscSharedKeyedMutex);
    ASSERT_TRUE(texture);
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
