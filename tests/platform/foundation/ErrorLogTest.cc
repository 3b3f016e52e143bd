#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"

namespace pf {
namespace {

TEST(Error, DescriptionFallsBackToDomainAndCode) {
  Error plain("NSURLErrorDomain", -1001);
  EXPECT_EQ(plain.localizedDescription(), "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1001.)");
  Error described("SqDatabase", 1, {{kLocalizedDescriptionKey, "no such table: t"}});
  EXPECT_EQ(described.localizedDescription(), "no such table: t");
}

TEST(Log, CapturesNestAndRestore) {
  LogCapture outer;
  logLine("one");
  {
    LogCapture inner;
    logLine("two");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"two"});
  }
  logLine("three");
  EXPECT_EQ(outer.lines(), (std::vector<std::string>{"one", "three"}));
}

TEST(Log, SwallowedExceptionsReachTheObserverUnlessTheLogIsCaptured) {
  std::vector<std::string> heard;
  auto previous = setUncaughtExceptionObserver([&](std::string_view line) { heard.emplace_back(line); });
  try {
    throw std::runtime_error("lost");
  } catch (...) {
    logCurrentException("a test block");
  }
  logLine("an ordinary line");
  {
    LogCapture expected;
    EXPECT_EQ(callGuarded("a C callback", -1, []() -> int { throw 7; }), -1);
    EXPECT_TRUE(expected.contains("*** uncaught exception in a C callback"));
  }
  setUncaughtExceptionObserver(previous);
  EXPECT_EQ(heard, std::vector<std::string>{"*** uncaught exception in a test block: lost"});
}

}  // namespace
}  // namespace pf
