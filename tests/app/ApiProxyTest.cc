// The REST proxy against the loopback peer: the wire of GET and POST calls as Python decodes it,
// request ids, answers and failures, cancellation, the blocking calls and server trust.

#include <limits>
#include <set>
#include <thread>

#include "ApiTestSupport.h"
#include "app/TnqApiRequestBuilder.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Clock.h"
#include "platform/net/UrlError.h"

using namespace app;
using fxtest::Answers;
using fxtest::apiPeer;
using fxtest::Scheme;

namespace {

class ApiProxy : public fxtest::ApiTest {};

std::string body(const pf::Value& record) {
  return pf::toString(pf::base64DecodeStrict(record["body_b64"].get<std::string>()).value_or(pf::Bytes()));
}

}  // namespace

TEST_F(ApiProxy, GetAndPostWireOfBothServices) {
  Answers answers;
  const pf::Value params{{"name", "a b"}};
  EXPECT_EQ(proxy()->callGetWithParams(params, "serviceInfo", "/get.action", answers.success(), answers.failure()), 1);
  EXPECT_EQ(proxy()->callGetWithParams(std::nullopt, "serviceTradePre", "/bare.action", answers.success(),
                                       answers.failure()), 2);
  EXPECT_EQ(proxy()->callPostWithParams(params, "serviceTradePre", "/post.action", answers.success(),
                                        answers.failure()), 3);
  EXPECT_EQ(proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/empty.action", answers.success(),
                                        answers.failure()), 4);
  ASSERT_TRUE(answers.waitFor(4));
  EXPECT_EQ(answers.successes.size(), 4u);
  EXPECT_FALSE(answers.offMain);

  auto records = apiPeer().requests();
  ASSERT_EQ(records.size(), 4u);
  std::map<std::string, pf::Value> byPath;
  for (const auto& r : records) byPath[r["path"].get<std::string>()] = r;

  // The pretty-printed JSON follows "?requestJson=": blanks, quotes and line breaks escaped, ":" kept.
  const auto& get = byPath["/info/get.action"];
  EXPECT_EQ(get["method"], "GET");
  EXPECT_EQ(get["target"], "/info/get.action?requestJson=%7B%0A%20%20%22name%22%20:%20%22a%20b%22%0A%7D");
  EXPECT_EQ(get["query_json"], params);
  EXPECT_EQ(get["headers"]["X-Requested-With"], "XMLHttpRequest");
  EXPECT_EQ(body(get), "");

  EXPECT_EQ(byPath["/autdTradePre/bare.action"]["target"], "/autdTradePre/bare.action");

  const auto& post = byPath["/autdTradePre/post.action"];
  EXPECT_EQ(post["method"], "POST");
  EXPECT_EQ(post["target"], "/autdTradePre/post.action");
  EXPECT_EQ(body(post).rfind("reqJson=", 0), 0u);
  EXPECT_EQ(post["form_json"], params);
  EXPECT_EQ(post["headers"]["X-Requested-With"], "XMLHttpRequest");

  const auto& empty = byPath["/info/empty.action"];
  EXPECT_EQ(empty["method"], "POST");
  EXPECT_EQ(body(empty), "");

  // The answer record carries the request it answers.
  for (const auto& r : answers.successes) {
    ASSERT_TRUE(r->request);
    EXPECT_EQ(r->request->timeoutInterval(), 20.0);
    if (r->requestId == 1) {
      EXPECT_EQ(r->requestParams, params);
    }
    if (r->requestId == 2) {
      EXPECT_FALSE(r->requestParams);
    }
  }
}

// An IPv6 base URL keeps its brackets: GET and POST calls reach the peer on ::1 and read back
// exactly, brackets inside the JSON escaped as other characters of its values.
TEST_F(ApiProxy, IPv6BaseUrlReachesThePeer) {
  useServer(Scheme::Http6);
  Answers answers;
  const pf::Value params{{"pairs", pf::Value::array({"USD", "[JPY]"})}};
  EXPECT_EQ(proxy()->callGetWithParams(params, "serviceInfo", "/get.action", answers.success(), answers.failure()), 1);
  EXPECT_EQ(proxy()->callPostWithParams(params, "serviceTradePre", "/post.action", answers.success(),
                                        answers.failure()), 2);
  ASSERT_TRUE(answers.waitFor(2));
  EXPECT_EQ(answers.successes.size(), 2u);
  for (const auto& r : answers.successes) EXPECT_EQ(r->request->url()->host(), "::1");
  auto records = apiPeer().requests();
  ASSERT_EQ(records.size(), 2u);
  std::map<std::string, pf::Value> byPath;
  for (const auto& r : records) byPath[r["path"].get<std::string>()] = r;
  EXPECT_EQ(byPath["/info/get.action"]["query_json"], params);
  EXPECT_EQ(byPath["/info/get.action"]["target"].get<std::string>().find('['), std::string::npos);
  EXPECT_EQ(byPath["/autdTradePre/post.action"]["form_json"], params);
  EXPECT_EQ(body(byPath["/autdTradePre/post.action"]).find('['), std::string::npos);
}

