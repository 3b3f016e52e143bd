// Request and response serializers: escaping, flattening, default headers, validation with
// chained errors, JSON decoding, archiving and copying.

#include <gtest/gtest.h>

#include <fstream>

#include "appnet/TnqURLRequestSerialization.h"
#include "appnet/TnqURLResponseSerialization.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/UrlError.h"
#include "platform/ui/Screen.h"
#include "support/TestSupport.h"

using namespace appnet;

namespace {

std::string bodyText(const pf::UrlRequest& request) {
  return request.httpBody() ? pf::toString(*request.httpBody()) : std::string();
}

pf::UrlResponse response(int status, const std::string& contentType, const std::string& url = "http://127.0.0.1/x") {
  pf::HttpHeaders headers;
  if (!contentType.empty()) headers.set("Content-Type", contentType);
  return pf::UrlResponse(*pf::Url::parse(url), status, headers);
}

struct Languages {
  explicit Languages(std::vector<std::string> languages) {
    pf::Value list = pf::Value::array();
    for (auto& l : languages) list.push_back(l);
    pf::UserDefaults::standard()->setObject("AppleLanguages", list);
  }
  ~Languages() { pf::UserDefaults::standard()->removeObject("AppleLanguages"); }
};

}  // namespace

TEST(RequestSerializer, EscapesKeysAndValuesAsTheQueryRulesSay) {
  auto e = [](std::string_view text, bool key) { return TnqPercentEscapedStringFromString(text, kTnqUTF8StringEncoding, key); };
  EXPECT_EQ(e("a/b?c", false), "a%2Fb%3Fc");
  EXPECT_EQ(e("~x_y-z.w", false), "~x_y-z.w");
  EXPECT_EQ(e("k:1", true), "k%3A1");
  EXPECT_EQ(e("[x]", false), "%5Bx%5D");
  EXPECT_EQ(e("k[x]", true), "k[x]");
  EXPECT_EQ(e("100%", false), "100%25");
  EXPECT_EQ(e("x y", false), "x%20y");
  EXPECT_EQ(e("\xE4\xB8\xAD", false), "%E4%B8%AD");  // one escape per UTF-8 byte
  EXPECT_EQ(e("\xC3\xA9", false), "%C3%A9");
  EXPECT_EQ(TnqPercentEscapedStringFromString("\xC3\xA9", kTnqISOLatin1StringEncoding, false), "%E9");
}

TEST(RequestSerializer, FlattensNestedParametersInSortedOrder) {
  pf::Value parameters = pf::Value::object();
  parameters["user"] = pf::Value{{"tags", pf::Value::array({"x", "y"})}, {"name", "n"}};
  parameters["Zeta"] = 1;
  parameters["empty"] = nullptr;
  EXPECT_EQ(TnqQueryStringFromParametersWithEncoding(parameters, kTnqUTF8StringEncoding),
            "Zeta=1&empty&user[name]=n&user[tags][]=x&user[tags][]=y");
  EXPECT_EQ(TnqQueryStringFromParametersWithEncoding(pf::Value::object(), kTnqUTF8StringEncoding), "");
}

