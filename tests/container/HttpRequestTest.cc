// The HTTP request over the engine: downloads with progress, cancellation that ends every wait,
// answer copies, operation time-outs and the factory's live list.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "BankServer.h"
#include "platform/foundation/Log.h"
#include "container/HnNetworkEngine.h"
#include "container/HnNetworkOperation.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwComPackage.h"
#include "container/MwFileRequestListener.h"
#include "container/MwHttpRequestImp.h"
#include "container/MwHttpResponse.h"
#include "container/MwRequestFactory.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"

namespace container {
namespace {

using testing::BankServer;
namespace fs = std::filesystem;

struct Progress : MwFileRequestListener {
  std::vector<std::int64_t> positions;
  void onData(std::int64_t total, std::int64_t pos) override {
    EXPECT_EQ(total, 100);
    positions.push_back(pos);
  }
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

class HttpRequestTest : public testing::BankServerSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server->running());
    testing::resetContainer(server->baseUrl());
  }
  std::shared_ptr<MwHttpRequestImp> request(const std::string& path, std::int64_t timeout = 0,
                                            const std::string& method = "POST") {
    return factory->createRequest(server->baseUrl() + path, std::nullopt, pf::toBytes("{}"), method, timeout);
  }
  // Files a download leaves in the temporary folder.
  static std::size_t leftovers(const std::string& prefix) {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(pf::Sandbox::tmp(), ec)) {
      if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
    }
    return n;
  }
  pf::LogCapture log;  // the requests' debug lines stay out of the test output
  std::shared_ptr<MwRequestFactory> factory = MwRequestFactory::create();
  fxtest::TempDir dir;
};

TEST_F(HttpRequestTest, DownloadReportsProgressFromTenToAHundred) {
  auto progress = std::make_shared<Progress>();
  const fs::path destination = dir / "pages/p1/page.zip";  // the folder is made on success
  EXPECT_TRUE(request("/files/page.zip?size=300000&chunks=6")->fileRequest(destination.string(), progress));
  EXPECT_EQ(readFile(destination), pattern(300000));
  ASSERT_GE(progress->positions.size(), 2u);
  EXPECT_EQ(progress->positions.front(), 10);
  EXPECT_EQ(progress->positions.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress->positions.begin(), progress->positions.end()));
  EXPECT_EQ(leftovers("page.zip"), 0u);
}

TEST_F(HttpRequestTest, FailedEmptyAndUnchangedDownloadsLeaveTheDestinationAlone) {
  const fs::path destination = dir / "menu.xml";
  std::ofstream(destination) << "old menu";
  auto r = request("/files/menu.xml?status=304");
  EXPECT_TRUE(r->fileRequest(destination.string(), {}));
  EXPECT_EQ(r->getResponseStatus(), 304);
  EXPECT_FALSE(request("/files/menu.xml?size=0")->fileRequest(destination.string(), {}));
  auto missing = request("/files/menu.xml?status=404");
  EXPECT_FALSE(missing->fileRequest(destination.string(), {}));
  EXPECT_EQ(missing->getResponseStatus(), 404);
  EXPECT_FALSE(request("/files/menu.xml?drop=1")->fileRequest(destination.string(), {}));
  EXPECT_FALSE(request("/files/menu.xml")->fileRequest("", {}));
  EXPECT_EQ(readFile(destination), "old menu");
  EXPECT_EQ(leftovers("menu.xml"), 0u);
}

TEST_F(HttpRequestTest, CancellingABlockingDownloadEndsItsWaitAndRemovesTheTemporaryFile) {
  const fs::path destination = dir / "slow.bin";
  auto r = request("/files/slow.bin?size=100000&chunks=50&pause=0.05");
  std::atomic<int> result{-1};
  std::thread caller([&] { result = r->fileRequest(destination.string(), {}) ? 1 : 0; });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] {
    auto op = r->getHnNetworkOperation();
    return op && op->readonlyResponse().has_value();
  }));
  r->cancelOperation();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return result != -1; }));
  caller.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(fs::exists(destination));
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return leftovers("slow.bin") == 0; }));
}

TEST_F(HttpRequestTest, CancelOperationCancelsOnlyItsOwnOperation) {
  auto first = request("/a.do?act=x&delay=0.3");
  auto longer = request("/a.do?act=x&delay=0.3&more=1");  // its URL begins with the first one's
  std::vector<std::string> answers;
  first->asynchronousRequest([&](auto r) { answers.push_back(r ? "first" : "first failed"); });
  longer->asynchronousRequest([&](auto r) { answers.push_back(r ? "longer" : "longer failed"); });
  first->cancelOperation();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return longer->getHnNetworkOperation()->isFinished(); }));
  EXPECT_EQ(answers, (std::vector<std::string>{"longer"}));
  EXPECT_TRUE(first->getHnNetworkOperation()->isCancelled());
}

TEST_F(HttpRequestTest, CancellingEveryRequestEndsBlockedCallers) {
  auto shared = MwRequestFactory::getInstance();
  std::shared_ptr<MwComPackage> answer;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    answer = MwCommunicationHelper::synchBusinessRequest("a.do?act=hang&delay=25", nullptr, kCryptPlain);
    returned = true;
  });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return shared->getEngine()->operationCount() == 1; }));
  shared->cancelAllRequest();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return returned.load(); }));
  caller.join();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->getErrMsg(), "数据解析错误");
  EXPECT_EQ(shared->liveRequestCount(), 0u);

  // abort() reaches every operation of the engine, and its blocked caller too.
  auto blocked = request("/a.do?act=hang&delay=25");
  auto other = request("/a.do?act=hang&delay=25");
  other->asynchronousRequest([](auto) { ADD_FAILURE() << "a cancelled operation calls no handler"; });
  pf::RunLoop::main()->perform([blocked] { blocked->abort(); });
  EXPECT_FALSE(blocked->synchDataRequest());
  EXPECT_TRUE(blocked->isAborted());
  EXPECT_TRUE(other->getHnNetworkOperation()->isCancelled());
}

