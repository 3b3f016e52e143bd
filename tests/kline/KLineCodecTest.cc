#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>

#include "kline/KLineTestSupport.h"
#include "kline/SeriesEncoder.h"
#include "kline/KLineCodec.h"
#include "kline/KLineDataManager.h"
#include "kline/KLineFormatDate.h"

using namespace kline;
using klinetest::fromHex;

TEST(KLineCodec, HandWorkedPacketsDecodeOnlyTheirBits) {
  Huffman h;
  EXPECT_EQ(h.uncompress(fromHex("000000010000000000000008" "04")), (std::vector<std::string>{"9-"}));
  // Four bits of eight: the padding zeros would read "9".
  EXPECT_EQ(h.uncompress(fromHex("000000010000000000000004" "30")), (std::vector<std::string>{"0"}));
  EXPECT_EQ(h.uncompress(fromHex("00000002" "00000000" "0000008c" "2f6f2793cf79941ce8f3c3e11f4f861a3330"
                                 "00000000" "00000036" "ee7994d6779ed8")),
            (std::vector<std::string>{"654#0#0#12#-7#30#20260102093000", "1#2#-3#4#1h"}));
  EXPECT_EQ(h.dataArray().size(), 2u);
}

TEST(KLineCodec, PacketsShorterThanTheirCountsStopAtTheEnd) {
  Huffman h;
  EXPECT_TRUE(h.uncompress(fromHex("00000000")).empty());
  EXPECT_TRUE(h.uncompress(fromHex("0000")).empty());
  // A count far above the records present, and a record whose bit length runs past the end.
  pf::Bytes p = klinetest::packetOf({"1#2", "3#4"});
  p[0] = 0xff;
  EXPECT_EQ(h.uncompress(p), (std::vector<std::string>{"1#2", "3#4"}));
  pf::Bytes cut = klinetest::packetOf({"1#2", "3#4"});
  cut.resize(cut.size() - 1);
  EXPECT_EQ(h.uncompress(cut), (std::vector<std::string>{"1#2"}));
  pf::Bytes huge = fromHex("000000010000000080000000ff");
  EXPECT_TRUE(h.uncompress(huge).empty());
  // A record of three bits matches no code: decoding ends there, before later records.
  pf::Bytes p3 = fromHex("00000002" "00000000" "00000003" "e0");
  klinetest::appendRecord(p3, "5");
  EXPECT_TRUE(h.uncompress(p3).empty());
}

TEST(KLineCodec, BitTextsAndSymbolSearch) {
  EXPECT_EQ(toDecimalSystemWithBinarySystem(""), 0);
  EXPECT_EQ(toDecimalSystemWithBinarySystem("101"), 5);
  EXPECT_EQ(toDecimalSystemWithBinarySystem(std::string(32, '1')), 4294967295ll);
  Huffman h;
  // x (31, 6 bits) and 8 (31, 5 bits) share a value: the length decides.
  EXPECT_EQ(h.getCode("011111" "11111"), "x8");
  std::string out;
  EXPECT_EQ(h.getOneCode("0100", out), 4);
  EXPECT_EQ(out, "-");
  EXPECT_EQ(h.getOneCode("111"), "");
  EXPECT_EQ(h.getOneCode(""), "");
  for (const auto& e : huffmanTable()) EXPECT_EQ(h.getCode(klinetest::codeOf(e.symbol)), std::string(1, e.symbol));
}

TEST(KLineCodec, InflateRefusesBrokenAndOversizedStreams) {
  EXPECT_EQ(unCompressGzip({}), pf::Bytes());
  EXPECT_FALSE(unCompressGzip({0x1f}));
  pf::Bytes text(100000, 'a');
  pf::Bytes gz = klinetest::deflateBytes(text);
  EXPECT_EQ(unCompressGzip(gz), text);
  EXPECT_EQ(unCompressGzip(klinetest::deflateBytes(text, 15)), text);
  pf::Bytes cut(gz.begin(), gz.begin() + static_cast<long>(gz.size() / 2));
  EXPECT_FALSE(unCompressGzip(cut));
  pf::Bytes bomb = klinetest::deflateBytes(pf::Bytes(kMaxInflatedBytes + 1, 0));
  EXPECT_FALSE(unCompressGzip(bomb));
  EXPECT_EQ(unCompressGzip(klinetest::deflateBytes(pf::Bytes(kMaxInflatedBytes, 7)))->size(), kMaxInflatedBytes);
}

