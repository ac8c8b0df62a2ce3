// The picture the host draws into each eye, as the runtime's application would: a small room
// (floor grid, coloured boxes at fixed places, the controllers as markers) seen from the head
// pose the driver published, through the eye's offset from the head and the eye's projection
// the display component reports. The stamp and check bands of frame_pattern.h go on top, so
// the companion can still check every frame.
//
// The scene is ray cast on the CPU at a lower internal resolution (one ray per `scale` x
// `scale` block of output pixels, `scale` chosen so an eye is at most kInternalWidth rays
// wide), and each ray's colour then fills its block. The work is split with a worker thread
// of the renderer's own: the right eye's rays there while the calling thread casts the left
// eye's, and the bottom half of each eye's blocks there while the caller fills the top half.
// A few milliseconds per frame for both eyes at 2560x1440, inside a 90 Hz frame next to the
// compositor's work.
//
// Room coordinates are the runtime's: metres, Y up, -Z the direction the head faces at start
// (and after a recenter), floor at Y = 0. The red box's face toward the start view is exactly
// (255, 0, 0) and nothing else in the scene is that colour, so its centroid is easy to find.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "frame_pattern.h"
#include "openvr/openvr_driver.h"

namespace quillo::host {

// Tangents of the eye's view edges, as GetProjectionRaw gives them: left and right along +X,
// top and bottom along -Y (top is the first row of the picture).
struct EyeProjection {
    float left = -1.0f;
    float right = 1.0f;
    float top = -1.0f;
    float bottom = 1.0f;
};

// The poses a frame is drawn from: the headset's and the controllers' latest ones.
struct ScenePoses {
    static constexpr size_t kMaxControllers = 4;
    bool hasHead = false;
    vr::DriverPose_t head{};
    size_t controllerCount = 0;
    vr::DriverPose_t controllers[kMaxControllers]{};
};

class SceneRenderer {
  public:
    static constexpr uint32_t kInternalWidth = 256;

    // `ipdMeters`: distance between the eyes; each eye sits half of it left or right of the
    // head's origin along the head's X axis.
    SceneRenderer(uint32_t eyeWidth, uint32_t eyeHeight, const EyeProjection projections[2],
                  float ipdMeters);
    ~SceneRenderer();
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // Casts the rays of both eyes of a frame seen from `poses`.
    void CastRays(const ScenePoses& poses);
    // Draws eye `stamp.eye` of the frame last cast into RGBA8 rows `rowPitch` bytes apart,
    // `pixels` being the eye's top-left pixel: the scene, then the stamp and check bands.
    void DrawEye(const frames::FrameStamp& stamp, uint8_t* pixels, size_t rowPitch);

    uint32_t scale() const { return scale_; }
    uint32_t internalWidth() const { return internalWidth_; }
    uint32_t internalHeight() const { return internalHeight_; }

  private:
    // A share of a frame's work: one eye's rays, or some rows of blocks of one eye.
    struct Job {
        enum Kind { kCast, kUpscale } kind = kCast;
        const ScenePoses* poses = nullptr;
        uint8_t eye = 0;
        uint8_t* pixels = nullptr;
        size_t rowPitch = 0;
        uint32_t firstBlockRow = 0;
        uint32_t endBlockRow = 0;
    };

    void CastEye(const ScenePoses& poses, uint8_t eye);
    void Upscale(uint8_t eye, uint8_t* pixels, size_t rowPitch, uint32_t firstBlockRow,
                 uint32_t endBlockRow) const;
    void RunJob(const Job& job);
    // Hands `forWorker` to the worker, runs `forCaller`, and returns when both are done.
    void RunOnBoth(const Job& forWorker, const Job& forCaller);
    void RunWorker();

    uint32_t eyeWidth_;
    uint32_t eyeHeight_;
    EyeProjection projections_[2];
    float ipd_;
    uint32_t scale_;
    uint32_t internalWidth_;
    uint32_t internalHeight_;
    // Per eye, one RGBA8 pixel per ray (a word holding the bytes R, G, B, A in memory
    // order), made once.
    std::vector<uint32_t> internal_[2];

    // The worker: `requested_` counts jobs handed to it, `done_` jobs finished; `workerJob_`
    // is the newest.
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    uint64_t requested_ = 0;
    uint64_t done_ = 0;
    bool stopping_ = false;
    Job workerJob_;
};

}  // namespace quillo::host
