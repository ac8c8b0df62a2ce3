// The three listener interfaces the pipe channel calls on its reader thread. Listeners are
// plain, non-owning pointers appended during start-up and never removed.
#pragma once

#include <cstdint>

namespace quillo {

struct ControllerRecord;

class ITrackingUpdatedListener {
  public:
    virtual void OnTrackingUpdated() = 0;

  protected:
    ~ITrackingUpdatedListener() = default;
};

class IFramerateUpdatedListener {
  public:
    virtual void OnFramerateUpdated(int32_t framesPerSecond) = 0;

  protected:
    ~IFramerateUpdatedListener() = default;
};

class IControllerUpdatedListener {
  public:
    virtual void OnControllerUpdated(const ControllerRecord& record) = 0;

  protected:
    ~IControllerUpdatedListener() = default;
};

}  // namespace quillo
