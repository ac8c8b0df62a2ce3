// The driver's side of the companion link, in process, for the fuzz targets: the real message
// framing (MessageReader) and the pipe's own dispatch (TransmissionPipe::DispatchMessage) into
// the real provider against the fake runtime: head tracking, the headset, controllers and the
// refresh-rate listeners of the link and the headset. Built once per fuzzing process; every
// input goes on from the state the previous ones left, as a long-running link would.
// ShutdownRuntimeMessage is not dispatched: it reads no payload, and walking the process list
// for every input would leave no time for anything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/server_driver.h"
#include "link/message_reader.h"
#include "runtime/fake_runtime.h"

namespace quillo::fuzz {

// Stops the process with a message when an invariant does not hold (libFuzzer then keeps the
// input that did it).
void Require(bool condition, const char* what);

class LinkUnderFuzz {
  public:
    LinkUnderFuzz();
    ~LinkUnderFuzz();

    // One whole message, as the pipe reader dispatches it; then every published pose (head and
    // controllers) and the pacing interval are checked to be finite.
    void Dispatch(uint32_t type, const uint8_t* payload, uint32_t length);

    // Forgets what the fake runtime recorded (it would grow for ever otherwise).
    void EndInput();

    wire::MessageReader& reader() { return reader_; }

  private:
    void CheckPublishedState();

    runtime::FakeRuntime runtime_;
    CServerDriver_Quillo provider_;
    wire::MessageReader reader_;
    uint32_t lastControllerId_ = 0;
};

}  // namespace quillo::fuzz