TEST(RequestSerializer, PutsParametersInTheUrlOrTheBodyByMethod) {
  auto serializer = TnqHTTPRequestSerializer::serializer();
  pf::Value parameters{{"b", 1}, {"a", "x y"}};
  auto get = serializer->requestWithMethod("GET", "http://127.0.0.1/list", parameters);
  ASSERT_TRUE(get);
  EXPECT_EQ(get->url()->absoluteString(), "http://127.0.0.1/list?a=x%20y&b=1");
  EXPECT_FALSE(get->httpBody());

  auto lower = serializer->requestWithMethod("get", "http://127.0.0.1/list?z=0", parameters);
  EXPECT_EQ(lower->url()->absoluteString(), "http://127.0.0.1/list?z=0&a=x%20y&b=1");

  auto post = serializer->requestWithMethod("POST", "http://127.0.0.1/list", parameters);
  EXPECT_EQ(bodyText(*post), "a=x%20y&b=1");
  EXPECT_EQ(post->valueForHttpHeaderField("Content-Type"), "application/x-www-form-urlencoded");

  auto none = serializer->requestWithMethod("GET", "http://127.0.0.1/list", std::nullopt);
  EXPECT_EQ(none->url()->absoluteString(), "http://127.0.0.1/list");
  // An empty dictionary still adds the separator, and the empty query survives the URL.
  auto empty = serializer->requestWithMethod("GET", "http://127.0.0.1/list#top", pf::Value::object());
  EXPECT_EQ(empty->url()->absoluteString(), "http://127.0.0.1/list?#top");
  EXPECT_EQ(empty->url()->query(), "");
  auto emptyAfter = serializer->requestWithMethod("GET", "http://127.0.0.1/list?z=0", pf::Value::object());
  EXPECT_EQ(emptyAfter->url()->absoluteString(), "http://127.0.0.1/list?z=0&");

  // A content type set on the serializer's defaults is never replaced.
  serializer->setValue("text/custom", "Content-Type");
  auto custom = serializer->requestWithMethod("POST", "http://127.0.0.1/list", parameters);
  EXPECT_EQ(custom->valueForHttpHeaderField("Content-Type"), "text/custom");

  auto json = TnqJSONRequestSerializer::serializer()->requestWithMethod("PUT", "http://127.0.0.1/j", parameters);
  EXPECT_EQ(json->valueForHttpHeaderField("Content-Type"), "application/json");
  EXPECT_EQ(pf::parseJson(bodyText(*json)), parameters);
  auto plist = TnqPropertyListRequestSerializer::serializer()->requestWithMethod("POST", "http://127.0.0.1/p", parameters);
  EXPECT_EQ(plist->valueForHttpHeaderField("Content-Type"), "application/x-plist");
  EXPECT_NE(bodyText(*plist).find("<plist"), std::string::npos);
}

