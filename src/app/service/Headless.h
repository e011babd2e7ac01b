#pragma once

namespace qv {

// quorvex --headless: the service on a core application (no platform plugin, no widgets)
// reporting to standard output, until SIGTERM or SIGINT. The exit code of the event loop.
int RunHeadless(int& argc, char** argv);

}  // namespace qv
