#include "devices/headset/hmd_driver_direct.h"

#include "devices/component_name.h"
#include "devices/driver_log.h"
#include "devices/entry_guard.h"
#include "gpu/frame_compositor.h"

namespace quillo {

namespace {

// Room for the layers of a frame, so that submitting them does not allocate frame after
// frame (the runtime's compositor submits a handful at most).
constexpr size_t kReservedLayers = 16;

}  // namespace

HMDDriverDirect::HMDDriverDirect() {
    pendingLayers_.reserve(kReservedLayers);
    swapTextures_.reserve(12);
    doomed_.reserve(12);
}

void* HMDDriverDirect::GetComponent(const char* pchComponentNameAndVersion) {
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRDisplayComponent_Version)) {
        return DisplayComponent();
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRDriverDirectModeComponent_Version)) {
        return static_cast<vr::IVRDriverDirectModeComponent*>(this);
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::ITrackedDeviceServerDriver_Version)) {
        return DeviceInterface();
    }
    return nullptr;
}

void HMDDriverDirect::CreateSwapTextureSet(uint32_t unPid, uint32_t unFormat, uint32_t unWidth,
                                           uint32_t unHeight,
                                           vr::SharedTextureHandle_t (*pSharedTextureHandles)[3]) {
    QUILLO_ENTRY_SITE("HMDDriverDirect::CreateSwapTextureSet");
    GuardedEntry(entrySite_, [&] {
        WriteDriverLog("Create swap requested, w: %d, h: %d, format: %d \n",
                       static_cast<int>(unWidth), static_cast<int>(unHeight),
                       static_cast<int>(unFormat));
        FrameCompositor& compositor = Core().Compositor();
        // All three are made before anything is recorded. A texture that cannot be made
        // comes back with handle 0: the runtime gets 0 for it, which is the only failure
        // signal its interface has, and it is neither recorded nor opened.
        FrameCompositor::SwapTexture created[3];
        for (int i = 0; i < 3; ++i) {
            created[i] = compositor.CreateSwapTexture(unWidth, unHeight, unFormat);
            if (pSharedTextureHandles != nullptr) {
                (*pSharedTextureHandles)[i] = created[i].handle;
            }
        }
        for (int i = 0; i < 3; ++i) {
            if (created[i].handle == 0) {
                continue;
            }
            SwapTextureRecord record;
            record.handle = created[i].handle;
            record.texture = std::move(created[i].texture);
            record.pid = unPid;
            record.setId = nextSetId_;
            swapTextures_.push_back(std::move(record));
            compositor.OpenSharedTexture(created[i].handle);
        }
        ++nextSetId_;
    });
}

template <typename Match>
void HMDDriverDirect::DestroyRecords(Match&& match) {
    doomed_.clear();
    for (size_t position = swapTextures_.size(); position-- > 0;) {
        if (match(swapTextures_[position])) {
            doomed_.push_back(position);
        }
    }
    FrameCompositor& compositor = Core().Compositor();
    for (size_t position : doomed_) {
        SwapTextureRecord& record = swapTextures_[position];
        record.texture.reset();
        compositor.ReleaseSharedTexture(record.handle);
    }
    // Highest position first, so each erase leaves the remaining lower positions valid.
    for (size_t position : doomed_) {
        swapTextures_.erase(swapTextures_.begin() + static_cast<std::ptrdiff_t>(position));
    }
    doomed_.clear();
}

void HMDDriverDirect::DestroySwapTextureSet(vr::SharedTextureHandle_t sharedTextureHandle) {
    QUILLO_ENTRY_SITE("HMDDriverDirect::DestroySwapTextureSet");
    GuardedEntry(entrySite_, [&] {
        WriteDriverLog("Destroy set: %d\n",
                       static_cast<int>(static_cast<uint32_t>(sharedTextureHandle)));
        // 0xFFFFFFFF, which no set carries, when the handle names no record.
        uint32_t setId = 0xFFFFFFFFu;
        bool found = false;
        for (const SwapTextureRecord& record : swapTextures_) {
            if (record.handle == sharedTextureHandle) {
                setId = record.setId;
                found = true;
                break;
            }
        }
        if (!found) {
            return;
        }
        DestroyRecords([setId](const SwapTextureRecord& record) { return record.setId == setId; });
    });
}

void HMDDriverDirect::DestroyAllSwapTextureSets(uint32_t unPid) {
    QUILLO_ENTRY_SITE("HMDDriverDirect::DestroyAllSwapTextureSets");
    GuardedEntry(entrySite_, [&] {
        DestroyRecords([unPid](const SwapTextureRecord& record) { return record.pid == unPid; });
    });
}

void HMDDriverDirect::GetNextSwapTextureSetIndex(vr::SharedTextureHandle_t[2],
                                                 uint32_t (*pIndices)[2]) {
    // One index serves every set; the handles are not looked at.
    if (pIndices != nullptr) {
        (*pIndices)[0] = swapIndex_;
        (*pIndices)[1] = swapIndex_;
    }
}

void HMDDriverDirect::SubmitLayer(vr::SharedTextureHandle_t sharedTextureHandles[2],
                                  const vr::VRTextureBounds_t (&bounds)[2],
                                  const vr::HmdMatrix34_t*) {
    QUILLO_ENTRY_SITE("HMDDriverDirect::SubmitLayer");
    GuardedEntry(entrySite_, [&] {
        if (sharedTextureHandles == nullptr) {
            return;
        }
        SubmittedLayer layer;
        for (int eye = 0; eye < 2; ++eye) {
            layer.handles[eye] = sharedTextureHandles[eye];
            layer.bounds[eye].uMin = bounds[eye].uMin;
            layer.bounds[eye].vMin = bounds[eye].vMin;
            layer.bounds[eye].uMax = bounds[eye].uMax;
            layer.bounds[eye].vMax = bounds[eye].vMax;
        }
        pendingLayers_.push_back(layer);
    });
}

void HMDDriverDirect::Present(vr::SharedTextureHandle_t syncTexture) {
    QUILLO_ENTRY_SITE("HMDDriverDirect::Present");
    // The index moves on whether or not the link can use the frame.
    swapIndex_ = (swapIndex_ + 1) % 3;
    GuardedEntry(entrySite_, [&] { Core().PresentDirect(syncTexture, pendingLayers_); });
    // The link empties the list on every path; after a failure it must not grow without end.
    pendingLayers_.clear();
}

}  // namespace quillo
