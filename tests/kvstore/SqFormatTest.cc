#include "kvstore/SqFormat.h"

#include <gtest/gtest.h>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqResultSet.h"
#include "platform/foundation/Log.h"

namespace kvstore {
namespace {

// The compile-time check of a literal format, as a value (a failing SqFormatString does not compile).
template <class... Args>
constexpr bool fits(std::string_view format) {
  constexpr SqArgumentTraits traits[] = {sqArgumentTraits<Args>()..., SqArgumentTraits{}};
  std::size_t k = 0;
  bool ok = true;
  scanSqFormat(
      format, [](char) {},
      [&](SqConversion c) {
        if (k >= sizeof...(Args) || !sqAccepts(c, traits[k])) ok = false;
        ++k;
      });
  return ok && k == sizeof...(Args);
}

static_assert(fits<int, const char*, SqValue>("a = %d and b = %s and c = %@"));
static_assert(fits<short, unsigned short, std::int64_t, std::uint64_t>("%hi %hu %qi %qu"));
static_assert(fits<int, unsigned, long long, unsigned long>("%ld %lu %lld %llu"));
static_assert(fits<float, double, char>("%f %g %c"));
static_assert(fits<std::string, std::string_view, std::nullptr_t>("%s %s %s"));
static_assert(fits<>("100%% done, %%d is literal"));
static_assert(!fits<long>("%d"));            // would not fit an int
static_assert(!fits<unsigned>("%d"));        // unsigned int does not fit an int
static_assert(!fits<int>("%u"));             // signed for an unsigned conversion
static_assert(!fits<double>("%d"));
static_assert(!fits<int>("%s"));
static_assert(!fits<const char*>("%d"));
static_assert(!fits<int>("%%d"));            // "%%" is forgotten: "%%d" takes nothing
static_assert(!fits<int, int>("%d"));        // more arguments than conversions
static_assert(!fits<int>("%d %d"));          // fewer
static_assert(!fits<int>("%lx"));            // no conversion: "lx" is text

std::pair<std::string, SqArguments> extract(std::string_view format, std::span<const SqFormatArgument> args) {
  std::string sql;
  SqArguments values;
  auto error = extractSqFormat(format, args, sql, values);
  EXPECT_FALSE(error) << *error;
  return {sql, values};
}

TEST(SqFormat, WritesAPlaceholderPerConversionAndBindsTheValue) {
  const int five = 5;
  const std::nullopt_t none = std::nullopt;
  const SqFormatArgument a[] = {sqFormatArgument(five), sqFormatArgument(none)};
  auto [sql, values] = extract("select %d, %@", a);
  EXPECT_EQ(sql, "select ?, NULL");
  EXPECT_EQ(values, SqArguments{SqValue::number(SqValue::NumberType::Int, 5)});

  const char* missing = nullptr;
  const SqFormatArgument b[] = {sqFormatArgument(missing)};
  auto [sql2, values2] = extract("100%% of %s, %%d", b);
  EXPECT_EQ(sql2, "100% of ?, %d");
  ASSERT_EQ(values2.size(), 1u);
  EXPECT_TRUE(values2[0].isNil());  // a missing text binds NULL

  const short s = -2;
  const unsigned short us = 3;
  const unsigned u = 4000000000u;
  const long l = -5;
  const unsigned long long ull = 18446744073709551615ull;
  const float f = 0.5f;
  const double d = 0.1;
  const char c = 'x';
  const SqFormatArgument all[] = {sqFormatArgument(s), sqFormatArgument(us), sqFormatArgument(u),
                                  sqFormatArgument(l), sqFormatArgument(ull), sqFormatArgument(f),
                                  sqFormatArgument(d), sqFormatArgument(c)};
  auto [sql3, values3] = extract("%hi%hu%U%lld%qu%f%g%c%h%l%q", all);
  EXPECT_EQ(sql3, "????????hlq");
  using N = SqValue::NumberType;
  EXPECT_EQ(values3, (SqArguments{SqValue::number(N::Short, -2), SqValue::unsignedNumber(N::UShort, 3),
                                  SqValue::unsignedNumber(N::UInt, 4000000000u), SqValue::number(N::LongLong, -5),
                                  SqValue::unsignedNumber(N::ULongLong, ull), SqValue::floatingNumber(N::Double, 0.5),
                                  SqValue::floatingNumber(N::Float, 0.1), SqValue("x")}));
}

TEST(SqFormat, RuntimeFormatsFailOnArgumentsThatDoNotFit) {
  auto db = SqDatabase::databaseWithPath(std::nullopt);
  ASSERT_TRUE(db->open());
  pf::LogCapture log;
  EXPECT_EQ(db->executeQueryWithFormat(sqRuntimeFormat("select %d, %d"), 1), nullptr);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Error: the format needs more than the 1 argument(s) given "
                                                  "(select %d, %d) (executeQueryWithFormat)"});
  log.clear();
  EXPECT_FALSE(db->executeUpdateWithFormat(sqRuntimeFormat("select %d"), std::string("text")));
  EXPECT_EQ(log.lines(), std::vector<std::string>{
                             "Error: argument 1 does not fit its conversion %d (select %d) (executeUpdateWithFormat)"});
  log.clear();
  EXPECT_FALSE(db->executeUpdateWithFormat(sqRuntimeFormat("select 1"), 1));
  EXPECT_TRUE(log.contains("1 arguments were given for 0 conversion(s)"));
}

TEST(SqFormat, FormatStatementsBindTheirValues) {
  auto db = SqDatabase::databaseWithPath(std::nullopt);
  ASSERT_TRUE(db->open());
  ASSERT_TRUE(db->executeUpdate("create table t (a, b, c)"));
  const std::string quote = "it's'; drop table t; --";
  ASSERT_TRUE(db->executeUpdateWithFormat("insert into t values (%d, %@, %s)", 5, nullptr, quote));
  ASSERT_TRUE(db->executeUpdateWithFormat("insert into t values (%ld, %@, %s)", 6, SqValue::null(), "x"));
  auto rs = db->executeQueryWithFormat("select a, b is null, c from t where a >= %d order by a", 5);
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 5);
  EXPECT_TRUE(rs->boolForColumnIndex(1));
  EXPECT_EQ(rs->stringForColumnIndex(2), quote);
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->stringForColumnIndex(2), "x");
  EXPECT_FALSE(rs->next());
  const std::string runtime = "select count(*) from t where c = %@";
  auto count = db->executeQueryWithFormat(sqRuntimeFormat(runtime), std::string("x"));
  ASSERT_TRUE(count && count->next());
  EXPECT_EQ(count->intForColumnIndex(0), 1);
}

}  // namespace
}  // namespace kvstore
