// The headset in the runtime's direct mode: the runtime renders each eye into swap textures
// the driver creates on its own device, submits layers, and presents; the link draws the
// layers into the output texture the companion reads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "devices/headset/hmd_driver.h"
#include "gpu/submitted_layer.h"

namespace quillo {

namespace gpu {
class Texture;
}

// One texture created for the runtime (three per set).
struct SwapTextureRecord {
    uint64_t handle = 0;
    // The driver's own reference from creation, released when the record is removed.
    std::shared_ptr<gpu::Texture> texture;
    uint32_t pid = 0;
    uint32_t setId = 0;
};

class HMDDriverDirect final : public HMDDriver, public vr::IVRDriverDirectModeComponent {
  public:
    HMDDriverDirect();

    void* GetComponent(const char* pchComponentNameAndVersion) override;

    // IVRDriverDirectModeComponent
    void CreateSwapTextureSet(uint32_t unPid, uint32_t unFormat, uint32_t unWidth,
                              uint32_t unHeight,
                              vr::SharedTextureHandle_t (*pSharedTextureHandles)[3]) override;
    void DestroySwapTextureSet(vr::SharedTextureHandle_t sharedTextureHandle) override;
    void DestroyAllSwapTextureSets(uint32_t unPid) override;
    void GetNextSwapTextureSetIndex(vr::SharedTextureHandle_t sharedTextureHandles[2],
                                    uint32_t (*pIndices)[2]) override;
    void SubmitLayer(vr::SharedTextureHandle_t sharedTextureHandles[2],
                     const vr::VRTextureBounds_t (&bounds)[2],
                     const vr::HmdMatrix34_t* pPose) override;
    void Present(vr::SharedTextureHandle_t syncTexture) override;

    const std::vector<SwapTextureRecord>& swapTextures() const { return swapTextures_; }
    const std::vector<SubmittedLayer>& pendingLayers() const { return pendingLayers_; }
    uint32_t nextSetId() const { return nextSetId_; }
    uint32_t swapIndex() const { return swapIndex_; }

  private:
    // Releases and removes every record whose field matches, walking from the last record
    // to the first so each removal leaves the lower positions valid.
    template <typename Match>
    void DestroyRecords(Match&& match);

    std::vector<SwapTextureRecord> swapTextures_;
    uint32_t nextSetId_ = 0;
    uint32_t swapIndex_ = 0;
    std::vector<SubmittedLayer> pendingLayers_;
    // Positions collected by DestroyRecords, kept to reuse their storage.
    std::vector<size_t> doomed_;
};

}  // namespace quillo