// A base URL that carries escapes of its own keeps them: the zone of a link-local IPv6 host, an
// escaped blank in a path (which the peer is asked for as written); what needs escaping still is.
TEST_F(ApiProxy, EscapesOfTheBaseUrlAreKept) {
  auto builder = TnqRequestBuilder::sharedInstance();
  auto urlOf = [&](const std::string& base, bool post = false) -> std::string {
    useBaseUrl(base);
    auto request = post ? builder->buildPostRequestWithServiceIdentifier("serviceInfo", std::nullopt, "/x.action")
                        : builder->buildGetRequestWithServiceIdentifier("serviceInfo", std::nullopt, "/x.action");
    return request && request->url() ? request->url()->absoluteString() : "none";
  };
  EXPECT_EQ(urlOf("http://[fe80::1%25lo]:8080"), "http://[fe80::1%25lo]:8080/info/x.action");
  EXPECT_EQ(urlOf("http://[fe80::1%25lo]:8080", true), "http://[fe80::1%25lo]:8080/info/x.action");
  EXPECT_EQ(urlOf("http://h:8080/a%20b/c%2fd"), "http://h:8080/a%20b/c%2fd/info/x.action");
  // Not an escape: a lone "%" and one without two hex digits are escaped, as are blanks and quotes.
  EXPECT_EQ(urlOf("http://h:8080/a%zz/b c\"%"), "http://h:8080/a%25zz/b%20c%22%25/info/x.action");
  EXPECT_EQ(urlOf("http://h:8080/%2"), "http://h:8080/%252/info/x.action");

  useBaseUrl(apiPeer().base(Scheme::Http) + "/a%20b");
  Answers answers;
  proxy()->callGetWithParams(pf::Value{{"k", "v"}}, "serviceInfo", "/get.action", answers.success(), answers.failure());
  ASSERT_TRUE(answers.waitFor(1));
  auto records = apiPeer().requests();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["target"].get<std::string>().rfind("/a%20b/info/get.action?requestJson=", 0), 0u)
      << records[0]["target"];
}

TEST_F(ApiProxy, ParametersWithReservedAndForeignCharactersReadBackExactly) {
  const pf::Value params{{"blank", "a b"},       {"quote", "say \"hi\" 'x'"}, {"lines", "one\ntwo\r\nthree"},
                         {"amp", "a&b=c"},       {"plus", "1+1"},             {"hash", "#tag?x"},
                         {"percent", "100%25"},  {"chinese", "澜川银行"},     {"colon", "k:v;w/x"},
                         {"nested", {{"list", {1, "&", "+"}}}}};
  Answers answers;
  proxy()->callGetWithParams(params, "serviceInfo", "/q.action", answers.success(), answers.failure());
  proxy()->callPostWithParams(params, "serviceInfo", "/f.action", answers.success(), answers.failure());
  ASSERT_TRUE(answers.waitFor(2));
  EXPECT_EQ(answers.successes.size(), 2u);
  for (const auto& r : apiPeer().requests()) {
    if (r["method"] == "GET") {
      EXPECT_EQ(r["query_json"], params);
      EXPECT_EQ(r["query"].size(), 1u) << r["target"];
    } else {
      EXPECT_EQ(r["form_json"], params);
      EXPECT_EQ(r["form"].size(), 1u) << body(r);
    }
  }
}

