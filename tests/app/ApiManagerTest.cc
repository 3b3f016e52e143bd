// The API managers against the loopback peer: parameters as the server decodes them, answer
// checks and error types, validator and interceptor rules, concurrent calls and cancellation.

#include "ApiTestSupport.h"
#include "app/TnqApiManagers.h"

using namespace app;
using fxtest::apiPeer;

namespace {

class ApiManager : public fxtest::ApiTest {};

// Records the outcome reports and interceptor hooks in the order they came.
class Observer : public TnqAPIManagerCallbackDelegate, public TnqAPIManagerInterceptor {
 public:
  std::vector<std::string> events;
  std::optional<bool> veto;

  void managerCallAPIDidSuccess(TnqAPIBaseManager& m) override { events.push_back("success:" + std::to_string(m.errorType)); }
  void managerCallAPIDidFailed(TnqAPIBaseManager& m) override { events.push_back("failed:" + std::to_string(m.errorType)); }
  std::optional<bool> managerShouldCallAPIWithParams(TnqAPIBaseManager&, const std::optional<pf::Value>&) override {
    events.push_back("should");
    return veto;
  }
  bool managerBeforePerformSuccessWithResponse(TnqAPIBaseManager&, const Response&) override { return record("beforeSuccess"); }
  bool managerAfterPerformSuccessWithResponse(TnqAPIBaseManager&, const Response&) override { return record("afterSuccess"); }
  bool managerBeforePerformFailWithResponse(TnqAPIBaseManager&, const Response& r) override {
    return record(r ? "beforeFail" : "beforeFail(none)");
  }
  bool managerAfterPerformFailWithResponse(TnqAPIBaseManager&, const Response&) override { return record("afterFail"); }

  std::size_t reports() const {
    return std::count_if(events.begin(), events.end(), [](const std::string& e) {
      return e.rfind("success:", 0) == 0 || e.rfind("failed:", 0) == 0;
    });
  }
  bool waitForReports(std::size_t n) {
    return pf::RunLoop::main()->spinUntil([&] { return reports() >= n; }, 20);
  }

 private:
  bool record(const std::string& e) {
    events.push_back(e);
    return true;
  }
};

template <class Manager>
std::shared_ptr<Manager> observed(const std::shared_ptr<Observer>& observer) {
  auto manager = Manager::make();
  manager->delegate = observer;
  manager->interceptor = observer;
  return manager;
}

// A manager of a request type no call exists for.
class OddManager : public TnqStandardManager {
 public:
  static std::shared_ptr<OddManager> make() { return adopt(std::make_shared<OddManager>()); }
  std::string methodName() const override { return "/odd.action"; }
  std::string serviceType() const override { return "serviceInfo"; }
  std::uint64_t requestType() const override { return 2; }
  std::optional<pf::Value> paramsForApi(TnqAPIBaseManager&) override { return pf::Value::object(); }
};

}  // namespace

TEST_F(ApiManager, LoginAnswersAreJudgedByTheirSuccessValue) {
  struct Case {
    std::string answer;
    std::uint64_t errorType;
  };
  const std::vector<Case> cases{{R"({"success":1})", 1}, {R"({"success":"1"})", 1}, {R"({"success":0})", 2},
                                {R"([{"success":1}])", 2}, {"not json", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    apiPeer().script("POST", "/autdTradePre/sign.action", 200, c.answer);
    auto observer = std::make_shared<Observer>();
    auto login = observed<TnqLoginManager>(observer);
    login->custId = "C001";
    login->digest = "d&g+s#t";
    EXPECT_GT(login->loadData(), 0);
    EXPECT_EQ(login->requestIdList.size(), 1u);
    ASSERT_TRUE(observer->waitForReports(1));
    EXPECT_EQ(login->errorType, c.errorType);
    EXPECT_TRUE(login->requestIdList.empty());
    ASSERT_TRUE(login->fetchedRawData);
    if (c.answer == "not json") {
      EXPECT_EQ(pf::dataValue(*login->fetchedRawData), pf::toBytes("not json"));
    } else {
      EXPECT_EQ(*login->fetchedRawData, *pf::parseJson(c.answer));
    }
    EXPECT_EQ(login->fetchDataWithReformer(nullptr), login->fetchedRawData);
  }
  auto records = apiPeer().requests();
  ASSERT_EQ(records.size(), cases.size());
  EXPECT_EQ(records[0]["form_json"], (pf::Value{{"queryParam.custId", "C001"}, {"queryParam.Digest", "d&g+s#t"}}));
}

TEST_F(ApiManager, AbsentValuesTravelAsEmptyTextsAndEveryManagerAcceptsSuccess) {
  auto observer = std::make_shared<Observer>();
  auto login = observed<TnqLoginManager>(observer);
  auto token = observed<TnqTokenManager>(observer);
  token->custId = "C9";
  auto push = observed<TnqPushTypeManager>(observer);
  push->state = -3;
  login->loadData();
  token->loadData();
  push->loadData();
  ASSERT_TRUE(observer->waitForReports(3));
  EXPECT_EQ(login->errorType, TnqAPIBaseManager::Success);
  EXPECT_EQ(token->errorType, TnqAPIBaseManager::Success);
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::Success);

  std::map<std::string, pf::Value> sent;
  for (const auto& r : apiPeer().requests()) sent[r["path"].get<std::string>()] = r["form_json"];
  EXPECT_EQ(sent["/autdTradePre/sign.action"], (pf::Value{{"queryParam.custId", ""}, {"queryParam.Digest", ""}}));
  EXPECT_EQ(sent["/info/refreshTheAppleUserToken.action"], (pf::Value{{"custId", "C9"}, {"token", ""}}));
  EXPECT_EQ(sent["/info/refreshTheAppleUserState.action"], (pf::Value{{"custId", ""}, {"state", -3}}));
}

