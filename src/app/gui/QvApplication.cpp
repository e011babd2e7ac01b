#include "app/gui/QvApplication.h"

namespace qv {

TQvApplication::TQvApplication(int& argc, char** argv) : TGuardedApplication(argc, argv) {}

}  // namespace qv