TEST_F(ApiProxy, RequestIdsCountFromOneAndWrapAfterTheLargest) {
  EXPECT_FALSE(proxy()->noteRequestId());
  EXPECT_EQ(proxy()->generateRequestId(), 1);
  EXPECT_EQ(proxy()->generateRequestId(), 2);
  proxy()->setNoteRequestId(std::numeric_limits<std::int64_t>::max() - 1);
  EXPECT_EQ(proxy()->generateRequestId(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(proxy()->generateRequestId(), 1);

  // Ids drawn from several threads at once are all different.
  std::vector<std::vector<std::int64_t>> drawn(4);
  std::vector<std::thread> threads;
  for (auto& ids : drawn)
    threads.emplace_back([&ids] {
      for (int i = 0; i < 2000; ++i) ids.push_back(TnqApiProxy::sharedInstance()->generateRequestId());
    });
  for (auto& t : threads) t.join();
  std::set<std::int64_t> unique;
  for (const auto& ids : drawn) unique.insert(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), 8000u);
  EXPECT_EQ(*unique.rbegin(), 8001);
}

TEST_F(ApiProxy, SuccessAnswersKeepTheirBytesWhateverTheyHold) {
  struct Case {
    std::string path, body, type;
    std::optional<pf::Value> content;
    std::string text;
  };
  const std::vector<Case> cases{
      {"/json", R"({"success":1,"name":"澜川"})", "application/json", pf::Value{{"success", 1}, {"name", "澜川"}},
       R"({"success":1,"name":"澜川"})"},
      {"/malformed", R"({"success":)", "application/json", std::nullopt, R"({"success":)"},
      {"/empty", "", "application/json", std::nullopt, ""},
      {"/fragment", "12", "application/json", std::nullopt, "12"},
      {"/binary", "\xff\xfe{}", "application/octet-stream", std::nullopt, ""},
      {"/latin", "caf\xe9", "text/plain; charset=iso-8859-1", std::nullopt, "café"},
  };
  Answers answers;
  for (const auto& c : cases) {
    apiPeer().script("POST", "/info" + c.path, 200, c.body, c.type);
    proxy()->callPostWithParams(pf::Value::object(), "serviceInfo", c.path, answers.success(), answers.failure());
  }
  ASSERT_TRUE(answers.waitFor(cases.size()));
  ASSERT_EQ(answers.successes.size(), cases.size());
  for (const auto& r : answers.successes) {
    const auto& c = cases.at(static_cast<std::size_t>(r->requestId - 1));
    SCOPED_TRACE(c.path);
    EXPECT_EQ(r->status, TnqURLResponse::Success);
    EXPECT_EQ(r->content, c.content);
    EXPECT_EQ(r->contentString, c.text);
    ASSERT_TRUE(r->responseData);
    EXPECT_EQ(*r->responseData, pf::toBytes(c.body));
    EXPECT_FALSE(r->error);
  }
}

TEST_F(ApiProxy, RecordsShareTheBodyTheOperationReceived) {
  apiPeer().script("POST", "/info/ok", 200, R"({"success":1})", "application/json", "hold");
  apiPeer().script("POST", "/info/bad", 500, "server fault", "text/plain", "hold");
  Answers answers;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/ok", answers.success(), answers.failure());
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/bad", answers.success(), answers.failure());
  fxtest::waitForRequests(2);
  const auto running = proxy()->tnqNetManager()->operationQueue->operations();
  ASSERT_EQ(running.size(), 2u);
  apiPeer().release();
  ASSERT_TRUE(answers.waitFor(2));
  ASSERT_EQ(answers.successes.size(), 1u);
  ASSERT_EQ(answers.failures.size(), 1u);

  // Each record holds the very bytes its operation received, not a copy of them.
  std::set<const pf::Bytes*> received;
  for (const auto& op : running) {
    auto operation = std::dynamic_pointer_cast<appnet::TnqHTTPRequestOperation>(op);
    ASSERT_TRUE(operation && operation->responseData());
    received.insert(operation->responseData().get());
  }
  for (const auto& r : {answers.successes[0], answers.failures[0]}) {
    ASSERT_TRUE(r->responseData);
    EXPECT_EQ(received.count(r->responseData.get()), 1u) << r->contentString;
  }
  EXPECT_EQ(answers.successes[0]->contentString, R"({"success":1})");
  EXPECT_EQ(answers.failures[0]->contentString, "server fault");

  // The shared body is read-only: a completion that would write into an operation's answer object
  // finds no bytes it may change there, so the records read what was received.
  for (const auto& op : running) {
    const auto object = std::dynamic_pointer_cast<appnet::TnqHTTPRequestOperation>(op)->responseObject();
    ASSERT_TRUE(appnet::TnqResponseBytes(object));
    if (auto writable = object.as<pf::Bytes>()) writable->assign(3, '?');
  }
  EXPECT_EQ(pf::toString(*answers.successes[0]->responseData), R"({"success":1})");
  EXPECT_EQ(pf::toString(*answers.failures[0]->responseData), "server fault");
}

TEST_F(ApiProxy, HttpErrorsAndBrokenExchangesFailWithStatusTwo) {
  apiPeer().script("POST", "/info/missing", 404, "no such page", "text/plain");
  apiPeer().script("POST", "/info/broken", 500, R"({"error":"boom"})");
  apiPeer().script("POST", "/info/dropped", 200, "", "text/plain", "drop");
  apiPeer().script("POST", "/info/endless", 200, "", "application/json", "endless");
  Answers answers;
  for (const char* path : {"/missing", "/broken", "/dropped", "/endless"})
    proxy()->callPostWithParams(std::nullopt, "serviceInfo", path, answers.success(), answers.failure());
  ASSERT_TRUE(answers.waitFor(4));
  ASSERT_EQ(answers.failures.size(), 4u);
  EXPECT_FALSE(answers.offMain);
  for (const auto& r : answers.failures) {
    SCOPED_TRACE(r->requestId);
    EXPECT_EQ(r->status, TnqURLResponse::Failed);
    ASSERT_TRUE(r->error);
    switch (r->requestId) {
      case 1: EXPECT_EQ(r->contentString, "no such page"); break;
      case 2: EXPECT_EQ(r->content, (pf::Value{{"error", "boom"}})); break;
      case 3: EXPECT_EQ(r->error->domain, pf::kUrlErrorDomain); break;
      case 4: EXPECT_EQ(r->error->code, pf::UrlErrorCode::kDataLengthExceedsMaximum); break;
    }
  }
  EXPECT_TRUE(proxy()->runningRequestIds().empty());
}

TEST_F(ApiProxy, SilenceOfTwentySecondsIsATimeOut) {
  pf::VirtualTimeScope time;
  apiPeer().script("POST", "/info/slow", 200, R"({"success":1})", "application/json", "hold");
  Answers answers;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/slow", answers.success(), answers.failure());
  fxtest::waitForRequests(1);
  time.advance(19.9);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.2);
  EXPECT_EQ(answers.count(), 0u);
  time.advance(0.2);
  ASSERT_TRUE(answers.waitFor(1));
  ASSERT_EQ(answers.failures.size(), 1u);
  EXPECT_EQ(answers.failures[0]->status, TnqURLResponse::TimedOut);
  EXPECT_EQ(answers.failures[0]->error->code, pf::UrlErrorCode::kTimedOut);
}

