#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pf
