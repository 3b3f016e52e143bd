// The session facade against the loopback HTTP/HTTPS server (peers/http_server.py).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <thread>

#include "peers/http_peer.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/UrlError.h"
#include "platform/net/UrlSession.h"

namespace {

using fxtest::HttpPeer;
using pf::Bytes;
using pf::UrlRequest;
using pf::UrlResponse;
using pf::UrlSession;
using pf::UrlSessionTask;

// Records the calls of every task; all on the delegate queue.
class Recorder : public pf::UrlSessionDelegate {
 public:
  bool trustHandler = false;
  bool taskHandler = false;
  std::function<void(const std::shared_ptr<pf::UrlAuthenticationChallenge>&)> onChallenge;
  std::optional<pf::UrlSessionResponseDisposition> disposition;
  bool refuseRedirects = false;

  bool handlesAuthenticationChallenges() const override { return trustHandler; }
  bool handlesTaskAuthenticationChallenges() const override { return taskHandler; }
  void didReceiveChallenge(UrlSession&, const std::shared_ptr<pf::UrlAuthenticationChallenge>& c) override {
    note("session-challenge");
    onChallenge(c);
  }
  void taskDidReceiveChallenge(UrlSession&, UrlSessionTask&, const std::shared_ptr<pf::UrlAuthenticationChallenge>& c) override {
    note(c->isServerTrust() ? "task-trust" : "task-auth");
    onChallenge(c);
  }
  void taskWillPerformHttpRedirection(UrlSession&, UrlSessionTask&, const UrlResponse&, UrlRequest next,
                                      std::function<void(std::optional<UrlRequest>)> completion) override {
    note("redirect");
    completion(refuseRedirects ? std::nullopt : std::optional<UrlRequest>(std::move(next)));
  }
  void taskDidSendBodyData(UrlSession&, UrlSessionTask&, std::int64_t, std::int64_t total, std::int64_t) override {
    std::lock_guard lock(mutex);
    sent = total;
  }
  void dataTaskDidReceiveResponse(UrlSession&, UrlSessionTask& task, const UrlResponse& r,
                                  std::function<void(pf::UrlSessionResponseDisposition)> completion) override {
    {
      std::lock_guard lock(mutex);
      response = r;
      stateAtResponse = task.state();
    }
    note("response");
    completion(disposition.value_or(pf::UrlSessionResponseDisposition::Allow));
  }
  void dataTaskDidBecomeDownloadTask(UrlSession&, UrlSessionTask&, UrlSessionTask&) override { note("became-download"); }
  void dataTaskDidReceiveData(UrlSession&, UrlSessionTask&, const Bytes& d) override {
    std::lock_guard lock(mutex);
    if (events.empty() || events.back() != "data") events.push_back("data");
    data.insert(data.end(), d.begin(), d.end());
    cv.notify_all();
  }
  void downloadTaskDidWriteData(UrlSession&, UrlSessionTask&, std::int64_t, std::int64_t total, std::int64_t) override {
    std::lock_guard lock(mutex);
    written = total;
  }
  void downloadTaskDidFinishDownloading(UrlSession&, UrlSessionTask& task, const pf::Url& location) override {
    note("downloaded");
    std::ifstream in(location.filePath(), std::ios::binary);
    std::lock_guard lock(mutex);
    file = location.filePath();
    fileBytes = Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    suggested = task.response()->suggestedFilename();
  }
  void taskDidComplete(UrlSession&, UrlSessionTask& task, const std::optional<pf::Error>& e) override {
    note("complete");
    std::lock_guard lock(mutex);
    error = e;
    stateAtCompletion = task.state();
    ++completed;
    cv.notify_all();
  }
  void didBecomeInvalid(UrlSession&, const std::optional<pf::Error>&) override {
    note("invalid");
    std::lock_guard lock(mutex);
    invalid = true;
    cv.notify_all();
  }

