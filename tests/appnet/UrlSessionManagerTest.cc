// The session managers against the loopback peer: the download road, completion notices,
// resume and suspend announcements, and the HTTP session manager's verbs.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <mutex>

#include "appnet/TnqHTTPSessionManager.h"
#include "peers/http_client_peer.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/net/UrlError.h"

using namespace appnet;

namespace {

fxtest::HttpClientPeer& peer() { return fxtest::HttpClientPeer::shared(); }

bool spin(const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 20); }

struct Completion {
  bool done = false, onMain = false, fileThere = false;
  TnqResponseObject object;
  std::optional<pf::Error> error;
  std::optional<std::filesystem::path> expectFile;
  // With `writes`, the handler changes the answer's bytes: the object's own where it lets it, else
  // a copy of its own (`own`).
  bool writes = false;
  pf::Bytes own;
  TnqSessionCompletionHandler handler() {
    return [this](const std::optional<pf::UrlResponse>&, const TnqResponseObject& o, const std::optional<pf::Error>& e) {
      object = o, error = e, onMain = pf::Thread::isMainThread();
      if (expectFile) fileThere = std::filesystem::exists(*expectFile);
      if (writes && TnqResponseBytes(o)) {
        auto writable = o.as<pf::Bytes>();
        pf::Bytes& bytes = writable ? *writable : (own = *TnqResponseBytes(o));
        bytes.assign(3, 'x');
      }
      done = true;
    };
  }
};

// Invalidates the sessions of the managers it was handed when the test ends, however it ends: a
// session holds its manager (its delegate) until it becomes invalid, so a manager never invalidated
// outlives its test. It keeps the sessions only, so a manager the test drops lives on through its
// session alone.
class SessionsEnd {
 public:
  template <class Manager>
  std::shared_ptr<Manager> operator()(std::shared_ptr<Manager> manager) {
    sessions_.push_back(manager->session);
    return manager;
  }
  ~SessionsEnd() {
    for (const auto& session : sessions_) session->invalidateAndCancel();
    EXPECT_TRUE(spin([&] {
      return std::none_of(sessions_.begin(), sessions_.end(), [](const auto& s) { return s->delegate() != nullptr; });
    }));
  }

 private:
  std::vector<std::shared_ptr<pf::UrlSession>> sessions_;
};

}  // namespace

TEST(UrlSessionManager, DownloadIsMovedBeforeTheHandlerRunsOnTheMainQueue) {
  fxtest::TempDir caches;
  SessionsEnd end;
  auto manager = end(TnqURLSessionManager::initWithSessionConfiguration(pf::UrlSessionConfiguration::defaultConfiguration()));
  Completion c;
  c.expectFile = caches / "menu.bin";
  auto task = manager->downloadTaskWithRequest(
      pf::UrlRequest(pf::Url::parse(peer().http("/download?size=3000"))), nullptr,
      [&](const pf::Url&, const std::optional<pf::UrlResponse>& response) {
        return pf::Url::fileUrl(caches / response->suggestedFilename());
      },
      c.handler());
  EXPECT_EQ(task->state(), pf::UrlSessionTaskState::Suspended);
  task->resume();
  manager.reset();  // the session keeps its delegate alive
  ASSERT_TRUE(spin([&] { return c.done; }));
  EXPECT_TRUE(c.onMain);
  EXPECT_TRUE(c.fileThere);
  EXPECT_FALSE(c.error);
  ASSERT_TRUE(TnqResponseFileURL(c.object));
  EXPECT_EQ(TnqResponseFileURL(c.object)->filePath(), caches / "menu.bin");
  EXPECT_EQ(std::filesystem::file_size(caches / "menu.bin"), 3000u);
}

