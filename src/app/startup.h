#pragma once

namespace tarnwick::app {

// The program: creates the windows in their order, runs the message loop, and
// stops every worker before the windows go.
int run(int argc, char** argv);

} // namespace tarnwick::app
