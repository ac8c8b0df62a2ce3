#include "scene_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillo::host {

namespace {

struct Vec3 {
    float x, y, z;
};

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator*(float k, Vec3 a) {
    return {k * a.x, k * a.y, k * a.z};
}
float Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// A rotation as its three columns: where the X, Y and Z axes go.
struct Rotation {
    Vec3 c[3];
    Vec3 Apply(Vec3 v) const { return v.x * c[0] + v.y * c[1] + v.z * c[2]; }
};

Rotation Compose(const Rotation& a, const Rotation& b) {
    return {{a.Apply(b.c[0]), a.Apply(b.c[1]), a.Apply(b.c[2])}};
}

// A quaternion that is not a rotation (zero, not a number) counts as none, as a pose that
// was never filled in.
Rotation FromQuaternion(const vr::HmdQuaternion_t& q) {
    const double norm = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    if (!(norm > 1e-12)) return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    const double s = 2.0 / norm;
    const double xx = q.x * q.x * s, yy = q.y * q.y * s, zz = q.z * q.z * s;
    const double xy = q.x * q.y * s, xz = q.x * q.z * s, yz = q.y * q.z * s;
    const double wx = q.w * q.x * s, wy = q.w * q.y * s, wz = q.w * q.z * s;
    auto f = [](double v) { return static_cast<float>(v); };
    return {{{f(1 - yy - zz), f(xy + wz), f(xz - wy)},
             {f(xy - wz), f(1 - xx - zz), f(yz + wx)},
             {f(xz + wy), f(yz - wx), f(1 - xx - yy)}}};
}

Vec3 FromDoubles(const double v[3]) {
    return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

// Where a tracked device is in the room: the driver's pose through its world-from-driver and
// driver-from-head parts, as the runtime composes them.
struct Placement {
    Rotation rotation;
    Vec3 position;
};

Placement PlacementOf(const vr::DriverPose_t& pose) {
    const Rotation worldFromDriver = FromQuaternion(pose.qWorldFromDriverRotation);
    const Rotation driverFromTracking = FromQuaternion(pose.qRotation);
    const Rotation trackingFromHead = FromQuaternion(pose.qDriverFromHeadRotation);
    Placement placement;
    placement.rotation = Compose(worldFromDriver, Compose(driverFromTracking, trackingFromHead));
    placement.position = worldFromDriver.Apply(driverFromTracking.Apply(
                                                   FromDoubles(pose.vecDriverFromHeadTranslation)) +
                                               FromDoubles(pose.vecPosition)) +
                         FromDoubles(pose.vecWorldFromDriverTranslation);
    return placement;
}

struct Box {
    Vec3 low, high;
    uint8_t r, g, b;
};

// The room. The red box stands 3 m straight ahead of the start view at eye height.
constexpr Box kBoxes[] = {
    {{-0.25f, 1.45f, -3.25f}, {0.25f, 1.95f, -2.75f}, 255, 0, 0},
    {{-2.5f, 0.0f, -3.0f}, {-1.5f, 1.0f, -2.0f}, 40, 190, 60},
    {{1.6f, 0.0f, -2.4f}, {2.4f, 0.8f, -1.6f}, 50, 90, 230},
    {{-3.75f, 0.0f, 0.75f}, {-2.25f, 1.5f, 2.25f}, 240, 210, 40},
    {{2.2f, 0.0f, 1.7f}, {2.8f, 0.6f, 2.3f}, 210, 60, 210},
    {{-0.3f, 0.0f, 3.7f}, {0.3f, 2.5f, 4.3f}, 40, 200, 210},
};
constexpr size_t kBoxCount = sizeof kBoxes / sizeof kBoxes[0];
constexpr float kMarkerRadius = 0.05f;
constexpr float kFloorHalfSize = 6.0f;
constexpr float kGridLineHalfWidth = 0.02f;
// Without a pose yet: standing at the room's origin, facing the start direction.
constexpr float kStandingEyeHeight = 1.7f;

// Brightness of a box face by the way it faces: lit from the front, above and a little from
// the side, so the edges show.
float FaceShade(int axis, bool positive) {
    switch (axis) {
        case 0:
            return positive ? 0.8f : 0.7f;
        case 1:
            return positive ? 0.9f : 0.45f;
        default:
            return positive ? 1.0f : 0.55f;
    }
}

// A pixel as a word whose bytes in memory are R, G, B, A, so blocks are filled a word at a
// time.
uint32_t Rgba(float r, float g, float b) {
    const auto byte = [](float v) {
        return static_cast<uint8_t>(std::min(255.0f, std::max(0.0f, v)) + 0.5f);
    };
    const uint8_t bytes[4] = {byte(r), byte(g), byte(b), 255};
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The part of the view a box covers, as tangents (see CastEye): a ray outside it misses the
// box. A box reaching behind the eye covers everything.
struct TangentBounds {
    float xMin, xMax, yMin, yMax;
};

struct RayScene {
    Vec3 origin;
    TangentBounds boxBounds[kBoxCount];
    // The boxes a row of rays can hit (the row's tangent within the boxes' Y bounds).
    uint8_t rowBoxes[kBoxCount];
    size_t rowBoxCount = 0;
    Vec3 boxLow[kBoxCount];  // box corners relative to the ray origin
    Vec3 boxHigh[kBoxCount];
    uint32_t boxColour[kBoxCount][6];           // by face: axis * 2 + positive
    Vec3 markers[ScenePoses::kMaxControllers];  // relative to the ray origin
    size_t markerCount = 0;
};

// The sky's colour by how far up the ray points, in steps.
constexpr int kSkySteps = 64;
struct SkyColours {
    uint32_t byStep[kSkySteps + 1];
    SkyColours() {
        for (int i = 0; i <= kSkySteps; ++i) {
            const float k = static_cast<float>(i) / kSkySteps;
            byStep[i] = Rgba(96 - 70 * k, 110 - 70 * k, 135 - 60 * k);
        }
    }
};
const SkyColours kSky;
const uint32_t kGridLine = Rgba(170, 175, 185);
const uint32_t kFloor = Rgba(62, 66, 74);
const uint32_t kBelowHorizon = Rgba(34, 36, 40);
const uint32_t kMarker = Rgba(235, 235, 235);

// Distance of `v` (|v| < 64) to the nearest whole number, without a call to floor.
float DistanceToWhole(float v) {
    const float shifted = v + 64.5f;
    return std::fabs(shifted - static_cast<float>(static_cast<int>(shifted)) - 0.5f);
}

uint32_t Trace(const RayScene& scene, Vec3 d, float tx) {
    constexpr float kFar = std::numeric_limits<float>::max();
    float nearest = kFar;
    uint32_t colour = 0;
    Vec3 inv{0.0f, 0.0f, 0.0f};
    bool haveInv = false;  // most rays pass no box: divide only for those that might hit one
    for (size_t k = 0; k < scene.rowBoxCount; ++k) {
        const size_t i = scene.rowBoxes[k];
        if (tx < scene.boxBounds[i].xMin || tx > scene.boxBounds[i].xMax) continue;
        if (!haveInv) {
            inv = {1.0f / d.x, 1.0f / d.y, 1.0f / d.z};
            haveInv = true;
        }
        const Vec3& lo = scene.boxLow[i];
        const Vec3& hi = scene.boxHigh[i];
        const float x1 = lo.x * inv.x, x2 = hi.x * inv.x;
        const float y1 = lo.y * inv.y, y2 = hi.y * inv.y;
        const float z1 = lo.z * inv.z, z2 = hi.z * inv.z;
        const float nx = std::min(x1, x2), ny = std::min(y1, y2), nz = std::min(z1, z2);
        const float fx = std::max(x1, x2), fy = std::max(y1, y2), fz = std::max(z1, z2);
        const float enter = std::max(nx, std::max(ny, nz));
        const float leave = std::min(fx, std::min(fy, fz));
        if (enter > leave || enter <= 0.0f || enter >= nearest) continue;
        nearest = enter;
        // The face entered through is the one whose slab was entered last; its normal points
        // against the ray.
        const int axis = enter == nx ? 0 : (enter == ny ? 1 : 2);
        const float along = axis == 0 ? d.x : (axis == 1 ? d.y : d.z);
        colour = scene.boxColour[i][axis * 2 + (along < 0.0f ? 1 : 0)];
    }
    const float dd = Dot(d, d);
    for (size_t i = 0; i < scene.markerCount; ++i) {
        const Vec3& c = scene.markers[i];
        const float b = Dot(c, d);
        const float disc = b * b - dd * (Dot(c, c) - kMarkerRadius * kMarkerRadius);
        if (disc <= 0.0f) continue;
        const float t = (b - std::sqrt(disc)) / dd;
        if (t <= 0.0f || t >= nearest) continue;
        nearest = t;
        colour = kMarker;
    }
    if (d.y < 0.0f) {
        const float t = -scene.origin.y / d.y;
        if (t > 0.0f && t < nearest) {
            const float px = scene.origin.x + t * d.x;
            const float pz = scene.origin.z + t * d.z;
            if (std::fabs(px) < kFloorHalfSize && std::fabs(pz) < kFloorHalfSize) {
                const bool line = DistanceToWhole(px) < kGridLineHalfWidth ||
                                  DistanceToWhole(pz) < kGridLineHalfWidth;
                return line ? kGridLine : kFloor;
            }
            if (nearest == kFar) return kBelowHorizon;
        }
    }
    if (nearest != kFar) return colour;
    // Sky: lighter at the horizon.
    const float up = std::max(0.0f, d.y) / std::sqrt(dd);
    return kSky.byStep[static_cast<int>(up * kSkySteps)];
}

}  // namespace

SceneRenderer::SceneRenderer(uint32_t eyeWidth, uint32_t eyeHeight,
                             const EyeProjection projections[2], float ipdMeters)
    : eyeWidth_(eyeWidth), eyeHeight_(eyeHeight), ipd_(ipdMeters) {
    projections_[0] = projections[0];
    projections_[1] = projections[1];
    scale_ = std::max(1u, (eyeWidth + kInternalWidth - 1) / kInternalWidth);
    internalWidth_ = (eyeWidth + scale_ - 1) / scale_;
    internalHeight_ = (eyeHeight + scale_ - 1) / scale_;
    for (auto& rays : internal_)
        rays.assign(static_cast<size_t>(internalWidth_) * internalHeight_, 0);
    worker_ = std::thread([this] { RunWorker(); });
}

SceneRenderer::~SceneRenderer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void SceneRenderer::RunJob(const Job& job) {
    if (job.kind == Job::kCast) {
        CastEye(*job.poses, job.eye);
    } else {
        Upscale(job.eye, job.pixels, job.rowPitch, job.firstBlockRow, job.endBlockRow);
    }
}

void SceneRenderer::RunWorker() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || requested_ != done_; });
        if (stopping_) return;
        const Job job = workerJob_;
        lock.unlock();
        RunJob(job);
        lock.lock();
        done_ = requested_;
        finished_.notify_one();
    }
}