TEST(RequestSerializer, RefusesBadUrlsAndReportsQueryBlockErrors) {
  auto serializer = TnqHTTPRequestSerializer::serializer();
  std::optional<pf::Error> error;
  EXPECT_FALSE(serializer->requestWithMethod("GET", "not a url", std::nullopt, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "com.tnq.error.serialization.request");
  EXPECT_EQ(error->code, pf::UrlErrorCode::kBadUrl);

  serializer->setQueryStringSerializationWithBlock([](const pf::UrlRequest&, const pf::Value&, std::optional<pf::Error>* e) {
    *e = pf::Error("Custom", 7);
    return std::optional<std::string>();
  });
  error.reset();
  EXPECT_FALSE(serializer->requestWithMethod("GET", "http://127.0.0.1/", pf::Value{{"a", 1}}, &error));
  EXPECT_EQ(error->domain, "Custom");

  // Header lines cannot be split through the default headers.
  EXPECT_FALSE(serializer->setValue("a\r\nX-Injected: 1", "X-Test"));
  EXPECT_FALSE(serializer->setValue("v", "X\nY"));
  EXPECT_FALSE(serializer->valueForHTTPHeaderField("X-Test"));
}

TEST(RequestSerializer, DefaultHeadersComeFromLanguagesBundleAndDevice) {
  {
    Languages languages({"zh-Hans", "en", "ja"});
    EXPECT_EQ(TnqHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("Accept-Language"),
              "zh-Hans;q=1, en;q=0.9, ja;q=0.8");
  }
  {
    Languages languages({"a", "b", "c", "d", "e", "f", "g", "h"});
    EXPECT_EQ(TnqHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("Accept-Language"),
              "a;q=1, b;q=0.9, c;q=0.8, d;q=0.7, e;q=0.6, f;q=0.5");
  }
  {
    Languages languages({});
    EXPECT_EQ(TnqHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("Accept-Language"), "");
  }
  fxtest::TempDir dir;
  {
    std::ofstream info(dir / "Info.plist");
    info << "{CFBundleExecutable = \"Caf\xC3\xA9\xE4\xB8\xAD\"; CFBundleShortVersionString = \"2.1\";}";
  }
  pf::Bundle::setMainPath(dir.path());
  pf::Screen::main()->setScale(3);
  auto serializer = TnqHTTPRequestSerializer::serializer();
  pf::Bundle::setMainPath({});
  pf::Screen::main()->reset();
  EXPECT_EQ(serializer->valueForHTTPHeaderField("User-Agent"), "Cafe zhong/2.1 (iPhone; iOS 9.0; Scale/3.00)");

  serializer->setAuthorizationHeaderFieldWithUsername("user", "pa:ss");
  EXPECT_EQ(serializer->valueForHTTPHeaderField("Authorization"), "Basic dXNlcjpwYTpzcw==");
  serializer->setAuthorizationHeaderFieldWithToken("abc");
  EXPECT_EQ(serializer->valueForHTTPHeaderField("Authorization"), "Token token=\"abc\"");
  serializer->clearAuthorizationHeader();
  EXPECT_FALSE(serializer->valueForHTTPHeaderField("Authorization"));
}

TEST(RequestSerializer, RequestPropertiesApplyOnlyOnceSetAndCopiesKeepHeadersOnly) {
  auto serializer = TnqHTTPRequestSerializer::serializer();
  EXPECT_EQ(serializer->requestWithMethod("GET", "http://127.0.0.1/", std::nullopt)->timeoutInterval(),
            pf::UrlRequest::kDefaultTimeoutInterval);
  serializer->setTimeoutInterval(30);
  serializer->setHTTPShouldHandleCookies(false);
  auto request = serializer->requestWithMethod("GET", "http://127.0.0.1/", std::nullopt);
  EXPECT_EQ(request->timeoutInterval(), 30);
  EXPECT_FALSE(request->httpShouldHandleCookies());

  serializer->setValue("1", "X-A");
  serializer->stringEncoding = kTnqISOLatin1StringEncoding;
  auto copy = serializer->copy();
  EXPECT_EQ(copy->valueForHTTPHeaderField("X-A"), "1");
  EXPECT_EQ(copy->stringEncoding, kTnqUTF8StringEncoding);
  EXPECT_TRUE(copy->mutableObservedChangedKeyPaths().empty());

  auto json = TnqJSONRequestSerializer::serializerWithWritingOptions(2);
  json->setValue("2", "X-B");
  auto back = TnqHTTPRequestSerializer::unarchive(pf::parseJson(pf::writeJson(json->archive()).value()).value());
  ASSERT_TRUE(std::dynamic_pointer_cast<TnqJSONRequestSerializer>(back));
  EXPECT_EQ(std::dynamic_pointer_cast<TnqJSONRequestSerializer>(back)->writingOptions, 2u);
  EXPECT_EQ(back->valueForHTTPHeaderField("X-B"), "2");
}

TEST(ResponseSerializer, ChecksStatusAndContentTypeWithChainedErrors) {
  auto json = TnqJSONResponseSerializer::serializer();
  pf::Bytes body = pf::toBytes("{\"k\":1}");

  // Unacceptable content type with a body: -1016, no decoding.
  auto plain = response(200, "text/plain");
  std::optional<pf::Error> error;
  EXPECT_FALSE(json->responseObject(&plain, &body, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kCannotDecodeContentData);
  EXPECT_EQ(error->domain, kTnqURLResponseSerializationErrorDomain);
  EXPECT_EQ(error->localizedDescription(), "Request failed: unacceptable content-type: text/plain");

  // Same with an empty body: not acceptable, no error.
  pf::Bytes empty;
  error.reset();
  EXPECT_FALSE(json->validateResponse(&plain, &empty, &error));
  EXPECT_FALSE(error);

  // Status 500 with acceptable JSON: object and error together.
  auto failed = response(500, "application/json; charset=utf-8");
  error.reset();
  auto object = json->responseObject(&failed, &body, &error);
  ASSERT_TRUE(object.value());
  EXPECT_EQ((*object.value())["k"], 1);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kBadServerResponse);
  EXPECT_EQ(error->localizedDescription(), "Request failed: internal server error (500)");

  // Both checks fail: the status error wraps the content-type error.
  auto both = response(404, "text/plain");
  error.reset();
  EXPECT_FALSE(json->validateResponse(&both, &body, &error));
  ASSERT_TRUE(error && error->underlying);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kBadServerResponse);
  EXPECT_EQ(error->underlying->code, pf::UrlErrorCode::kCannotDecodeContentData);
  EXPECT_TRUE(TnqErrorChainHasCode(error, -1016, kTnqURLResponseSerializationErrorDomain));

  // Bad JSON under a failed status: the parser's error wraps the status error.
  pf::Bytes broken = pf::toBytes("{nope");
  error.reset();
  EXPECT_FALSE(json->responseObject(&failed, &broken, &error));
  ASSERT_TRUE(error && error->underlying);
  EXPECT_EQ(error->code, pf::kJsonReadCorruptError);
  EXPECT_EQ(error->underlying->code, pf::UrlErrorCode::kBadServerResponse);

  // No response: no checks at all; the raw serializer hands back the bytes.
  error.reset();
  auto raw = TnqHTTPResponseSerializer::serializer()->responseObject(nullptr, &body, &error);
  EXPECT_FALSE(error);
  ASSERT_TRUE(TnqResponseBytes(raw));
  EXPECT_EQ(*TnqResponseBytes(raw), body);
}

