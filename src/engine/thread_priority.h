#pragma once

namespace tarnwick::engine {

// Gives the calling thread a below-normal scheduling priority. Qt's thread
// priorities do nothing for ordinary Linux threads, so the thread's own nice
// value is raised instead.
void lowerCurrentThreadPriority();

} // namespace tarnwick::engine