void SceneRenderer::RunOnBoth(const Job& forWorker, const Job& forCaller) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workerJob_ = forWorker;
        ++requested_;
    }
    wake_.notify_one();
    RunJob(forCaller);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_ == requested_; });
}

void SceneRenderer::CastRays(const ScenePoses& poses) {
    Job left;
    left.kind = Job::kCast;
    left.poses = &poses;
    Job right = left;
    right.eye = 1;
    RunOnBoth(right, left);
}

void SceneRenderer::CastEye(const ScenePoses& poses, uint8_t eye) {
    Placement head{{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0.0f, kStandingEyeHeight, 0.0f}};
    if (poses.hasHead) head = PlacementOf(poses.head);
    const float eyeOffset = eye == 0 ? -0.5f * ipd_ : 0.5f * ipd_;
    RayScene scene;
    scene.origin = head.position + eyeOffset * head.rotation.c[0];
    for (size_t i = 0; i < kBoxCount; ++i) {
        const Box& box = kBoxes[i];
        scene.boxLow[i] = box.low - scene.origin;
        scene.boxHigh[i] = box.high - scene.origin;
        for (int face = 0; face < 6; ++face) {
            const float shade = FaceShade(face / 2, (face & 1) != 0);
            scene.boxColour[i][face] = Rgba(box.r * shade, box.g * shade, box.b * shade);
        }
    }
    const Rotation& r = head.rotation;
    for (size_t i = 0; i < kBoxCount; ++i) {
        TangentBounds& bounds = scene.boxBounds[i];
        const float kAll = std::numeric_limits<float>::max();
        bounds = {kAll, -kAll, kAll, -kAll};
        for (int corner = 0; corner < 8; ++corner) {
            const Vec3 c{(corner & 1) ? scene.boxHigh[i].x : scene.boxLow[i].x,
                         (corner & 2) ? scene.boxHigh[i].y : scene.boxLow[i].y,
                         (corner & 4) ? scene.boxHigh[i].z : scene.boxLow[i].z};
            // The corner in eye space: the rotation's transpose.
            const float ex = Dot(c, r.c[0]), ey = Dot(c, r.c[1]), ez = Dot(c, r.c[2]);
            if (ez > -0.01f) {
                bounds = {-kAll, kAll, -kAll, kAll};
                break;
            }
            const float cx = ex / -ez, cy = ey / ez;
            bounds.xMin = std::min(bounds.xMin, cx);
            bounds.xMax = std::max(bounds.xMax, cx);
            bounds.yMin = std::min(bounds.yMin, cy);
            bounds.yMax = std::max(bounds.yMax, cy);
        }
    }
    scene.markerCount = std::min(poses.controllerCount, ScenePoses::kMaxControllers);
    for (size_t i = 0; i < scene.markerCount; ++i) {
        scene.markers[i] = PlacementOf(poses.controllers[i]).position - scene.origin;
    }

    // A ray through output pixel (x, y) has the direction tx * X - ty * Y - Z in eye space,
    // tx and ty the tangents at the pixel's centre; one ray per block, through its middle.
    const EyeProjection& p = projections_[eye];
    for (uint32_t j = 0; j < internalHeight_; ++j) {
        const uint32_t y = std::min(j * scale_ + scale_ / 2, eyeHeight_ - 1);
        const float ty = p.top + (y + 0.5f) / eyeHeight_ * (p.bottom - p.top);
        const Vec3 base = (-ty) * r.c[1] - r.c[2];
        scene.rowBoxCount = 0;
        for (size_t i = 0; i < kBoxCount; ++i) {
            if (ty >= scene.boxBounds[i].yMin && ty <= scene.boxBounds[i].yMax) {
                scene.rowBoxes[scene.rowBoxCount++] = static_cast<uint8_t>(i);
            }
        }
        uint32_t* row = internal_[eye].data() + static_cast<size_t>(j) * internalWidth_;
        for (uint32_t i = 0; i < internalWidth_; ++i) {
            const uint32_t x = std::min(i * scale_ + scale_ / 2, eyeWidth_ - 1);
            const float tx = p.left + (x + 0.5f) / eyeWidth_ * (p.right - p.left);
            row[i] = Trace(scene, tx * r.c[0] + base, tx);
        }
    }
}