  void note(const std::string& event) {
    std::lock_guard lock(mutex);
    if (running.exchange(true)) overlapped = true;
    events.push_back(event);
    running = false;
    cv.notify_all();
  }
  bool waitFor(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(15), done);
  }
  bool waitCompleted(int n = 1) { return waitFor([&] { return completed >= n; }); }
  int errorCode() {
    std::lock_guard lock(mutex);
    return error ? static_cast<int>(error->code) : 0;
  }
  std::vector<std::string> eventList() {
    std::lock_guard lock(mutex);
    return events;
  }

  std::mutex mutex;
  std::condition_variable cv;
  std::atomic<bool> running{false};
  bool overlapped = false;
  std::vector<std::string> events;
  std::optional<UrlResponse> response;
  Bytes data;
  std::optional<pf::Error> error;
  std::optional<pf::UrlSessionTaskState> stateAtResponse;
  std::optional<pf::UrlSessionTaskState> stateAtCompletion;
  std::int64_t sent = 0;
  std::int64_t written = 0;
  std::filesystem::path file;
  Bytes fileBytes;
  std::string suggested;
  int completed = 0;
  bool invalid = false;
};

class UrlSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = std::make_shared<Recorder>();
    session = UrlSession::make(pf::UrlSessionConfiguration::defaultConfiguration(), recorder, nullptr);
  }
  void TearDown() override {
    session->invalidateAndCancel();
    recorder->waitFor([&] { return recorder->invalid; });
  }
  HttpPeer& peer = HttpPeer::shared();
  std::shared_ptr<Recorder> recorder;
  std::shared_ptr<UrlSession> session;
};

TEST_F(UrlSessionTest, DataTaskRunsThroughItsStates) {
  auto task = session->dataTask(peer.request(peer.http("/chunked?n=3")));
  EXPECT_EQ(task->state(), pf::UrlSessionTaskState::Suspended);
  EXPECT_EQ(task->taskIdentifier(), 1u);
  task->resume();  // on a loaded machine the load may end before resume() returns: its state is read as it goes
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(recorder->eventList(), (std::vector<std::string>{"response", "data", "complete"}));
  EXPECT_EQ(recorder->stateAtResponse, pf::UrlSessionTaskState::Running);
  EXPECT_EQ(pf::toString(recorder->data), "chunk0\nchunk1\nchunk2\n");
  EXPECT_EQ(recorder->errorCode(), 0);
  EXPECT_EQ(recorder->stateAtCompletion, pf::UrlSessionTaskState::Completed);
  EXPECT_EQ(task->countOfBytesReceived(), 21);
  EXPECT_FALSE(recorder->overlapped);
}

TEST_F(UrlSessionTest, ConfigurationHeadersGoWithEveryRequest) {
  pf::UrlSessionConfiguration configuration;
  configuration.httpAdditionalHeaders.set("X-App", "fx");
  configuration.httpAdditionalHeaders.set("Accept-Language", "zh");
  auto own = std::make_shared<Recorder>();
  auto configured = UrlSession::make(configuration, own, nullptr);
  UrlRequest request = peer.request(peer.http("/echo"));
  request.setValue("en", "Accept-Language");
  configured->dataTask(request)->resume();
  ASSERT_TRUE(own->waitCompleted());
  auto echo = pf::Value::parse(pf::toString(own->data));
  EXPECT_EQ(echo["headers"]["X-App"], "fx");
  EXPECT_EQ(echo["headers"]["Accept-Language"], "en");
  configured->finishTasksAndInvalidate();
  EXPECT_TRUE(own->waitFor([&] { return own->invalid; }));
}

TEST_F(UrlSessionTest, DownloadHandsOverATemporaryFileThenRemovesIt) {
  auto task = session->downloadTask(peer.request(peer.http("/download?size=100000")));
  task->resume();
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(recorder->errorCode(), 0);
  ASSERT_EQ(recorder->fileBytes.size(), 100000u);
  EXPECT_EQ(recorder->fileBytes[99999], static_cast<std::uint8_t>((99999 * 7) & 0xFF));
  EXPECT_EQ(recorder->written, 100000);
  EXPECT_EQ(recorder->suggested, "report.bin");
  EXPECT_FALSE(std::filesystem::exists(recorder->file));
  auto events = recorder->eventList();
  EXPECT_EQ(events.back(), "complete");
  EXPECT_EQ(events[events.size() - 2], "downloaded");
}