TEST(ResponseSerializer, DecodesJsonDropsNullsAndHonoursCharsets) {
  auto json = TnqJSONResponseSerializer::serializer();
  auto ok = response(200, "application/json");
  std::optional<pf::Error> error;
  pf::Bytes space = pf::toBytes(" ");
  EXPECT_FALSE(json->responseObject(&ok, &space, &error));
  EXPECT_FALSE(error);

  json->removesKeysWithNullValues = true;
  pf::Bytes nulls = pf::toBytes(R"({"a": null, "b": [null, {"c": null}]})");
  auto object = json->responseObject(&ok, &nulls, &error);
  ASSERT_TRUE(object.value());
  EXPECT_EQ(pf::writeJson(*object.value()), R"({"b":[null,{}]})");

  // A Latin-1 body named by its charset decodes; without it, the bytes are not UTF-8.
  pf::Bytes latin = {'[', '"', 0xE9, '"', ']'};
  auto named = response(200, "application/json; charset=ISO-8859-1");
  object = json->responseObject(&named, &latin, &error);
  ASSERT_TRUE(object.value());
  EXPECT_EQ((*object.value())[0], "\xC3\xA9");
  EXPECT_FALSE(json->responseObject(&ok, &latin, nullptr));
}

TEST(ResponseSerializer, CompoundFallsBackToRawBytesAndArchivesRoundTrip) {
  auto compound = TnqCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
      {TnqJSONResponseSerializer::serializer(), TnqPropertyListResponseSerializer::serializer()});
  auto html = response(200, "text/csv");
  pf::Bytes body = pf::toBytes("a,b");
  std::optional<pf::Error> error;
  auto object = compound->responseObject(&html, &body, &error);
  ASSERT_TRUE(TnqResponseBytes(object));
  EXPECT_EQ(*TnqResponseBytes(object), body);

  auto serializer = TnqJSONResponseSerializer::serializer();
  serializer->acceptableStatusCodes = std::set<std::int64_t>{200, 201};
  serializer->acceptableContentTypes = std::set<std::string>{"application/x-custom"};
  serializer->removesKeysWithNullValues = true;
  serializer->stringEncoding = kTnqISOLatin1StringEncoding;
  auto back = TnqHTTPResponseSerializer::unarchive(pf::parseJson(pf::writeJson(serializer->archive()).value()).value());
  auto backJson = std::dynamic_pointer_cast<TnqJSONResponseSerializer>(back);
  ASSERT_TRUE(backJson);
  EXPECT_EQ(backJson->acceptableStatusCodes, serializer->acceptableStatusCodes);
  EXPECT_EQ(backJson->acceptableContentTypes, serializer->acceptableContentTypes);
  EXPECT_TRUE(backJson->removesKeysWithNullValues);
  EXPECT_EQ(backJson->stringEncoding, kTnqUTF8StringEncoding);

  // Copies of a subclass keep its own properties, not the validation sets.
  auto copy = std::dynamic_pointer_cast<TnqJSONResponseSerializer>(serializer->copy());
  EXPECT_TRUE(copy->removesKeysWithNullValues);
  EXPECT_EQ(copy->acceptableContentTypes, TnqJSONResponseSerializer().acceptableContentTypes);

  auto compoundBack = std::dynamic_pointer_cast<TnqCompoundResponseSerializer>(
      TnqHTTPResponseSerializer::unarchive(compound->archive()));
  ASSERT_TRUE(compoundBack);
  EXPECT_EQ(compoundBack->responseSerializers.size(), 2u);
}