TEST_F(HttpRequestTest, FailedAnswersLeaveNoCopiesAndSucceededOnesKeepThem) {
  auto failed = request("/a.do?status=500&serviceNumber=R1");
  auto response = failed->synchDataRequest();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->getStatusCode(), 500);
  EXPECT_EQ(failed->getResponseStatus(), 500);
  EXPECT_TRUE(failed->getResponseHeaders().empty());
  EXPECT_TRUE(failed->getResponseCookies().empty());
  EXPECT_FALSE(failed->getResponseData());

  MwFramework::getInstance().setSessionState(1);
  auto body = MwCommunicationHelper::requestBody({{"CLIENTRANDOM", "00"}}, kCryptPlain);
  auto ok = factory->createRequest(server->baseUrl() + "/mwframework.do?act=handshake", std::nullopt, *body, "POST", 0);
  response = ok->asynchDataRequest();
  ASSERT_TRUE(response);
  EXPECT_EQ(ok->getResponseStatus(), 200);
  ASSERT_EQ(ok->getResponseCookies().size(), 1u);
  EXPECT_EQ(ok->getResponseCookies()[0].name, "JSESSIONID");
  EXPECT_TRUE(ok->getResponseHeaders().value("Service-Number"));
  ASSERT_TRUE(ok->getResponseData());
  EXPECT_EQ(ok->getResponseData().get(), &*response->getResponseData()) << "the request's body is the response's";
  EXPECT_EQ(response->getSessionId(), MwSessionManager::getInstance().getSessionId());
  EXPECT_EQ(MwSessionManager::getInstance().getSessionState(), 4);

  // An asynchronous 404 gives the block nothing.
  bool called = false;
  std::shared_ptr<MwHttpResponse> notFound = std::make_shared<MwHttpResponse>();
  request("/a.do?status=404")->asynchronousRequest([&](auto r) {
    called = true;
    notFound = r;
  });
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return called; }));
  EXPECT_FALSE(notFound);
}

TEST_F(HttpRequestTest, SynchronousExchangesLeaveDebugLines) {
  const std::string url = server->baseUrl() + "/a.do?act=log";
  request("/a.do?act=log")->synchDataRequest();
  request("/a.do?act=log&status=500")->synchDataRequest();
  request("/a.do?act=log&status=404")->asynchDataRequest();
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "----->  send request to server(" + url + ") <-----");
  EXPECT_EQ(lines[1].rfind("----> receive from server({", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "----->  send request to server(" + url + "&status=500) <-----");
  EXPECT_EQ(lines[3], "----> http request failed(code=500)");
  EXPECT_EQ(lines[4], "http request failed(code=404)");
}

TEST_F(HttpRequestTest, OperationsTakeTheRequestTimeOutOrThirtySeconds) {
  auto withDefault = request("/a.do", 0);
  withDefault->synchDataRequest();
  EXPECT_EQ(withDefault->getHnNetworkOperation()->readonlyRequest().timeoutInterval(), 30.0);
  auto sixty = request("/a.do", 60);
  sixty->synchDataRequest();
  EXPECT_EQ(sixty->getHnNetworkOperation()->readonlyRequest().timeoutInterval(), 60.0);
  EXPECT_EQ(sixty->getHnNetworkOperation()->readonlyRequest().valueForHttpHeaderField("Content-Type"),
            "*/*; charset=utf-8");
  EXPECT_EQ(sixty->getHnNetworkOperation()->readonlyRequest().valueForHttpHeaderField("Accept-Encoding"),
            "gzip,deflate");
  sixty->fileRequest((dir / "f").string(), {});
  EXPECT_EQ(sixty->getHnNetworkOperation()->readonlyRequest().timeoutInterval(), 30.0);
  EXPECT_EQ(sixty->getHnNetworkOperation()->readonlyRequest().httpMethod(), "GET");
}

TEST_F(HttpRequestTest, FactoryBuildsTheQueryAndKeepsItAsTheParameter) {
  auto r = factory->createRequest("http://h/x.do", pf::Value{{"a", "1"}, {"b", 2}}, {}, "GET", 0);
  EXPECT_EQ(r->getUrl(), "http://h/x.do?a=1&b=2");
  EXPECT_EQ(r->getParameter(), "?a=1&b=2");
  r->setUrl("");
  EXPECT_EQ(r->getUrl(), "http://h/x.do?a=1&b=2");
  MwHttpRequestImp withoutEngine(nullptr, {});
  EXPECT_FALSE(withoutEngine.synchDataRequest());
  EXPECT_FALSE(withoutEngine.streamRequest());
  EXPECT_FALSE(withoutEngine.fileRequest((dir / "x").string(), {}));
}

TEST_F(HttpRequestTest, StreamRequestAnswersTheBody) {
  auto body = request("/files/s?size=1000", 0, "GET")->streamRequest();
  ASSERT_TRUE(body);
  EXPECT_EQ(pf::toString(*body), pattern(1000));
  EXPECT_FALSE(request("/files/s?status=404", 0, "GET")->streamRequest());
}

}  // namespace
}  // namespace container
