// The HTTP client against a server gone bad (support/peers/hostile_http_server.py): what an
// operation or a session task keeps in memory is bounded, and every completion runs whatever fails
// inside it.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <new>

#include "appnet/TnqHTTPRequestOperationManager.h"
#include "appnet/TnqURLSessionManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/BodyDecoder.h"
#include "platform/net/Loader.h"
#include "platform/net/UrlError.h"
#include "support/HostileHttpPeer.h"

using namespace appnet;
using fxtest::HostileHttpPeer;

namespace {

HostileHttpPeer& peer() { return HostileHttpPeer::shared(); }

pf::UrlRequest get(const std::string& path) { return pf::UrlRequest(pf::Url::parse(peer().http(path))); }

bool spin(const std::function<bool()>& done) { return pf::RunLoop::main()->spinUntil(done, 30); }

constexpr auto kLimit = static_cast<long long>(kTnqMaximumInMemoryResponseLength);

struct Outcome {
  bool done = false;
  TnqResponseObject object;
  std::optional<pf::Error> error;
  std::shared_ptr<TnqHTTPRequestOperation> operation;

  std::shared_ptr<TnqHTTPRequestOperation> run(TnqHTTPRequestOperationManager& manager, const pf::UrlRequest& request,
                                               const std::shared_ptr<TnqURLOutputStream>& stream = nullptr) {
    operation = manager.HTTPRequestOperationWithRequest(
        request, [this](const auto&, const TnqResponseObject& o) { object = o, done = true; },
        [this](const auto&, const pf::Error& e) { error = e, done = true; });
    if (stream) operation->setOutputStream(stream);
    manager.operationQueue->addOperation(operation);
    EXPECT_TRUE(spin([this] { return done; })) << request.url()->absoluteString();
    return operation;
  }
};

std::shared_ptr<TnqHTTPRequestOperationManager> rawManager() {
  auto manager = TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = TnqHTTPResponseSerializer::serializer();
  return manager;
}

// A serializer that runs out of memory reading any answer.
struct StarvedSerializer : TnqHTTPResponseSerializer {
  TnqResponseObject responseObject(const pf::UrlResponse*, const pf::Bytes*, std::optional<pf::Error>*) const override {
    throw std::bad_alloc();
  }
};

// Ends the manager's session (it holds its manager, its delegate, until it becomes invalid).
void invalidate(TnqURLSessionManager& manager) {
  std::atomic<bool> invalidated{false};  // posted on the session's delegate queue
  auto token = pf::NotificationCenter::defaultCenter().addObserver(
      kTnqNetworkingSessionDidInvalidateNotification, {}, [&](const pf::Notification&) { invalidated = true; });
  manager.invalidateSessionCancelingTasks(true);
  EXPECT_TRUE(spin([&] { return invalidated.load(); }));
  pf::NotificationCenter::defaultCenter().removeObserver(token);
}

bool isTooLong(const std::optional<pf::Error>& error) {
  return error && error->domain == pf::kUrlErrorDomain && error->code == pf::UrlErrorCode::kDataLengthExceedsMaximum;
}

}  // namespace

TEST(HttpClientBadServer, AnOperationKeepsAtMostTheLimitInMemoryUnlessTheCallerStreams) {
  auto manager = rawManager();
  for (const std::string& path : {HostileHttpPeer::generated(-1), HostileHttpPeer::generated(-1, "close", true),
                                 HostileHttpPeer::generated(1ll << 30, "length")}) {
    Outcome outcome;
    auto op = outcome.run(*manager, get(path));
    EXPECT_TRUE(isTooLong(outcome.error)) << path << ": " << (outcome.error ? outcome.error->code : 0);
    EXPECT_FALSE(op->responseData() && op->responseData()->size() > kTnqMaximumInMemoryResponseLength) << path;
  }
  Outcome atLimit;
  atLimit.run(*manager, get(HostileHttpPeer::generated(kLimit, "chunked", true)));
  EXPECT_FALSE(atLimit.error);
  ASSERT_TRUE(TnqResponseBytes(atLimit.object));
  EXPECT_EQ(TnqResponseBytes(atLimit.object)->size(), kTnqMaximumInMemoryResponseLength);

  // A stream the caller gives takes what comes.
  Outcome streamed;
  auto own = TnqURLOutputStream::toMemory();
  streamed.run(*manager, get(HostileHttpPeer::generated(kLimit + 4096, "chunked")), own);
  EXPECT_FALSE(streamed.error);
  EXPECT_EQ(own->dataWrittenToMemory()->size(), kTnqMaximumInMemoryResponseLength + 4096);
}

