#include <gtest/gtest.h>

#include "app/service/CoreApplication.h"

// The service runs on a core application object, as it does without a window.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qv::TQvCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