TEST_F(ApiProxy, CancelledCallsHearOnlyTheirCancellation) {
  apiPeer().script("POST", "/info/held", 200, R"({"success":1})", "application/json", "hold");
  Answers answers;
  const auto first = proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/held", answers.success(), answers.failure());
  const auto second = proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/held", answers.success(), answers.failure());
  fxtest::waitForRequests(2);

  proxy()->cancelRequestWithRequestID(999);  // not running: nothing changes
  EXPECT_EQ(proxy()->runningRequestIds(), (std::vector<std::int64_t>{first, second}));

  proxy()->cancelRequestWithRequestIDList({first});
  EXPECT_EQ(proxy()->runningRequestIds(), (std::vector<std::int64_t>{second}));
  ASSERT_TRUE(answers.waitFor(1));
  ASSERT_EQ(answers.failures.size(), 1u);
  EXPECT_EQ(answers.failures[0]->requestId, first);
  EXPECT_EQ(answers.failures[0]->error->code, pf::UrlErrorCode::kCancelled);
  EXPECT_EQ(answers.failures[0]->status, TnqURLResponse::Failed);

  apiPeer().release();
  ASSERT_TRUE(answers.waitFor(2));
  ASSERT_EQ(answers.successes.size(), 1u);
  EXPECT_EQ(answers.successes[0]->requestId, second);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.2);
  EXPECT_EQ(answers.count(), 2u);
}

TEST_F(ApiProxy, UnknownServiceSendsNothingAndFailsAsABadUrl) {
  Answers answers;
  const auto id = proxy()->callPostWithParams(pf::Value{{"a", 1}}, "serviceNowhere", "/x.action", answers.success(),
                                              answers.failure());
  EXPECT_EQ(id, 1);
  EXPECT_EQ(answers.count(), 0u);  // reported on the completion queue, not from inside the call
  ASSERT_TRUE(answers.waitFor(1));
  ASSERT_EQ(answers.failures.size(), 1u);
  EXPECT_FALSE(answers.offMain);
  EXPECT_EQ(answers.failures[0]->requestId, id);
  EXPECT_EQ(answers.failures[0]->status, TnqURLResponse::Failed);
  EXPECT_EQ(answers.failures[0]->error->code, pf::UrlErrorCode::kBadUrl);
  EXPECT_EQ(apiPeer().requests().size(), 0u);
  EXPECT_FALSE(TnqRequestBuilder::sharedInstance()->buildGetRequestWithServiceIdentifier("serviceNowhere", std::nullopt, "/x"));
  EXPECT_FALSE(proxy()->syncCallGetWithParams(std::nullopt, "serviceNowhere", "/x"));
}