TEST(HttpClientBadServer, ASessionTaskKeepsAtMostTheLimitInMemory) {
  auto manager = TnqURLSessionManager::manager();
  manager->setResponseSerializer(TnqHTTPResponseSerializer::serializer());
  // The notices of this test's tasks (another manager's task may end meanwhile).
  std::vector<pf::Value> notices;
  std::shared_ptr<pf::UrlSessionTask> task;
  auto token = pf::NotificationCenter::defaultCenter().addObserver(
      kTnqNetworkingTaskDidCompleteNotification, {}, [&](const pf::Notification& n) {
        if (task && n.object == pf::AnyObject(task)) notices.push_back(n.userInfo);
      });
  for (const std::string& path : {HostileHttpPeer::generated(-1), HostileHttpPeer::generated(-1, "close", true)}) {
    bool done = false;
    std::optional<pf::Error> error;
    notices.clear();
    task = manager->dataTaskWithRequest(get(path), [&](const auto&, const TnqResponseObject&, const std::optional<pf::Error>& e) {
      error = e, done = true;
    });
    task->resume();
    ASSERT_TRUE(spin([&] { return done && !notices.empty(); })) << path;
    EXPECT_TRUE(isTooLong(error)) << path << ": " << (error ? error->code : 0);
    EXPECT_TRUE(notices[0].contains(kTnqNetworkingTaskDidCompleteErrorKey)) << path;
  }
  // An answer within the limit is whole, in the handler and in the notice.
  bool done = false;
  TnqResponseObject object;
  notices.clear();
  task = manager->dataTaskWithRequest(get(HostileHttpPeer::generated(100000)), [&](const auto&, const TnqResponseObject& o, const auto&) {
    object = o, done = true;
  });
  task->resume();
  ASSERT_TRUE(spin([&] { return done && !notices.empty(); }));
  ASSERT_TRUE(TnqResponseBytes(object));
  EXPECT_EQ(TnqResponseBytes(object)->size(), 100000u);
  EXPECT_EQ(notices[0][kTnqNetworkingTaskDidCompleteResponseDataKey].get_binary().size(), 100000u);
  // The notice took its own bytes: the handler's object (the body itself) is whole after it.
  EXPECT_EQ(TnqResponseBytes(object)->size(), 100000u);
  pf::NotificationCenter::defaultCenter().removeObserver(token);
  invalidate(*manager);
}

TEST(HttpClientBadServer, ACompressedAnswerCutShortFailsTheOperationAndTheSessionTask) {
  const std::string text = HostileHttpPeer::digits();
  const std::string cut = HostileHttpPeer::packed(text, "gzip", 200);
  const std::string whole = HostileHttpPeer::packed(text, "deflate");
  auto operations = rawManager();
  Outcome failed;
  failed.run(*operations, get(cut));
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->code, pf::UrlErrorCode::kNetworkConnectionLost);
  Outcome read;
  read.run(*operations, get(whole));
  EXPECT_FALSE(read.error);
  ASSERT_TRUE(TnqResponseBytes(read.object));
  EXPECT_EQ(pf::toString(*TnqResponseBytes(read.object)), text);

  auto sessions = TnqURLSessionManager::manager();
  sessions->setResponseSerializer(TnqHTTPResponseSerializer::serializer());
  for (const std::string& path : {cut, whole}) {
    bool done = false;
    TnqResponseObject object;
    std::optional<pf::Error> error;
    sessions->dataTaskWithRequest(get(path), [&](const auto&, const TnqResponseObject& o, const std::optional<pf::Error>& e) {
      object = o, error = e, done = true;
    })->resume();
    ASSERT_TRUE(spin([&] { return done; })) << path;
    if (path == cut) {
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code, pf::UrlErrorCode::kNetworkConnectionLost);
    } else {
      EXPECT_FALSE(error);
      ASSERT_TRUE(TnqResponseBytes(object));
      EXPECT_EQ(pf::toString(*TnqResponseBytes(object)), text);
    }
  }
  invalidate(*sessions);
}

