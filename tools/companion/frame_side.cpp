#include "frame_side.h"

namespace quillo::companion {

namespace {
// A function-local static, so registration from other files' static initializers works in
// any initialisation order.
FrameSideFactory& Slot() {
    static FrameSideFactory factory = nullptr;
    return factory;
}
}  // namespace

bool RegisterFrameSide(FrameSideFactory factory) {
    Slot() = factory;
    return true;
}

FrameSideFactory RegisteredFrameSide() {
    return Slot();
}

}  // namespace quillo::companion
