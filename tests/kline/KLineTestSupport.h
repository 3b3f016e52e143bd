#pragma once
// Shared pieces of the chart tests: the Python series peer and a fixed local time zone.

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"
#include "kline/TradeModel.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

namespace klinetest {

inline std::string peerScript() { return (fxtest::sourceDir() / "tools/kline_series.py").string(); }

// The Python peer's series (see tools/kline_series.py "rows").
inline pf::Value pythonSeries(int seed, int count, const std::string& zone, int available) {
  fxtest::ChildProcess child({fxtest::kPython, peerScript(), "rows", std::to_string(seed), std::to_string(count), zone,
                              std::to_string(available)});
  std::optional<std::string> line = child.readLine(30000);
  if (!line) return pf::Value();
  return pf::parseJson(std::string_view(*line)).value_or(pf::Value());
}

inline pf::Bytes packetField(const pf::Value& series, const char* key) {
  return pf::base64DecodeStrict(series[key].get<std::string>()).value_or(pf::Bytes());
}

// Compares decoded rows against the peer's rows, field by field.
inline void expectRowsMatch(const kline::TradeRows& rows, const pf::Value& expected) {
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& r = *rows[i];
    const auto& e = expected[i];
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(r.open, e["open"].get<std::string>());
    EXPECT_EQ(r.close, e["close"].get<std::string>());
    EXPECT_EQ(r.low, e["low"].get<std::string>());
    EXPECT_EQ(r.high, e["high"].get<std::string>());
    EXPECT_EQ(r.date.value_or("(nil)"), e["date"].get<std::string>());
    EXPECT_DOUBLE_EQ(r.timestamp, e["timestamp"].get<double>());
    for (auto [mine, key] : {std::pair{&r.MA5, "MA5"}, {&r.MA10, "MA10"}, {&r.MA20, "MA20"}}) {
      if (e[key].is_null())
        EXPECT_FALSE(mine->has_value()) << key;
      else
        EXPECT_EQ(mine->value_or("(nil)"), e[key].get<std::string>()) << key;
    }
  }
}

// Sets the default time zone for a test and restores Shanghai after it.
class ZoneScope {
 public:
  explicit ZoneScope(const std::string& zone) { EXPECT_TRUE(pf::setDefaultTimeZone(zone)); }
  ~ZoneScope() { pf::setDefaultTimeZone("Asia/Shanghai"); }
};

// Makes another locale the user's for a test and restores the one before.
class LocaleScope {
 public:
  explicit LocaleScope(const std::string& identifier) : before_(pf::currentLocaleIdentifier()) {
    EXPECT_TRUE(pf::setCurrentLocaleIdentifier(identifier));
  }
  ~LocaleScope() { pf::setCurrentLocaleIdentifier(before_); }

 private:
  std::string before_;
};

}  // namespace klinetest
