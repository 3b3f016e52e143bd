// Answer records made from bare bytes, and the empty-object and default rules of the API layer.

#include <gtest/gtest.h>

#include "app/TnqURLResponse.h"
#include "platform/net/UrlError.h"

using namespace app;

TEST(ApiValues, EmptyObjectsAndDefaultsCompareKinds) {
  using TnqNetworkError::defaultValue;
  using TnqNetworkError::isEmptyObject;
  EXPECT_TRUE(isEmptyObject(nullptr));
  EXPECT_TRUE(isEmptyObject(""));
  EXPECT_TRUE(isEmptyObject(pf::Value::array()));
  EXPECT_FALSE(isEmptyObject(pf::Value::object()));
  EXPECT_FALSE(isEmptyObject(0));
  EXPECT_FALSE(isEmptyObject(pf::makeData({})));

  EXPECT_EQ(defaultValue("", ""), "");
  EXPECT_EQ(defaultValue("text", ""), "text");
  EXPECT_EQ(defaultValue(5, ""), "");
  EXPECT_EQ(defaultValue(nullptr, ""), "");
  EXPECT_EQ(defaultValue(2.5, 0), 2.5);  // any number is of the number kind
  EXPECT_EQ(defaultValue(true, 0), true);
  EXPECT_EQ(defaultValue(pf::Value::array({1}), pf::Value::array()), pf::Value::array({1}));
  EXPECT_EQ(defaultValue(pf::Value::array(), pf::Value::array({0})), pf::Value::array({0}));
  EXPECT_EQ(defaultValue(pf::makeData({1}), ""), "");
  EXPECT_EQ(defaultValue(pf::makeDate(0), pf::makeData({})), pf::makeData({}));
}

TEST(ApiValues, RecordsOfBareBytes) {
  auto json = TnqURLResponse::initWithData(pf::toBytes(R"([1,{"a":"é"}])"));
  EXPECT_EQ(json->status, TnqURLResponse::Success);
  EXPECT_EQ(json->requestId, 0);
  EXPECT_FALSE(json->request);
  EXPECT_EQ(json->content, (pf::Value::array({1, {{"a", "é"}}})));
  EXPECT_EQ(json->contentString, R"([1,{"a":"é"}])");

  for (const std::string& bytes : {std::string(), std::string("\"text\""), std::string("{\"a\":"),
                                  std::string("\xff{}", 3), std::string("{\"a\":\"\xc3\"}")}) {
    auto r = TnqURLResponse::initWithData(pf::toBytes(bytes));
    EXPECT_FALSE(r->content) << bytes;
    ASSERT_TRUE(r->responseData) << bytes;
    EXPECT_EQ(*r->responseData, pf::toBytes(bytes));
  }
  EXPECT_EQ(TnqURLResponse::initWithData(pf::toBytes("\xff"))->contentString, "");

  EXPECT_EQ(TnqURLResponse::responseStatusWithError(std::nullopt), TnqURLResponse::Success);
  EXPECT_EQ(TnqURLResponse::responseStatusWithError(pf::makeUrlError(pf::UrlErrorCode::kTimedOut, std::nullopt)),
            TnqURLResponse::TimedOut);
  EXPECT_EQ(TnqURLResponse::responseStatusWithError(pf::makeUrlError(pf::UrlErrorCode::kCancelled, std::nullopt)),
            TnqURLResponse::Failed);
  // A success record stays one whatever status it is given.
  EXPECT_EQ(TnqURLResponse::initWithResponse("x", 3, std::nullopt, nullptr, 2)->status, TnqURLResponse::Success);
}