TEST_F(UrlSessionTest, UploadsFromBytesAndFiles) {
  UrlRequest post = peer.request(peer.http("/echo"));
  post.setHttpMethod("POST");
  session->uploadTask(post, pf::toBytes("from bytes"))->resume();
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(pf::Value::parse(pf::toString(recorder->data))["body"], "from bytes");
  EXPECT_EQ(recorder->sent, 10);

  fxtest::TempDir dir;
  {
    std::ofstream out(dir / "body.txt");
    out << "from a file";
  }
  recorder->data.clear();
  auto task = session->uploadTask(post, dir / "body.txt");
  EXPECT_EQ(task->countOfBytesExpectedToSend(), 11);
  task->resume();
  ASSERT_TRUE(recorder->waitCompleted(2));
  EXPECT_EQ(pf::Value::parse(pf::toString(recorder->data))["body"], "from a file");

  session->uploadTask(post, dir / "missing.txt")->resume();
  ASSERT_TRUE(recorder->waitCompleted(3));
  EXPECT_EQ(recorder->errorCode(), pf::UrlErrorCode::kFileDoesNotExist);
}

TEST_F(UrlSessionTest, CancelAndRefusedResponsesCompleteWithCancelled) {
  auto task = session->dataTask(peer.request(peer.http("/stall")));
  task->resume();
  ASSERT_TRUE(recorder->waitFor([&] { return recorder->response.has_value(); }));
  task->cancel();
  // The completion runs on the delegate queue and may already have ended the task.
  EXPECT_THAT(task->state(), testing::AnyOf(pf::UrlSessionTaskState::Canceling, pf::UrlSessionTaskState::Completed));
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(recorder->errorCode(), pf::UrlErrorCode::kCancelled);
  EXPECT_EQ(task->state(), pf::UrlSessionTaskState::Completed);

  recorder->disposition = pf::UrlSessionResponseDisposition::Cancel;
  session->dataTask(peer.request(peer.http("/hello")))->resume();
  ASSERT_TRUE(recorder->waitCompleted(2));
  EXPECT_EQ(recorder->errorCode(), pf::UrlErrorCode::kCancelled);
}

TEST_F(UrlSessionTest, ResponseCanTurnADataTaskIntoADownload) {
  recorder->disposition = pf::UrlSessionResponseDisposition::BecomeDownload;
  session->dataTask(peer.request(peer.http("/download?size=5000")))->resume();
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(recorder->fileBytes.size(), 5000u);
  auto events = recorder->eventList();
  EXPECT_NE(std::find(events.begin(), events.end(), "became-download"), events.end());
}

TEST_F(UrlSessionTest, RedirectsAndAuthenticationGoThroughTheDelegate) {
  recorder->refuseRedirects = true;
  session->dataTask(peer.request(peer.http("/redirect?code=302&to=/hello")))->resume();
  ASSERT_TRUE(recorder->waitCompleted());
  EXPECT_EQ(recorder->response->statusCode(), 302);

  recorder->taskHandler = true;
  recorder->onChallenge = [](const auto& c) {
    if (c->previousFailureCount() == 0) {
      c->useCredential(pf::UrlCredential::withUser("user", "secret"));
    } else {
      c->cancel();
    }
  };
  recorder->data.clear();
  session->dataTask(peer.request(peer.http("/auth")))->resume();
  ASSERT_TRUE(recorder->waitCompleted(2));
  EXPECT_EQ(pf::toString(recorder->data), "welcome user");
}