TEST(HttpClientBadServer, ABodyEncodedTwiceWaitsNoMoreThanTheHighWaterOnItsWayToTheSessionTask) {
  auto sessions = TnqURLSessionManager::manager();
  sessions->setResponseSerializer(TnqHTTPResponseSerializer::serializer());
  // What waits on its way to the session's queue, looked at as each piece arrives there: what the
  // running tasks received (decoded) and the queue has not yet taken. Nothing moves between a
  // load's hold and the next piece taken, so the looks see the most that waited.
  struct Waiting {
    std::map<const pf::UrlSessionTask*, std::int64_t> taken;
    std::int64_t most = 0;
  };
  auto waiting = std::make_shared<Waiting>();
  std::vector<std::shared_ptr<pf::UrlSessionTask>> tasks;
  sessions->dataTaskDidReceiveDataBlock = [waiting, &tasks](pf::UrlSession&, pf::UrlSessionTask& task, const pf::Bytes& data) {
    std::int64_t waits = 0;
    for (const auto& t : tasks) {
      if (t->state() == pf::UrlSessionTaskState::Running) waits += t->countOfBytesReceived() - waiting->taken[t.get()];
    }
    waiting->most = std::max(waiting->most, waits);
    waiting->taken[&task] += static_cast<std::int64_t>(data.size());
  };
  // 64 MiB compressed twice over, a few hundred bytes: refused at the task's limit. One task, then
  // two at once, which the queue's draining lets go on in turn.
  std::optional<pf::Error> error;
  for (int count : {1, 2}) {
    tasks.clear();
    waiting->taken.clear();
    waiting->most = 0;
    int done = 0;
    std::vector<std::optional<pf::Error>> errors(count);
    for (int i = 0; i < count; ++i) {
      tasks.push_back(sessions->dataTaskWithRequest(get(HostileHttpPeer::generated(64ll << 20, "length", 2)),
                                                    [&, i](const auto&, const auto&, const std::optional<pf::Error>& e) {
                                                      errors[i] = e, ++done;
                                                    }));
    }
    for (auto& task : tasks) task->resume();
    ASSERT_TRUE(spin([&] { return done == count; })) << count;
    for (const auto& e : errors) EXPECT_TRUE(isTooLong(e)) << count;
    EXPECT_LT(waiting->most, static_cast<std::int64_t>(pf::LoadEventChannel::kHighWater + pf::BodyDecoder::kPiece)) << count;
  }
  sessions->dataTaskDidReceiveDataBlock = nullptr;

  // Gzip members one after another, and a body without a coding said so, read back whole.
  const std::string text = HostileHttpPeer::digits();
  for (const std::string& path : {HostileHttpPeer::members(text, 2), HostileHttpPeer::members(text, 1, true),
                                  HostileHttpPeer::coded("200 OK", "none", text)}) {
    bool done = false;
    TnqResponseObject object;
    sessions->dataTaskWithRequest(get(path), [&](const auto&, const TnqResponseObject& o, const std::optional<pf::Error>& e) {
      object = o, error = e, done = true;
    })->resume();
    ASSERT_TRUE(spin([&] { return done; })) << path;
    EXPECT_FALSE(error) << path;
    ASSERT_TRUE(TnqResponseBytes(object)) << path;
    EXPECT_TRUE(pf::toString(*TnqResponseBytes(object)) == text) << path;
  }
  invalidate(*sessions);
}

TEST(HttpClientBadServer, EveryCompletionRunsWhenItsSerializerRunsOutOfMemory) {
  auto operations = TnqHTTPRequestOperationManager::manager();
  operations->responseSerializer = std::make_shared<StarvedSerializer>();
  Outcome outcome;
  outcome.run(*operations, get(HostileHttpPeer::answer("{}")));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, kTnqURLResponseSerializationErrorDomain);
  EXPECT_EQ(outcome.error->code, pf::UrlErrorCode::kCannotDecodeContentData);

  auto sessions = TnqURLSessionManager::manager();
  sessions->setResponseSerializer(std::make_shared<StarvedSerializer>());
  bool done = false;
  std::optional<pf::Error> error;
  sessions->dataTaskWithRequest(get(HostileHttpPeer::answer("{}")), [&](const auto&, const auto&, const std::optional<pf::Error>& e) {
    error = e, done = true;
  })->resume();
  ASSERT_TRUE(spin([&] { return done; }));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, kTnqURLResponseSerializationErrorDomain);
  EXPECT_EQ(error->code, pf::UrlErrorCode::kCannotDecodeContentData);
  invalidate(*sessions);
}
