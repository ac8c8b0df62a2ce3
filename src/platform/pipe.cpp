// The parts of a pipe end that do not depend on the operating system: ownership moves with the
// object and the end closes with it.
#include "platform/pipe.h"

#include "platform/environment.h"

namespace quillo::platform {

std::string PipeSuffixFromEnvironment() {
    std::string suffix;
    ReadEnvironmentVariable("QUILLO_PIPE_SUFFIX", suffix);
    return suffix;
}

PipeStream::PipeStream() = default;

PipeStream::PipeStream(const Native& native) : native_(native) {}

PipeStream::~PipeStream() {
    Close();
}

PipeStream::PipeStream(PipeStream&& other) noexcept : native_(other.native_) {
    other.native_ = Native{};
}

PipeStream& PipeStream::operator=(PipeStream&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.native_;
        other.native_ = Native{};
    }
    return *this;
}

}  // namespace quillo::platform