TEST_F(UrlSessionTest, TrustDecisionsAreAskedOncePerSessionAndServer) {
  recorder->trustHandler = true;
  recorder->onChallenge = [](const auto& c) {
    c->useCredential(pf::UrlCredential::forTrust(c->protectionSpace().serverTrust));
  };
  session->dataTask(peer.request(peer.https("/hello")))->resume();
  ASSERT_TRUE(recorder->waitCompleted());
  session->dataTask(peer.request(peer.https("/hello")))->resume();
  ASSERT_TRUE(recorder->waitCompleted(2));
  EXPECT_EQ(recorder->errorCode(), 0);
  auto events = recorder->eventList();
  EXPECT_EQ(std::count(events.begin(), events.end(), "session-challenge"), 1);

  // Another session (another decision) is asked itself, and refusing cancels: -999.
  auto other = std::make_shared<Recorder>();
  other->trustHandler = true;
  other->onChallenge = [](const auto& c) { c->cancel(); };
  auto otherSession = UrlSession::make({}, other, nullptr);
  otherSession->dataTask(peer.request(peer.https("/hello")))->resume();
  ASSERT_TRUE(other->waitCompleted());
  EXPECT_EQ(other->errorCode(), pf::UrlErrorCode::kCancelled);
  otherSession->invalidateAndCancel();
  EXPECT_TRUE(other->waitFor([&] { return other->invalid; }));
}

TEST_F(UrlSessionTest, InvalidationWaitsForTasksAndLetsTheDelegateGo) {
  std::weak_ptr<Recorder> weak = recorder;
  auto task = session->dataTask(peer.request(peer.http("/slow?n=2&delay=0.05")));
  task->resume();
  session->finishTasksAndInvalidate();
  EXPECT_THROW(session->dataTask(peer.request(peer.http("/hello"))), pf::Exception);
  ASSERT_TRUE(recorder->waitFor([&] { return recorder->invalid; }));
  EXPECT_EQ(recorder->completed, 1);
  EXPECT_EQ(recorder->errorCode(), 0);
  auto events = recorder->eventList();
  EXPECT_EQ(events.back(), "invalid");
  EXPECT_EQ(session->delegate(), nullptr);
  recorder.reset();
  // The delegate queue may still be unwinding the call that reported "invalid".
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!weak.expired() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(weak.expired());
  recorder = std::make_shared<Recorder>();
  recorder->invalid = true;
}

TEST_F(UrlSessionTest, LifecycleObserverHearsResumeAndSuspend) {
  std::vector<std::pair<bool, pf::UrlSessionTaskState>> heard;
  UrlSessionTask::setLifecycleObserver([&](UrlSessionTask&, bool resumed, pf::UrlSessionTaskState before) {
    heard.emplace_back(resumed, before);
  });
  auto task = session->dataTask(peer.request(peer.http("/stall")));
  task->resume();
  task->resume();
  task->suspend();
  task->suspend();
  task->resume();
  UrlSessionTask::setLifecycleObserver(nullptr);
  task->cancel();
  ASSERT_TRUE(recorder->waitCompleted());
  using S = pf::UrlSessionTaskState;
  EXPECT_EQ(heard, (std::vector<std::pair<bool, S>>{{true, S::Suspended}, {false, S::Running}, {true, S::Suspended}}));
}

TEST_F(UrlSessionTest, GetTasksListsUnfinishedTasksByKind) {
  auto data = session->dataTask(peer.request(peer.http("/hello")));
  auto download = session->downloadTask(peer.request(peer.http("/hello")));
  std::atomic<bool> answered{false};
  std::size_t dataCount = 0, downloadCount = 0;
  session->getTasks([&](auto d, auto, auto dl) {
    dataCount = d.size();
    downloadCount = dl.size();
    std::lock_guard lock(recorder->mutex);
    answered = true;
    recorder->cv.notify_all();
  });
  ASSERT_TRUE(recorder->waitFor([&] { return answered.load(); }));
  EXPECT_EQ(dataCount, 1u);
  EXPECT_EQ(downloadCount, 1u);
}

}  // namespace