TEST(UrlSessionManager, DownloadResultsFollowStatusDestinationAndMove) {
  fxtest::TempDir caches;
  SessionsEnd end;
  auto manager = end(TnqURLSessionManager::manager());
  // 404 of a non-JSON file: the destination URL and error -1011.
  Completion notFound;
  manager->downloadTaskWithRequest(
      pf::UrlRequest(pf::Url::parse(peer().http("/download?size=10&code=404"))), nullptr,
      [&](const pf::Url&, const auto&) { return pf::Url::fileUrl(caches / "a.bin"); }, notFound.handler())->resume();
  ASSERT_TRUE(spin([&] { return notFound.done; }));
  ASSERT_TRUE(TnqResponseFileURL(notFound.object));
  ASSERT_TRUE(notFound.error);
  EXPECT_EQ(notFound.error->code, pf::UrlErrorCode::kBadServerResponse);

  // No destination: nothing moved, the serializer's result (nil for a non-JSON body is refused
  // content: here an empty JSON-typed body) is handed over.
  Completion nowhere;
  manager->downloadTaskWithRequest(pf::UrlRequest(pf::Url::parse(peer().http("/download?size=0&ctype=application/json"))),
                                   nullptr, [](const pf::Url&, const auto&) { return std::optional<pf::Url>(); },
                                   nowhere.handler())->resume();
  ASSERT_TRUE(spin([&] { return nowhere.done; }));
  EXPECT_FALSE(nowhere.object);
  EXPECT_FALSE(nowhere.error);

  // A destination that cannot take the file: the move error is reported, with a notice.
  bool noticed = false;
  auto token = pf::NotificationCenter::defaultCenter().addObserver(
      kTnqURLSessionDownloadTaskDidFailToMoveFileNotification, {}, [&](const pf::Notification&) { noticed = true; });
  Completion blocked;
  manager->downloadTaskWithRequest(
      pf::UrlRequest(pf::Url::parse(peer().http("/download?size=10"))), nullptr,
      [&](const pf::Url&, const auto&) { return pf::Url::fileUrl(caches / "no" / "such" / "dir" / "x.bin"); },
      blocked.handler())->resume();
  ASSERT_TRUE(spin([&] { return blocked.done; }));
  EXPECT_TRUE(noticed);
  EXPECT_TRUE(blocked.error);
  EXPECT_TRUE(TnqResponseFileURL(blocked.object));
  pf::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(UrlSessionManager, AnnouncesResumeSuspendCompletionAndInvalidation) {
  auto manager = TnqURLSessionManager::manager();
  manager->setResponseSerializer(TnqHTTPResponseSerializer::serializer());
  auto& center = pf::NotificationCenter::defaultCenter();
  // Notices come on the session's delegate queue as well as on the test's thread.
  std::atomic<int> resumes{0}, rawResumes{0}, suspends{0};
  std::mutex completeMutex;
  pf::Value completeInfo;
  auto completed = [&] {
    std::lock_guard lock(completeMutex);
    return completeInfo;
  };
  std::atomic<bool> invalidated{false};
  std::vector<pf::ObserverToken> tokens{
      center.addObserver(kTnqNetworkingTaskDidResumeNotification, {}, [&](const pf::Notification&) { ++resumes; }),
      center.addObserver(kTnqNSURLSessionTaskDidResumeNotification, {}, [&](const pf::Notification&) { ++rawResumes; }),
      center.addObserver(kTnqNetworkingTaskDidSuspendNotification, {}, [&](const pf::Notification&) { ++suspends; }),
      center.addObserver(kTnqNetworkingTaskDidCompleteNotification, {}, [&](const pf::Notification& n) {
        auto t = n.object.as<pf::UrlSessionTask>();
        if (t && t->taskDescription() == manager->taskDescriptionForSessionTasks()) {
          std::lock_guard lock(completeMutex);
          completeInfo = n.userInfo;
        }
      }),
      center.addObserver(kTnqNetworkingSessionDidInvalidateNotification, {}, [&](const pf::Notification&) { invalidated = true; })};

  Completion c;
  c.writes = true;
  auto task = manager->dataTaskWithRequest(pf::UrlRequest(pf::Url::parse(peer().http("/hello"))), c.handler());
  EXPECT_EQ(task->taskDescription(), manager->taskDescriptionForSessionTasks());
  // The delegate queue is held while the task is resumed twice, so that it cannot complete in
  // between: a resume of a completed task is announced again (it was not running).
  std::promise<void> release;
  manager->operationQueue->addOperation([held = release.get_future().share()] { held.wait(); });
  task->suspend();  // already suspended: no notice
  task->resume();
  task->resume();  // already running: no notice
  release.set_value();
  ASSERT_TRUE(spin([&] { return c.done && completed().is_object(); }));
  EXPECT_EQ(resumes.load(), 1);
  EXPECT_EQ(rawResumes.load(), 1);
  EXPECT_EQ(suspends.load(), 0);
  // The handler that changed the answer's bytes changed a copy of its own: the object and the
  // notice posted after the handler carry the body as received.
  EXPECT_EQ(pf::toString(c.own), "xxx");
  ASSERT_TRUE(TnqResponseBytes(c.object));
  EXPECT_EQ(pf::toString(*TnqResponseBytes(c.object)), "hello");
  const pf::Value info = completed();
  EXPECT_EQ(pf::toString(pf::dataValue(info[kTnqNetworkingTaskDidCompleteResponseDataKey])), "hello");
  EXPECT_EQ(info[kTnqNetworkingTaskDidCompleteResponseSerializerKey], "TnqHTTPResponseSerializer");

  // A task made on the session directly is announced only under the raw name.
  auto foreign = manager->session->dataTask(pf::UrlRequest(pf::Url::parse(peer().http("/hello"))));
  foreign->resume();
  EXPECT_EQ(rawResumes.load(), 2);
  pf::RunLoop::main()->spinUntil([] { return false; }, 0.3);  // nothing more may arrive
  EXPECT_EQ(resumes.load(), 1);

  manager->invalidateSessionCancelingTasks(true);
  ASSERT_TRUE(spin([&] { return invalidated.load(); }));
  for (auto t : tokens) center.removeObserver(t);
}

TEST(HttpSessionManager, VerbsResolveAgainstTheBaseUrlAndReportOnTheMainQueue) {
  SessionsEnd end;
  auto manager = end(TnqHTTPSessionManager::initWithBaseURL(pf::Url::parse(peer().http("/"))));
  EXPECT_EQ(end(TnqHTTPSessionManager::initWithBaseURL(pf::Url::parse("http://h/api")))->baseURL->absoluteString(), "http://h/api/");

  pf::Value got;
  bool done = false;
  auto task = manager->GET("echo", pf::Value{{"a", "x y"}}, [&](const TnqSessionTask& t, const TnqResponseObject& o) {
    got = *o.value(), done = pf::Thread::isMainThread() && t != nullptr;
  }, nullptr);
  ASSERT_TRUE(task);
  ASSERT_TRUE(spin([&] { return done; }));
  EXPECT_EQ(got["query"], "a=x%20y");

  for (const char* verb : {"POST", "PUT", "PATCH", "DELETE"}) {
    done = false;
    auto t = manager->dataTaskWithHTTPMethod(verb, "echo", pf::Value{{"k", 1}},
                                             [&](const TnqSessionTask&, const TnqResponseObject& o) { got = *o.value(), done = true; },
                                             nullptr);
    t->resume();
    ASSERT_TRUE(spin([&] { return done; }));
    EXPECT_EQ(got["method"], verb);
  }

  bool head = false;
  manager->HEAD("hello", std::nullopt, [&](const TnqSessionTask& t) { head = t != nullptr; }, nullptr);
  ASSERT_TRUE(spin([&] { return head; }));

  std::optional<pf::Error> failure;
  bool succeeded = false;
  manager->GET("status?code=500&type=json", std::nullopt,
               [&](const TnqSessionTask&, const TnqResponseObject&) { succeeded = true; },
               [&](const TnqSessionTask&, const pf::Error& e) { failure = e; });
  ASSERT_TRUE(spin([&] { return failure.has_value(); }));
  EXPECT_FALSE(succeeded);
  EXPECT_EQ(failure->code, pf::UrlErrorCode::kBadServerResponse);

  // A request that cannot be built: no task, the failure block without a task.
  auto bare = end(TnqHTTPSessionManager::manager());
  bool badCalled = false;
  EXPECT_FALSE(bare->GET("no scheme", std::nullopt, nullptr, [&](const TnqSessionTask& t, const pf::Error& e) {
    badCalled = !t && e.code == pf::UrlErrorCode::kBadUrl;
  }));
  ASSERT_TRUE(spin([&] { return badCalled; }));
  EXPECT_FALSE(bare->GET("no scheme", std::nullopt, nullptr, nullptr));  // no failure block: nothing called
}

TEST(HttpSessionManager, MultipartPostStreamsTheBody) {
  SessionsEnd end;
  auto manager = end(TnqHTTPSessionManager::initWithBaseURL(pf::Url::parse(peer().http("/"))));
  pf::Value result;
  bool done = false;
  manager->POST("multipart", pf::Value{{"f", "1"}},
                [](TnqMultipartFormData& form) { form.appendPartWithFileData(pf::toBytes("abc"), "file", "a.txt", "text/plain"); },
                [&](const TnqSessionTask&, const TnqResponseObject& o) {
                  if (o.value()) result = *o.value();
                  done = true;
                },
                [&](const TnqSessionTask&, const pf::Error&) { done = true; });
  ASSERT_TRUE(spin([&] { return done; }));
  EXPECT_EQ(result["length_ok"], true);
  ASSERT_EQ(result["parts"].size(), 2u);
  EXPECT_EQ(result["parts"][1]["data"], "abc");

  auto copy = end(manager->copy());
  EXPECT_EQ(copy->baseURL, manager->baseURL);
  auto back = TnqHTTPSessionManager::unarchive(manager->archive());
  ASSERT_TRUE(back);
  end(back);
  EXPECT_EQ(back->baseURL, manager->baseURL);
  EXPECT_TRUE(std::dynamic_pointer_cast<TnqJSONResponseSerializer>(back->responseSerializer()));
}
