// Arbitrary bytes from the companion's pipe: framed by the real message reader, decoded and
// dispatched into head tracking, controllers and the refresh-rate listeners. A header the
// reader refuses ends the "connection" as the pipe reader does; the rest of the input is read
// as a new connection. Sanitizers and the published-state checks catch what goes wrong.
#include <cstddef>
#include <cstdint>

#include "fuzz/link_under_fuzz.h"

using quillo::fuzz::LinkUnderFuzz;
using quillo::wire::MessageReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LinkUnderFuzz* link = new LinkUnderFuzz();  // lives for the whole fuzzing run
    MessageReader& reader = link->reader();
    reader.Reset();
    size_t offset = 0;
    while (offset < size) {
        offset += reader.Feed(data + offset, size - offset);
        if (reader.HasMessage()) {
            link->Dispatch(reader.type(), reader.payload(), reader.length());
            reader.Next();
        } else if (reader.state() == MessageReader::State::kFailed) {
            reader.Reset();  // the pipe drops the connection; the companion starts afresh
        }
    }
    link->EndInput();
    return 0;
}
