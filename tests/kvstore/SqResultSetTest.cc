#include "kvstore/SqResultSet.h"

#include <gtest/gtest.h>

#include "kvstore/SqDatabase.h"
#include "kvstore/SqStatement.h"
#include "platform/foundation/Log.h"

namespace kvstore {
namespace {

class SqResultSetTest : public testing::Test {
 protected:
  void SetUp() override {
    db = SqDatabase::databaseWithPath(std::nullopt);
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate("create table t (id integer, json text, f real, b blob, n)"));
    ASSERT_TRUE(db->executeUpdate("insert into t values (2, '0', 1.5, x'0102', null)"));
  }
  std::shared_ptr<SqDatabase> db;
};

TEST_F(SqResultSetTest, NoRowsClosesQuietly) {
  pf::LogCapture log;
  auto rs = db->executeQuery("select * from t where id = 99");
  ASSERT_TRUE(rs);
  EXPECT_TRUE(db->hasOpenResultSets());
  EXPECT_FALSE(rs->next());
  EXPECT_TRUE(log.lines().empty());
  EXPECT_FALSE(db->hasOpenResultSets());
  EXPECT_EQ(rs->statement(), nullptr);
  rs->close();  // a second close does nothing
  EXPECT_EQ(rs->intForColumnIndex(0), 0);
  EXPECT_EQ(rs->stringForColumnIndex(0), std::nullopt);
}

TEST_F(SqResultSetTest, ReadsColumnsByIndexAndCaseInsensitiveName) {
  auto rs = db->executeQuery("select * from t");
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->stringForColumn("JSON"), "0");
  EXPECT_FALSE(rs->boolForColumn("json"));  // the text "0"
  EXPECT_TRUE(rs->boolForColumn("Id"));     // the integer 2
  EXPECT_EQ(rs->longLongIntForColumn("id"), 2);
  EXPECT_EQ(rs->doubleForColumn("f"), 1.5);
  EXPECT_EQ(rs->dataForColumn("b"), (pf::Bytes{1, 2}));
  auto noCopy = rs->dataNoCopyForColumn("b");
  ASSERT_TRUE(noCopy);
  EXPECT_EQ(noCopy->size(), 2u);
  EXPECT_STREQ(rs->UTF8StringForColumnName("json"), "0");
  EXPECT_EQ(rs->columnNameForIndex(1), "json");
  EXPECT_EQ(rs->columnCount(), 5);

  EXPECT_TRUE(rs->columnIsNull("n"));
  EXPECT_EQ(rs->stringForColumn("n"), std::nullopt);
  EXPECT_TRUE(rs->objectForColumnName("n").isNull());  // the null marker, never nil
  EXPECT_EQ(rs->dateForColumn("n"), std::nullopt);
  EXPECT_EQ((*rs)[0], SqValue(std::int64_t{2}));
  EXPECT_EQ((*rs)["f"], SqValue(1.5));
  EXPECT_EQ((*rs)["b"], SqValue(pf::Bytes{1, 2}));
  EXPECT_EQ((*rs)["json"], SqValue("0"));

  pf::LogCapture log;
  EXPECT_EQ(rs->dateForColumn("Missing"), std::nullopt);
  EXPECT_EQ(rs->intForColumn("missing"), 0);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Warning: I could not find the column named 'missing'.",
                                                   "Warning: I could not find the column named 'missing'."}));
}

TEST_F(SqResultSetTest, RowsAsDictionaries) {
  auto rs = db->executeQuery("select id as ID, n, id as Id from t");
  pf::LogCapture log;
  EXPECT_EQ(rs->resultDictionary(), std::nullopt);  // no row yet
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Warning: There seem to be no columns in this set."});
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->resultDictionary(),
            (SqDictionary{{"ID", SqValue(std::int64_t{2})}, {"n", SqValue::null()}, {"Id", SqValue(std::int64_t{2})}}));
  EXPECT_EQ(rs->resultDict(), (SqDictionary{{"id", SqValue(std::int64_t{2})}, {"n", SqValue::null()}}));
  std::vector<std::pair<std::string, std::string>> texts;
  rs->kvcMagic([&](const std::string& k, const std::string& v) { texts.emplace_back(k, v); });
  EXPECT_EQ(texts, (std::vector<std::pair<std::string, std::string>>{{"ID", "2"}, {"Id", "2"}}));
}

TEST_F(SqResultSetTest, KeepsItsConnectionAliveAndLeavesItsListOnClose) {
  std::weak_ptr<SqDatabase> weak = db;
  auto rs = db->executeQuery("select id from t");
  EXPECT_EQ(db->openResultSets(), std::vector<SqResultSet*>{rs.get()});
  EXPECT_EQ(rs->query(), "select id from t");
  db.reset();
  ASSERT_FALSE(weak.expired());
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 2);
  rs.reset();  // teardown closes the set and lets the connection go
  EXPECT_TRUE(weak.expired());
}

TEST_F(SqResultSetTest, AStatementInUseIsRefused) {
  auto statement = std::make_shared<SqStatement>();
  statement->setInUse(true);
  try {
    SqResultSet::resultSetWithStatement(statement, db);
    FAIL();
  } catch (const pf::Exception& e) {
    EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: ![statement inUse]");
  }
}

}  // namespace
}  // namespace kvstore
