// Where the companion's head is at a given time: a scripted slow head turn and nod, or poses
// replayed from a CSV or JSON file.
#pragma once

#include <string>
#include <vector>

#include "link/tracking_math.h"

namespace quillo::companion {

struct HeadSample {
    double seconds = 0.0;
    Quaternion orientation;  // x, y, z, w; the runtime's frame (Y up, -Z forward)
    Vector3 position{0.0f, 1.7f, 0.0f};
};

// The scripted motion: the head turns 30 degrees to either side every 8 s (yaw about Y) and
// nods 10 degrees every 5 s (pitch about X), swaying 5 cm sideways with the turn; at time 0
// it looks straight ahead at 1.7 m. The rotation is yaw applied after pitch, which is what the
// driver's angle form (kind 3, angles about X, Y, Z) composes as well.
HeadSample ScriptedHead(double seconds);
// The angles of the scripted motion at `seconds`: about X (pitch) and Y (yaw), radians.
void ScriptedAngles(double seconds, float& pitch, float& yaw);

class MotionTrack {
  public:
    // Loads a CSV ("t,qx,qy,qz,qw,px,py,pz") or JSON ([{"t":..,"q":[..],"p":[..]}]) file;
    // which one is told by the first non-blank character ('[' or '{' means JSON).
    bool Load(const std::string& path, std::string& error);
    // Parses text in either form (for tests and for Load).
    bool Parse(const std::string& text, std::string& error);

    bool empty() const { return samples_.empty(); }
    // The last sample at or before `seconds` (the first before the start); with `loop` the
    // time wraps around the track's duration.
    HeadSample At(double seconds, bool loop) const;

    const std::vector<HeadSample>& samples() const { return samples_; }

  private:
    bool ParseCsv(const std::string& text, std::string& error);
    bool ParseJson(const std::string& text, std::string& error);

    std::vector<HeadSample> samples_;
};

}  // namespace quillo::companion