void SceneRenderer::Upscale(uint8_t eye, uint8_t* pixels, size_t rowPitch, uint32_t firstBlockRow,
                            uint32_t endBlockRow) const {
    for (uint32_t j = firstBlockRow; j < endBlockRow; ++j) {
        const uint32_t* source = internal_[eye].data() + static_cast<size_t>(j) * internalWidth_;
        const uint32_t firstRow = j * scale_;
        uint8_t* first = pixels + firstRow * rowPitch;
        for (uint32_t i = 0, x = 0; i < internalWidth_; ++i) {
            const uint32_t word = source[i];
            for (const uint32_t end = std::min(x + scale_, eyeWidth_); x < end; ++x) {
                std::memcpy(first + 4 * static_cast<size_t>(x), &word, sizeof word);
            }
        }
        const uint32_t endRow = std::min(firstRow + scale_, eyeHeight_);
        for (uint32_t y = firstRow + 1; y < endRow; ++y) {
            std::memcpy(pixels + y * rowPitch, first, 4 * static_cast<size_t>(eyeWidth_));
        }
    }
}

void SceneRenderer::DrawEye(const frames::FrameStamp& stamp, uint8_t* pixels, size_t rowPitch) {
    // The top half of the rows here, the bottom half on the worker.
    Job top;
    top.kind = Job::kUpscale;
    top.eye = stamp.eye & 1;
    top.pixels = pixels;
    top.rowPitch = rowPitch;
    top.firstBlockRow = 0;
    top.endBlockRow = internalHeight_ / 2;
    Job bottom = top;
    bottom.firstBlockRow = top.endBlockRow;
    bottom.endBlockRow = internalHeight_;
    RunOnBoth(bottom, top);
    frames::DrawFrameMarks(pixels, rowPitch, eyeWidth_, eyeHeight_, stamp);
}

}  // namespace quillo::host
