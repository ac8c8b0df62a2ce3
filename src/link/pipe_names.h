// The base names of the companion's two pipes. The companion creates both; the driver writes
// into the first and reads from the second. platform::PipePath turns a base name into the OS
// path ("\\.\pipe\..." on Windows, a socket in the runtime directory on POSIX).
#pragma once

namespace quillo {

// Driver -> companion: FrameInfo, HapticPulse.
constexpr char kPipeBaseNameIn[] = "PelmontQuilloTransmissionPipeV1In";
// Companion -> driver: tracking, recenter, refresh rate, controllers, shutdown request.
constexpr char kPipeBaseNameOut[] = "PelmontQuilloTransmissionPipeV1Out";

}  // namespace quillo
