// First cut of the pipe channel: listener registration and the head-pose snapshot. The
// connect and reader threads follow.
#include "link/transmission_pipe.h"

#include <atomic>
#include <vector>

namespace quillo {

struct TransmissionPipe::Impl {
    std::vector<ITrackingUpdatedListener*> trackingListeners;
    std::vector<IFramerateUpdatedListener*> framerateListeners;
    std::vector<IControllerUpdatedListener*> controllerListeners;
    std::atomic<bool> running{true};
    std::atomic<bool> connected{false};
    std::atomic<bool> newConnection{false};
    HeadPose pose;
};

TransmissionPipe::TransmissionPipe() : impl_(new Impl) {}

TransmissionPipe::~TransmissionPipe() {
    Stop();
}

void TransmissionPipe::AddTrackingListener(ITrackingUpdatedListener* listener) {
    impl_->trackingListeners.push_back(listener);
}

void TransmissionPipe::AddFramerateListener(IFramerateUpdatedListener* listener) {
    impl_->framerateListeners.push_back(listener);
}

void TransmissionPipe::AddControllerListener(IControllerUpdatedListener* listener) {
    impl_->controllerListeners.push_back(listener);
}

HeadPose TransmissionPipe::ReadHeadPose() const {
    return impl_->pose;
}

bool TransmissionPipe::IsConnected() const {
    return impl_->connected.load();
}

bool TransmissionPipe::NewConnectionPending() const {
    return impl_->newConnection.load();
}

void TransmissionPipe::ClearNewConnection() {
    impl_->newConnection.store(false);
}

void TransmissionPipe::WriteMessage(uint32_t type, const uint8_t* payload, uint32_t length) {
    if (!impl_->connected.load()) return;
}

void TransmissionPipe::Stop() {
    impl_->running.store(false);
}

}  // namespace quillo
