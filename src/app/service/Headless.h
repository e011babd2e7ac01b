#pragma once

namespace qv {

// quorvex --headless: the service on a core application (no platform plugin, no widgets)
// reporting to standard output, until SIGTERM or SIGINT. The exit code of the event loop.
int RunHeadless(int& argc, char** argv);

// quorvex --check: the database of datalink.ini against the procedures the service calls,
// reported on standard output; no window, no lock, no serial port. The check's status.
int RunDatabaseCheck();

}  // namespace qv
