#include "container/Rfc1123Date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using container::RFC1123::dateFromRFC1123;
using container::RFC1123::rfc1123String;

namespace {

// Sets the process's time zone for the life of the object.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (previous_) setenv("TZ", previous_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

// Seconds east of UTC that local time has at the instant (proves a zone is really in force).
long localOffset(time_t at) {
  struct tm local {};
  localtime_r(&at, &local);
  return local.tm_gmtoff;
}

struct Instant {
  double seconds;
  const char* rfc1123;
  const char* rfc850;
  const char* asctime;
};

const Instant kWinter{784111777, "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                      "Sun Nov  6 08:49:37 1994"};
const Instant kSummer{1721046896, "Mon, 15 Jul 2024 12:34:56 GMT", "Monday, 15-Jul-24 12:34:56 GMT",
                      "Mon Jul 15 12:34:56 2024"};

}  // namespace

TEST(Rfc1123Date, ThreeFormsAreReadAsGmtInEveryTimeZone) {
  for (const char* zone : {"UTC", "Asia/Shanghai", "America/New_York"}) {
    TimeZone tz(zone);
    if (std::string(zone) == "Asia/Shanghai") {
      ASSERT_EQ(localOffset(1721046896), 8 * 3600);
    }
    if (std::string(zone) == "America/New_York") {
      ASSERT_EQ(localOffset(1721046896), -4 * 3600);  // summer time
    }
    for (const Instant& instant : {kWinter, kSummer}) {
      EXPECT_EQ(dateFromRFC1123(instant.rfc1123), instant.seconds) << zone;
      EXPECT_EQ(dateFromRFC1123(instant.rfc850), instant.seconds) << zone;
      EXPECT_EQ(dateFromRFC1123(instant.asctime), instant.seconds) << zone;
      EXPECT_EQ(rfc1123String(instant.seconds), instant.rfc1123) << zone;
      EXPECT_EQ(dateFromRFC1123(*rfc1123String(instant.seconds)), instant.seconds) << zone;
    }
  }
}

TEST(Rfc1123Date, WritingTakesTheWholeSecondHoldingTheInstant) {
  EXPECT_EQ(rfc1123String(784111777.999), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(rfc1123String(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(rfc1123String(-0.5), "Wed, 31 Dec 1969 23:59:59 GMT");
  EXPECT_EQ(rfc1123String(253402300800.0), "Sat, 01 Jan 10000 00:00:00 GMT");
  EXPECT_EQ(rfc1123String(1e14), std::nullopt);  // a year too long for the 32-byte text
  EXPECT_EQ(rfc1123String(NAN), std::nullopt);
  EXPECT_EQ(rfc1123String(INFINITY), std::nullopt);
}

TEST(Rfc1123Date, ZonesYearsAndTextThatIsNoDate) {
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 08:49:37 UTC"), kWinter.seconds);
  EXPECT_EQ(dateFromRFC1123("Sunday, 06 Nov 1994 08:49:37 GMT"), kWinter.seconds);  // full day name
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 08:49:37 GMT; extra"), kWinter.seconds);
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 08:49:37 PST"), std::nullopt);
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 08:49:37 GMTX"), std::nullopt);
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 08:49:37"), std::nullopt);  // a zone is required
  EXPECT_EQ(dateFromRFC1123("Sunday, 01-Jan-68 00:00:00 GMT"), 3092601600.0);  // 2068
  EXPECT_EQ(dateFromRFC1123("Wednesday, 01-Jan-69 00:00:00 GMT"), -31536000.0);  // 1969
  EXPECT_EQ(dateFromRFC1123("Sun, 06 Nov 1994 25:49:37 GMT"), std::nullopt);
  EXPECT_EQ(dateFromRFC1123(""), std::nullopt);
  EXPECT_EQ(dateFromRFC1123("yesterday"), std::nullopt);
  EXPECT_EQ(dateFromRFC1123(std::nullopt), std::nullopt);
  EXPECT_EQ(dateFromRFC1123(std::string_view("Sun, 06 Nov\0 1994 08:49:37 GMT", 30)), std::nullopt);
}
