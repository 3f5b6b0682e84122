#pragma once

namespace tarnwick::platform {

// Hands memory the program has freed back to the system. The C library keeps
// freed blocks for reuse, so a cleared log of days would otherwise go on
// counting against the program's resident size.
void releaseFreedMemory();

} // namespace tarnwick::platform