TEST(KLineCodec, OffsetsAndDates) {
  klinetest::LocaleScope gregorian("en_US_POSIX");  // the texts expected are Gregorian, in ASCII digits
  klinetest::ZoneScope zone("Asia/Shanghai");
  EXPECT_EQ(TradeModel::getTime("1d"), 86400);
  EXPECT_EQ(TradeModel::getTime("2h30m"), 9000);
  EXPECT_EQ(TradeModel::getTime("45s"), 45);
  EXPECT_EQ(TradeModel::getTime("1d2h3m4s"), 93784);
  EXPECT_EQ(TradeModel::getTime(""), 0);
  EXPECT_EQ(TradeModel::getTime("xh"), 0);
  // Texts out of the usual order or form read as the general rule reads them.
  EXPECT_EQ(TradeModel::getTime("1h30"), 3600);
  EXPECT_EQ(TradeModel::getTime("5"), 0);
  EXPECT_EQ(TradeModel::getTime("1h2d"), 86400);
  EXPECT_EQ(TradeModel::getTime("1d1d"), 86400);
  EXPECT_EQ(TradeModel::getTime("30m1h"), 108000);
  EXPECT_EQ(TradeModel::getTime("-5m7s"), -293);
  EXPECT_EQ(TradeModel::getTime("2h 3m"), 7380);
  EXPECT_EQ(TradeModel::getTime("999999999999999999d"), static_cast<std::int64_t>(999999999999999999ull * 86400ull));
  EXPECT_EQ(TradeModel::getTime("99999999999999999999d1s"), static_cast<std::int64_t>(9223372036854775807ull * 86400ull + 1));
  // Integers past 64 bits saturate, however far past.
  EXPECT_EQ(integerValueOf("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(integerValueOf("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(integerValueOf("20000000000000000000"), INT64_MAX);
  EXPECT_EQ(integerValueOf("-20000000000000000000"), INT64_MIN);
  EXPECT_EQ(integerValueOf(" -42x"), -42);
  EXPECT_EQ(KLineFormatDate::changeDate("20260102093000"), "2026-01-02 09:30:00");
  EXPECT_EQ(KLineFormatDate::getDate("20260102093000"), 1767317400.0);
  EXPECT_FALSE(KLineFormatDate::getDate("2026-01-02"));
  EXPECT_EQ(KLineFormatDate::getDateMonString(1767317400.0), "2026-01");
  EXPECT_EQ(KLineFormatDate::getDateHourString(1767317400.0), "2026-01-02 09");
  {
    klinetest::ZoneScope berlin("Europe/Berlin");
    EXPECT_EQ(KLineFormatDate::getDateMinString(1767317400.0), "2026-01-02 02:30");
  }
}

TEST(KLineCodec, RowsOfTheHandWorkedSeries) {
  klinetest::LocaleScope gregorian("en_US_POSIX");  // the texts expected are Gregorian, in ASCII digits
  klinetest::ZoneScope zone("Asia/Shanghai");
  auto m = KLineDataManager::make();
  m->setAvailable(2);
  auto rows = m->decode(klinetest::deflateBytes(fromHex(
      "00000002" "00000000" "0000008c" "2f6f2793cf79941ce8f3c3e11f4f861a3330" "00000000" "00000036" "ee7994d6779ed8")));
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 2u);
  const TradeModel& r0 = *(*rows)[0];
  EXPECT_EQ(r0.open, "6.540000");
  EXPECT_EQ(r0.close, "6.660000");
  EXPECT_EQ(r0.low, "6.470000");
  EXPECT_EQ(r0.high, "6.840000");
  EXPECT_EQ(r0.date, "2026-01-02 09:30:00");
  EXPECT_FALSE(r0.MA5);
  EXPECT_EQ((*rows)[1]->open, "6.550000");
  EXPECT_EQ((*rows)[1]->timestamp, r0.timestamp + 3600);
  EXPECT_EQ((*rows)[1]->date, "2026-01-02 10:30:00");
  EXPECT_EQ(m->basePrice, 654);
  EXPECT_EQ(r0.description(),
            "trade high = 6.840000,open = 6.540000 , close = 6.660000,low = 6.470000,date = 2026-01-02 09:30:00,"
            "timestamp = 1767317400.000000,MA5 = (null),MA10 = (null),MA20 = (null)");
}

// Server times are Gregorian with ASCII digits whatever the user's calendar; the row's date
// texts follow the user's locale.
TEST(KLineCodec, ServerTimesReadTheSameUnderEveryCalendar) {
  klinetest::ZoneScope zone("Asia/Shanghai");
  const pf::Bytes packet = klinetest::deflateBytes(klinetest::packetOf({"654#0#0#12#-7#30#20260102093000", "1#2#-3#4#1h"}));
  for (const char* user : {"th_TH", "fa_IR", "ar_EG"}) {
    SCOPED_TRACE(user);
    klinetest::LocaleScope locale(user);
    EXPECT_EQ(KLineFormatDate::getDate("20260102093000"), 1767317400.0);
    auto m = KLineDataManager::make();
    auto rows = m->decode(packet);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0]->timestamp, 1767317400.0);
    EXPECT_EQ((*rows)[1]->timestamp, 1767317400.0 + 3600);
    EXPECT_EQ(m->baseTimestamp, 1767317400.0);
    pf::DateFormatter shown("yyyy-MM-dd HH:mm:ss", pf::currentLocaleIdentifier());
    EXPECT_EQ((*rows)[0]->date, shown.string(1767317400.0));
    EXPECT_EQ((*rows)[1]->date, shown.string(1767317400.0 + 3600));
    EXPECT_EQ(KLineFormatDate::changeDate("20260102093000"), shown.string(1767317400.0));
  }
  klinetest::LocaleScope thai("th_TH");
  EXPECT_EQ(KLineFormatDate::getDateDayString(1767317400.0), "2569-01-02");
}

