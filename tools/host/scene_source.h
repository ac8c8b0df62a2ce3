// Where the host's frame loops get their eye pictures: the scene renderer set up from what
// the headset's display component and properties report (eye size, projections, IPD), fed
// each frame with the poses the driver published last, and timed, so the host can say what
// drawing costs per frame.
#pragma once

#include <cstdint>
#include <memory>

#include "scene_renderer.h"

namespace quillo::runtime {
class FakeRuntime;
}

namespace quillo::host {

class SceneSource {
  public:
    // `runtime` may be null: the scene is then drawn from a standing pose at the room's
    // origin.
    SceneSource(const runtime::FakeRuntime* runtime, vr::IVRDisplayComponent& display,
                uint32_t eyeWidth, uint32_t eyeHeight);

    // Takes the latest poses for the frame about to be drawn and casts its rays.
    void BeginFrame();
    void DrawEye(const frames::FrameStamp& stamp, uint8_t* pixels, size_t rowPitch);
    // Counts the frame's drawing time (uploads and presents are not part of it).
    void EndFrame();
    // "scene: 1280x1440 per eye, 256x288 rays (5x5 pixels each), drawing both eyes mean
    //  2.10 ms max 3.40 ms over 720 frames"
    void PrintFigures() const;

  private:
    const runtime::FakeRuntime* runtime_;
    std::unique_ptr<SceneRenderer> renderer_;
    uint32_t eyeWidth_;
    uint32_t eyeHeight_;
    ScenePoses poses_;
    uint64_t frameMicros_ = 0;  // drawing time of the frame so far
    uint64_t frames_ = 0;
    uint64_t totalMicros_ = 0;
    uint64_t maxMicros_ = 0;
};

}  // namespace quillo::host