TEST_F(ApiProxy, BlockingCallsAnswerBytesOnlyForASuccessfulExchange) {
  apiPeer().script("GET", "/info/ok", 200, R"({"success":1})");
  apiPeer().script("POST", "/info/fail", 500, R"({"success":0})");
  apiPeer().script("POST", "/info/drop", 200, "", "text/plain", "drop");
  EXPECT_EQ(proxy()->syncCallGetWithParams(pf::Value{{"k", "v"}}, "serviceInfo", "/ok"), pf::toBytes(R"({"success":1})"));
  EXPECT_EQ(proxy()->syncCallPostWithParams(std::nullopt, "serviceInfo", "/empty"), pf::toBytes(R"({"success":1})"));
  EXPECT_FALSE(proxy()->syncCallPostWithParams(std::nullopt, "serviceInfo", "/fail"));
  EXPECT_FALSE(proxy()->syncCallPostWithParams(std::nullopt, "serviceInfo", "/drop"));
  EXPECT_FALSE(proxy()->noteRequestId());  // no ids, no table entries
  auto records = apiPeer().requests();
  ASSERT_GE(records.size(), 1u);
  EXPECT_EQ(records[0]["query_json"], (pf::Value{{"k", "v"}}));
}

TEST_F(ApiProxy, PrivateServersAreTrustedOnlyOncePinned) {
  // Self-signed: refused by the default policy, asynchronously and synchronously.
  useServer(Scheme::SelfSigned);
  Answers refused;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/a", refused.success(), refused.failure());
  ASSERT_TRUE(refused.waitFor(1));
  ASSERT_EQ(refused.failures.size(), 1u);
  EXPECT_EQ(refused.failures[0]->status, TnqURLResponse::Failed);
  EXPECT_FALSE(proxy()->syncCallPostWithParams(std::nullopt, "serviceInfo", "/a"));

  // Pinned: the pins become the only anchors (the system roots' verdict is not what counts).
  auto policy = proxy()->tnqNetManager()->securityPolicy;
  policy->SSLPinningMode = appnet::TnqSSLPinningModeCertificate;
  policy->allowInvalidCertificates = true;
  policy->setPinnedCertificates({apiPeer().der("selfsigned")});
  Answers pinned;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/a", pinned.success(), pinned.failure());
  ASSERT_TRUE(pinned.waitFor(1));
  EXPECT_EQ(pinned.successes.size(), 1u);
  EXPECT_EQ(proxy()->syncCallPostWithParams(std::nullopt, "serviceInfo", "/a"), pf::toBytes(R"({"success":1})"));

  // A server under a private CA: trusted once the CA is pinned (the leaf itself is not).
  useServer(Scheme::Chain);
  Answers unknownCa;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/b", unknownCa.success(), unknownCa.failure());
  ASSERT_TRUE(unknownCa.waitFor(1));
  EXPECT_EQ(unknownCa.failures.size(), 1u);
  policy->setPinnedCertificates({apiPeer().der("ca")});
  policy->validatesCertificateChain = false;
  Answers caPinned;
  proxy()->callPostWithParams(std::nullopt, "serviceInfo", "/b", caPinned.success(), caPinned.failure());
  ASSERT_TRUE(caPinned.waitFor(1));
  EXPECT_EQ(caPinned.successes.size(), 1u);
}

namespace {

// A container request that answers at once with no response and knows its id.
class ImmediateRequest : public container::MwHttpRequest {
 public:
  void asynchronousRequest(ResponseBlock block) override { block(nullptr); }
  std::optional<std::string> getRequestID() const override { return "req-7"; }
};

}  // namespace

TEST_F(ApiProxy, ContainerRequestsKeepTheirIdAndTheirCallback) {
  bool called = false;
  EXPECT_EQ(proxy()->callApiWithRequestWithSuccessBlock(std::make_shared<ImmediateRequest>(),
                                                        [&](std::shared_ptr<container::MwHttpResponse>) { called = true; }),
            "req-7");
  EXPECT_TRUE(called);
  EXPECT_FALSE(proxy()->callApiWithRequestWithSuccessBlock(nullptr, nullptr));
  EXPECT_TRUE(proxy()->networkFactory());
}