TEST(KLineCodec, OddRecordsStillMakeRows) {
  auto m = KLineDataManager::make();
  // Fields that do not match read 0; a first record without a time has none; offsets without
  // units add nothing; delta + base beyond 32 bits does not wrap.
  auto rows = m->decode(klinetest::deflateBytes(klinetest::packetOf({"2147483647#0#2147483647#x", "5", "1#1#1#1#9"})));
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 3u);
  EXPECT_EQ((*rows)[0]->open, "429496.729400");
  EXPECT_EQ((*rows)[0]->close, "214748.364700");
  EXPECT_FALSE((*rows)[0]->date);
  EXPECT_EQ((*rows)[0]->timestamp, 0);
  EXPECT_EQ((*rows)[1]->open, "214748.365200");  // "5" reads as the open delta alone
  EXPECT_EQ((*rows)[2]->timestamp, 0);
}

// Series made by the Python peer, gzip'd by Python, zlib and GNU gzip, in a fixed zone and in
// one with daylight saving.
TEST(KLineCodec, PythonSeriesDecodeToPythonRows) {
  klinetest::LocaleScope gregorian("en_US_POSIX");  // the texts expected are Gregorian, in ASCII digits
  for (auto [zone, seed, count, places] : {std::tuple{"Asia/Shanghai", 7, 120, 4}, {"Europe/Berlin", 11, 300, 5},
                                           {"America/New_York", 3, 25, 2}}) {
    SCOPED_TRACE(zone);
    klinetest::ZoneScope scope(zone);
    pf::Value series = klinetest::pythonSeries(seed, count, zone, places);
    ASSERT_TRUE(series.is_object());
    for (const char* key : {"gzip", "zlib", "gnu"}) {
      SCOPED_TRACE(key);
      auto m = KLineDataManager::make();
      m->setAvailable(places);
      auto rows = m->decode(klinetest::packetField(series, key));
      ASSERT_TRUE(rows);
      klinetest::expectRowsMatch(*rows, series["rows"]);
      EXPECT_EQ(m->tradeArray().size(), static_cast<std::size_t>(count));
    }
  }
}

