#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "platform/foundation/Log.h"

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  testing::InitGoogleTest(&argc, argv);
  // An exception swallowed at a boundary (a queued block, a thread, a C callback) fails the test
  // that was running; a test expecting one captures the log instead.
  pf::setUncaughtExceptionObserver(
      [](std::string_view line) { ADD_FAILURE() << "logged: " << std::string(line); });
  return RUN_ALL_TESTS();
}
