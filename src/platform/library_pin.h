// Keeping the driver library mapped for the life of the process.
#pragma once

namespace quillo::platform {

// Makes the library (or program) holding this code stay loaded until the process ends, even
// when its loader unloads it. For a thread that must be left running past the point where the
// library may be unloaded (a thread stuck in a call into the runtime at shutdown): its code
// stays where it is. Best effort; nothing to report on failure.
void KeepThisLibraryLoaded();

}  // namespace quillo::platform