TEST(KLineCodec, FormattersFollowTheZoneOnEveryThread) {
  klinetest::LocaleScope gregorian("en_US_POSIX");  // the texts expected are Gregorian, in ASCII digits
  klinetest::ZoneScope zone("Asia/Shanghai");
  std::string here = KLineFormatDate::getDateString(0);
  std::string there;
  {
    klinetest::ZoneScope utc("UTC");
    std::thread([&] { there = KLineFormatDate::getDateString(0); }).join();
    EXPECT_EQ(KLineFormatDate::getDateString(0), "19700101000000");
  }
  EXPECT_EQ(here, "19700101080000");
  EXPECT_EQ(there, "19700101000000");
  EXPECT_FALSE(pf::setDefaultTimeZone("Nowhere/Atlantis"));
}

// The row texts made without printf or a formatter are the ones printf and ICU make.
TEST(KLineCodec, FastTextsMatchTheGeneralOnes) {
  for (std::int64_t places = 0; places <= 10; ++places)
    for (std::int64_t units : {0ll, 1ll, -1ll, 654ll, -7ll, 2147483647ll, -2147483648ll, 4294967294ll, 99999999ll,
                               123456789012ll, -5ll}) {
      char expected[512];
      std::snprintf(expected, sizeof expected, "%f", static_cast<double>(units) / std::pow(10.0, static_cast<double>(places)));
      EXPECT_EQ(priceText(units, places), expected) << units << " / 10^" << places;
    }
  for (const char* zone : {"Europe/Berlin", "Australia/Lord_Howe", "Asia/Kathmandu", "America/St_Johns", "UTC"}) {
    klinetest::ZoneScope scope(zone);
    pf::DateFormatter icu("yyyy-MM-dd HH:mm:ss", pf::currentLocaleIdentifier());
    for (double t = 1767225600.0 - 86400 * 3; t < 1767225600.0 + 86400 * 365; t += 3613.7)
      ASSERT_EQ(KLineFormatDate::formatLocal(t, "yyyy-MM-dd HH:mm:ss"), icu.string(t)) << zone << " " << t;
    for (double t : {-11676096000.0 - 1, -1.5, 0.0, 253402214399.0, 253402300800.0, 1e15})
      EXPECT_EQ(KLineFormatDate::formatLocal(t, "yyyy-MM-dd HH:mm:ss"), icu.string(t)) << zone << " " << t;
    // Second by second across the spring and autumn changes, forwards and backwards, and
    // instants far apart in turn.
    for (double change : {1774746000.0, 1792890000.0}) {
      for (double t = change - 5400; t < change + 5400; t += 0.5)
        ASSERT_EQ(KLineFormatDate::formatLocal(t, "yyyy-MM-dd HH:mm:ss"), icu.string(t)) << zone << " " << t;
      for (double t = change + 5400; t > change - 5400; t -= 1)
        ASSERT_EQ(KLineFormatDate::formatLocal(t, "yyyy-MM-dd HH:mm:ss"), icu.string(t)) << zone << " " << t;
    }
    for (double t : {-2208988800.0, 1774746000.0, -1e9, 1792890000.0 - 1, 4102444800.0, 1774746000.0 - 0.5})
      EXPECT_EQ(KLineFormatDate::formatLocal(t, "yyyy-MM-dd HH:mm:ss"), icu.string(t)) << zone << " " << t;
  }
}