TEST_F(ApiManager, HooksRunAroundTheDelegateInOrder) {
  auto observer = std::make_shared<Observer>();
  auto login = observed<TnqLoginManager>(observer);
  login->loadData();
  ASSERT_TRUE(observer->waitForReports(1));
  EXPECT_EQ(observer->events, (std::vector<std::string>{"should", "beforeSuccess", "success:1", "afterSuccess"}));

  observer->events.clear();
  apiPeer().script("POST", "/autdTradePre/sign.action", 500, "{}");
  login->loadData();
  ASSERT_TRUE(observer->waitForReports(1));
  EXPECT_EQ(observer->events, (std::vector<std::string>{"should", "beforeFail", "failed:4", "afterFail"}));

  // A veto: no call, no report.
  observer->events.clear();
  observer->veto = false;
  EXPECT_EQ(login->loadData(), 0);
  EXPECT_EQ(observer->events, (std::vector<std::string>{"should"}));
  EXPECT_TRUE(login->requestIdList.empty());

  // The manager as its own interceptor is not asked.
  auto self = TnqLoginManager::make();
  self->delegate = observer;
  observer->events.clear();
  EXPECT_TRUE(self->shouldCallAPIWithParams(std::nullopt));
  EXPECT_TRUE(observer->events.empty());
  EXPECT_EQ(apiPeer().requests().size(), 2u);
}

TEST_F(ApiManager, RefusedParametersAndUnknownRequestTypesSendNothing) {
  auto observer = std::make_shared<Observer>();
  auto login = observed<TnqLoginManager>(observer);
  login->validator.reset();
  EXPECT_EQ(login->loadData(), 0);
  EXPECT_EQ(login->errorType, TnqAPIBaseManager::WrongParameters);
  EXPECT_EQ(observer->events, (std::vector<std::string>{"should", "beforeFail(none)", "failed:3", "afterFail"}));

  auto odd = observed<OddManager>(observer);
  observer->events.clear();
  EXPECT_EQ(odd->loadData(), 0);
  EXPECT_EQ(observer->events, (std::vector<std::string>{"should"}));
  EXPECT_EQ(odd->errorType, TnqAPIBaseManager::None);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.2);
  EXPECT_EQ(apiPeer().requests().size(), 0u);
}

TEST_F(ApiManager, ConcurrentCallsKeepTheirOwnIdsUntilCancelled) {
  apiPeer().script("POST", "/info/refreshTheAppleUserToken.action", 200, R"({"success":1})", "application/json", "hold");
  auto observer = std::make_shared<Observer>();
  auto token = observed<TnqTokenManager>(observer);
  token->cancelAllRequests();  // idle: nothing changes
  const auto a = token->loadData();
  const auto b = token->loadData();
  const auto c = token->loadData();
  EXPECT_EQ(token->requestIdList, (std::vector<std::int64_t>{a, b, c}));
  EXPECT_EQ(std::set<std::int64_t>({a, b, c}).size(), 3u);
  fxtest::waitForRequests(3);

  token->cancelRequestWithRequestId(b);
  EXPECT_EQ(token->requestIdList, (std::vector<std::int64_t>{a, c}));
  token->cancelAllRequests();
  EXPECT_TRUE(token->requestIdList.empty());
  EXPECT_TRUE(TnqApiProxy::sharedInstance()->runningRequestIds().empty());
  ASSERT_TRUE(observer->waitForReports(3));
  EXPECT_EQ(token->errorType, TnqAPIBaseManager::CallFailed);
  apiPeer().release();
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.3);
  EXPECT_EQ(observer->reports(), 3u);  // the released answers are dropped
}

TEST_F(ApiManager, AnswersRecordsAndCleaning) {
  auto observer = std::make_shared<Observer>();
  auto push = observed<TnqPushTypeManager>(observer);

  // A failed record goes to the failure road whatever holds it.
  auto failed = TnqURLResponse::initWithResponseString(std::nullopt, 0, std::nullopt, nullptr,
                                                       pf::Error("NSURLErrorDomain", -1009));
  push->apiCallBack(failed);
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::CallFailed);
  push->apiCallBack(TnqURLResponse::initWithData(pf::toBytes(R"({"success":1,"v":[1]})")));
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::Success);

  // A manager with its own clean-up keeps its data; the base clean-up resets it.
  push->TnqAPIBaseManager::cleanData();
  EXPECT_TRUE(push->fetchedRawData);
  push->child.reset();
  push->errorMessage = "x";
  push->TnqAPIBaseManager::cleanData();
  EXPECT_FALSE(push->fetchedRawData);
  EXPECT_FALSE(push->errorMessage);
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::None);

  // No answer record at all is a wrong answer on the success road, as on the failure road a
  // refused call: nothing kept, nothing removed, the delegate told.
  observer->events.clear();
  push->successedOnCallingAPI(nullptr);
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::WrongAnswer);
  EXPECT_FALSE(push->fetchedRawData);
  EXPECT_EQ(observer->events, (std::vector<std::string>{"beforeFail(none)", "failed:2", "afterFail"}));
  push->failureOnCallingAPI(nullptr, TnqAPIBaseManager::CallFailed);
  EXPECT_EQ(push->errorType, TnqAPIBaseManager::CallFailed);
}
