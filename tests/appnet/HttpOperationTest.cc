// HTTP request operations and the operation manager against the loopback peer: the REST road,
// trust, status checks, cancellation, pause and resume, verbs and multipart uploads.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "appnet/TnqHTTPRequestOperationManager.h"
#include "peers/http_client_peer.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/UrlError.h"

using namespace appnet;

namespace {

fxtest::HttpClientPeer& peer() { return fxtest::HttpClientPeer::shared(); }

pf::UrlRequest get(const std::string& url) { return pf::UrlRequest(pf::Url::parse(url)); }

struct Outcome {
  bool done = false;
  std::shared_ptr<TnqHTTPRequestOperation> operation;
  TnqResponseObject object;
  std::optional<pf::Error> error;
  bool onMain = false;

  TnqHTTPRequestOperation::Success success() {
    return [this](const std::shared_ptr<TnqHTTPRequestOperation>& op, const TnqResponseObject& o) {
      operation = op, object = o, onMain = pf::Thread::isMainThread(), done = true;
    };
  }
  TnqHTTPRequestOperationManager::Failure failure() {
    return [this](const std::shared_ptr<TnqHTTPRequestOperation>& op, const pf::Error& e) {
      operation = op, error = e, onMain = pf::Thread::isMainThread(), done = true;
    };
  }
  bool wait() { return pf::RunLoop::main()->spinUntil([this] { return done; }, 20); }
};

std::shared_ptr<TnqHTTPRequestOperationManager> restManager() {
  auto manager = TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = TnqHTTPResponseSerializer::serializer();
  manager->securityPolicy->allowInvalidCertificates = true;
  return manager;
}

}  // namespace

TEST(HttpOperation, RestRoadAcceptsSelfSignedOnlyWhereThePolicyAllows) {
  auto manager = restManager();
  Outcome accepted;
  auto op = manager->HTTPRequestOperationWithRequest(get(peer().self("/hello")), accepted.success(), accepted.failure());
  EXPECT_FALSE(op->isExecuting());
  manager->operationQueue->addOperation(op);
  ASSERT_TRUE(accepted.wait());
  EXPECT_FALSE(accepted.error);
  EXPECT_TRUE(accepted.onMain);
  ASSERT_TRUE(TnqResponseBytes(accepted.object));
  EXPECT_EQ(pf::toString(*TnqResponseBytes(accepted.object)), "hello");
  EXPECT_EQ(op->responseString(), "hello");
  EXPECT_EQ(op->state(), TnqURLConnectionOperation::Finished);

  // The default policy refuses the same server, as does an operation made outside the manager.
  auto strict = TnqHTTPRequestOperationManager::manager();
  Outcome refused;
  strict->operationQueue->addOperation(
      strict->HTTPRequestOperationWithRequest(get(peer().self("/hello")), refused.success(), refused.failure()));
  ASSERT_TRUE(refused.wait());
  EXPECT_TRUE(refused.error);

  auto direct = TnqHTTPRequestOperation::make(get(peer().self("/hello")));
  direct->start();
  direct->waitUntilFinished();
  EXPECT_TRUE(direct->error());
  EXPECT_FALSE(direct->responseData() && !direct->responseData()->empty());

  // A synchronous plain exchange.
  auto sync = TnqHTTPRequestOperation::make(get(peer().http("/hello")));
  sync->start();
  sync->waitUntilFinished();
  ASSERT_TRUE(sync->responseData());
  EXPECT_EQ(pf::toString(*sync->responseData()), "hello");
}

TEST(HttpOperation, StatusAndContentTypeChecksReachTheFailureBlock) {
  auto manager = TnqHTTPRequestOperationManager::manager();
  Outcome failed;
  manager->GET(peer().http("/status?code=500&type=json"), std::nullopt, failed.success(), failed.failure());
  ASSERT_TRUE(failed.wait());
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->code, pf::UrlErrorCode::kBadServerResponse);
  EXPECT_EQ(failed.operation->error()->code, pf::UrlErrorCode::kBadServerResponse);

  Outcome wrongType;
  manager->GET(peer().http("/status?code=200"), std::nullopt, wrongType.success(), wrongType.failure());
  ASSERT_TRUE(wrongType.wait());
  ASSERT_TRUE(wrongType.error);
  EXPECT_EQ(wrongType.error->code, pf::UrlErrorCode::kCannotDecodeContentData);

  Outcome json;
  manager->GET(peer().http("/json"), std::nullopt, json.success(), json.failure());
  ASSERT_TRUE(json.wait());
  ASSERT_TRUE(json.object.value());
  EXPECT_TRUE((*json.object.value())["b"].is_array());
}

TEST(HttpOperation, CancelBeforeStartFinishesWithCancellationAndNoStartNotice) {
  std::atomic<int> starts{0}, finishes{0};
  auto manager = TnqHTTPRequestOperationManager::manager();
  Outcome outcome;
  auto op = manager->HTTPRequestOperationWithRequest(get(peer().http("/hello")), outcome.success(), outcome.failure());
  // Only this operation's notices count: an operation of an earlier test may still be finishing.
  auto mine = [raw = static_cast<TnqURLConnectionOperation*>(op.get())](const pf::Notification& n) {
    return n.object.as<TnqURLConnectionOperation>().get() == raw;
  };
  auto& center = pf::NotificationCenter::defaultCenter();
  auto t1 = center.addObserver(kTnqNetworkingOperationDidStartNotification, {}, [&](const pf::Notification& n) {
    if (mine(n)) ++starts;
  });
  auto t2 = center.addObserver(kTnqNetworkingOperationDidFinishNotification, {}, [&](const pf::Notification& n) {
    if (mine(n)) ++finishes;
  });
  struct Remove {  // the observers go even when an assertion ends the test early
    pf::NotificationCenter& center;
    decltype(t1) first, second;
    ~Remove() {
      center.removeObserver(first);
      center.removeObserver(second);
    }
  } remove{center, t1, t2};
  op->cancel();
  op->cancel();  // no change
  manager->operationQueue->addOperation(op);
  ASSERT_TRUE(outcome.wait());
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, pf::UrlErrorCode::kCancelled);
  EXPECT_EQ(outcome.error->domain, pf::kUrlErrorDomain);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return finishes.load() >= 1; }, 20)) << "finish notices: " << finishes.load();
  EXPECT_EQ(finishes.load(), 1);
  EXPECT_EQ(starts.load(), 0);
  EXPECT_FALSE(op->responseData());
  // Invalid transitions are ignored.
  op->setState(TnqURLConnectionOperation::Ready);
  EXPECT_EQ(op->state(), TnqURLConnectionOperation::Finished);
}

TEST(HttpOperation, AnOutputStreamThatCannotWriteFailsTheLoad) {
  fxtest::TempDir dir;
  auto op = TnqHTTPRequestOperation::make(get(peer().http("/download?size=3000")));
  op->setOutputStream(TnqURLOutputStream::toFile(dir / "missing" / "body.bin", false));
  op->start();
  op->waitUntilFinished();
  ASSERT_TRUE(op->error());
  EXPECT_EQ(op->error()->domain, pf::kPosixErrorDomain);

  auto ok = TnqHTTPRequestOperation::make(get(peer().http("/download?size=3000")));
  ok->setOutputStream(TnqURLOutputStream::toFile(dir / "body.bin", false));
  ok->start();
  ok->waitUntilFinished();
  EXPECT_FALSE(ok->error());
  EXPECT_EQ(std::filesystem::file_size(dir / "body.bin"), 3000u);
}

TEST(HttpOperation, TheBodyIsHandedOverWholeAndACallersMemoryStreamKeepsItsBytes) {
  // The operation's own memory stream hands its bytes to the response data.
  auto own = TnqHTTPRequestOperation::make(get(peer().http("/download?size=70000")));
  own->start();
  own->waitUntilFinished();
  ASSERT_FALSE(own->error());
  ASSERT_TRUE(own->responseData());
  EXPECT_EQ(own->responseData()->size(), 70000u);
  EXPECT_EQ(own->totalBytesRead(), 70000);
  auto object = TnqResponseBytes(own->responseObject());
  ASSERT_TRUE(object);
  EXPECT_EQ(object.get(), own->responseData().get()) << "the plain serializer's object is the body itself, not a copy";
  EXPECT_EQ(own->responseData().get(), own->responseData().get());

  // A memory stream the caller set and still holds is read, not emptied.
  auto stream = TnqURLOutputStream::toMemory();
  auto theirs = TnqHTTPRequestOperation::make(get(peer().http("/download?size=3000")));
  theirs->setOutputStream(stream);
  theirs->start();
  theirs->waitUntilFinished();
  ASSERT_FALSE(theirs->error());
  ASSERT_TRUE(stream->dataWrittenToMemory());
  EXPECT_EQ(stream->dataWrittenToMemory()->size(), 3000u);
  ASSERT_TRUE(theirs->responseData());
  EXPECT_EQ(*theirs->responseData(), *stream->dataWrittenToMemory());
}

// The body handed out is read-only: a completion that writes into the answer's bytes (where the
// object lets it, else into a copy of its own) leaves the operation's body and a view taken before
// as received.
TEST(HttpOperation, ACompletionThatChangesTheAnswerChangesItsOwnCopy) {
  const auto writeInto = [](const TnqResponseObject& object, pf::Bytes& own) -> pf::Bytes& {
    if (auto writable = object.as<pf::Bytes>()) return *writable;
    own = *TnqResponseBytes(object);
    return own;
  };
  const pf::Bytes received = pf::toBytes("hello");

  auto manager = restManager();
  std::shared_ptr<const pf::Bytes> earlier;
  pf::Bytes own;
  bool done = false;
  auto op = manager->HTTPRequestOperationWithRequest(
      get(peer().http("/hello")),
      [&](const std::shared_ptr<TnqHTTPRequestOperation>& operation, const TnqResponseObject& object) {
        earlier = operation->responseData();
        pf::Bytes& bytes = writeInto(object, own);
        bytes[0] = 'j';
        bytes.push_back('!');
        done = true;
      },
      [&](auto&, auto&) { done = true; });
  manager->operationQueue->addOperation(op);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done; }, 20));
  EXPECT_EQ(pf::toString(own), "jello!");
  ASSERT_TRUE(op->responseData() && earlier);
  EXPECT_EQ(*op->responseData(), received);
  EXPECT_EQ(*earlier, received);
  EXPECT_EQ(*TnqResponseBytes(op->responseObject()), received);
  EXPECT_EQ(op->responseString(), "hello");
}

TEST(HttpOperation, PauseAsksForTheRestWithRangeAndIfRange) {
  auto op = TnqHTTPRequestOperation::make(get(peer().http("/range?stall=1")));
  bool done = false;
  op->setCompletionBlockWithSuccess([&](auto&, auto&) { done = true; }, [&](auto&, auto&) { done = true; });
  op->start();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return op->totalBytesRead() >= 1000; }, 20));
  op->pause();
  EXPECT_TRUE(op->isPaused());
  EXPECT_EQ(op->request().valueForHttpHeaderField("Range"), "bytes=1000-");
  EXPECT_EQ(op->request().valueForHttpHeaderField("If-Range"), "\"v1\"");
  op->resume();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done; }, 20));
  EXPECT_FALSE(op->error());
  ASSERT_TRUE(op->responseData());
  ASSERT_EQ(op->responseData()->size(), 2000u);
  for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ((*op->responseData())[i], static_cast<std::uint8_t>((i * 7) & 0xFF)) << i;
}

TEST(HttpOperation, AResumedAnswerThatStartsOverReplacesTheEarlierBytes) {
  // The tag no longer matches: the server sends the whole body with 200.
  auto op = TnqHTTPRequestOperation::make(get(peer().http("/range?stall=1")));
  bool done = false;
  op->setCompletionBlockWithSuccess([&](auto&, auto&) { done = true; }, [&](auto&, auto&) { done = true; });
  op->start();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return op->totalBytesRead() >= 1000; }, 20));
  op->pause();
  auto request = op->request();
  request.setValue("\"v2\"", "If-Range");
  request.setUrl(pf::Url::parse(peer().http("/range")));
  op->setRequest(request);
  op->resume();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done; }, 20));
  EXPECT_EQ(op->response()->statusCode(), 200);
  ASSERT_TRUE(op->responseData());
  EXPECT_EQ(op->responseData()->size(), 2000u);
  EXPECT_EQ((*op->responseData())[1], 7);

  // A memory stream of the caller's own is theirs: it keeps its earlier bytes and stays the
  // operation's stream, and the answer that starts over fails rather than being spliced on.
  auto theirs = TnqURLOutputStream::toMemory();
  auto kept = TnqHTTPRequestOperation::make(get(peer().http("/range?stall=1")));
  kept->setOutputStream(theirs);
  done = false;
  std::optional<pf::Error> failure;
  kept->setCompletionBlockWithSuccess([&](auto&, auto&) { done = true; }, [&](auto&, const pf::Error& e) { failure = e, done = true; });
  kept->start();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return kept->totalBytesRead() >= 1000; }, 20));
  kept->pause();
  const std::size_t before = theirs->dataWrittenToMemory()->size();
  request = kept->request();
  request.setValue("\"v2\"", "If-Range");
  request.setUrl(pf::Url::parse(peer().http("/range")));
  kept->setRequest(request);
  kept->resume();
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return done; }, 20));
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, pf::UrlErrorCode::kBadServerResponse);
  EXPECT_EQ(kept->outputStream(), theirs);
  EXPECT_EQ(theirs->dataWrittenToMemory()->size(), before);
}

TEST(HttpOperation, ManagerVerbsResolveAgainstTheBaseUrl) {
  EXPECT_EQ(TnqNormalizedBaseURL(pf::Url::parse("http://h/api"))->absoluteString(), "http://h/api/");
  EXPECT_EQ(TnqNormalizedBaseURL(pf::Url::parse("http://h"))->absoluteString(), pf::Url::parse("http://h")->absoluteString());
  EXPECT_EQ(pf::Url::parse("users", *TnqNormalizedBaseURL(pf::Url::parse("http://h/api")))->absoluteString(),
            "http://h/api/users");

  auto manager = TnqHTTPRequestOperationManager::initWithBaseURL(pf::Url::parse(peer().http("/")));
  Outcome got;
  manager->GET("echo", pf::Value{{"q", "a b"}}, got.success(), got.failure());
  ASSERT_TRUE(got.wait());
  ASSERT_TRUE(got.object.value()) << (got.error ? pf::description(*got.error) : "");
  EXPECT_EQ((*got.object.value())["method"], "GET");
  EXPECT_EQ((*got.object.value())["query"], "q=a%20b");

  Outcome posted;
  manager->POST("echo", pf::Value{{"k", "v"}}, posted.success(), posted.failure());
  ASSERT_TRUE(posted.wait());
  EXPECT_EQ((*posted.object.value())["body"], "k=v");

  Outcome head;
  bool headCalled = false;
  manager->HEAD("hello", std::nullopt, [&](const std::shared_ptr<TnqHTTPRequestOperation>& op) {
    headCalled = true, head.done = true, head.operation = op;
  }, head.failure());
  ASSERT_TRUE(head.wait());
  EXPECT_TRUE(headCalled);

  for (const char* verb : {"PUT", "PATCH", "DELETE"}) {
    Outcome o;
    auto call = std::string(verb) == "PUT" ? &TnqHTTPRequestOperationManager::PUT
                : std::string(verb) == "PATCH" ? &TnqHTTPRequestOperationManager::PATCH
                                               : &TnqHTTPRequestOperationManager::DELETE;
    ((*manager).*call)("echo", pf::Value{{"x", 1}}, o.success(), o.failure());
    ASSERT_TRUE(o.wait());
    EXPECT_EQ((*o.object.value())["method"], verb);
  }

  // A request that cannot be built: nothing queued, the failure block hears of it without an operation.
  auto bare = TnqHTTPRequestOperationManager::manager();
  EXPECT_EQ(bare->reachabilityManager, TnqNetworkReachabilityManager::sharedManager());
  Outcome bad;
  EXPECT_FALSE(bare->GET("no scheme here", std::nullopt, bad.success(), bad.failure()));
  ASSERT_TRUE(bad.wait());
  EXPECT_FALSE(bad.operation);
  EXPECT_EQ(bad.error->code, pf::UrlErrorCode::kBadUrl);
}

TEST(HttpOperation, MultipartUploadIsParsedByTheServer) {
  auto manager = TnqHTTPRequestOperationManager::initWithBaseURL(pf::Url::parse(peer().http("/")));
  Outcome outcome;
  manager->POST(
      "multipart", pf::Value{{"field", "value"}},
      [](TnqMultipartFormData& form) {
        form.appendPartWithFileData(pf::toBytes("file body"), "up\"load", "a \"b\".txt", "text/plain");
      },
      outcome.success(), outcome.failure());
  ASSERT_TRUE(outcome.wait());
  ASSERT_TRUE(outcome.object.value()) << (outcome.error ? pf::description(*outcome.error) : "");
  const pf::Value& result = *outcome.object.value();
  EXPECT_EQ(result["length_ok"], true);
  EXPECT_EQ(result["defects"], 0);
  ASSERT_EQ(result["parts"].size(), 2u);
  EXPECT_EQ(result["parts"][0]["name"], "field");
  EXPECT_EQ(result["parts"][0]["data"], "value");
  EXPECT_EQ(result["parts"][1]["name"], "up%22load");
  EXPECT_EQ(result["parts"][1]["filename"], "a %22b%22.txt");
  EXPECT_EQ(result["parts"][1]["content_type"], "text/plain");
  EXPECT_EQ(result["parts"][1]["data"], "file body");
}

TEST(HttpOperation, ArchivesCopiesAndBatches) {
  auto op = TnqHTTPRequestOperation::make(get(peer().http("/hello")));
  op->credential = pf::UrlCredential::withUser("u", "p");
  op->securityPolicy->allowInvalidCertificates = true;
  auto copy = op->copyOperation();
  EXPECT_FALSE(copy->credential);
  EXPECT_FALSE(copy->securityPolicy->allowInvalidCertificates);

  pf::Value archive;
  op->start();
  op->waitUntilFinished();
  op->encodeWithCoder(archive);
  EXPECT_EQ(archive["request"]["headers"]["Range"], "bytes=0-");  // encoding pauses first
  auto back = TnqHTTPRequestOperation::unarchive(pf::parseJson(pf::writeJson(archive).value()).value());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->state(), TnqURLConnectionOperation::Ready);  // ready to finished is no valid change
  ASSERT_TRUE(back->responseData());
  EXPECT_EQ(pf::toString(*back->responseData()), "hello");
  EXPECT_EQ(back->response()->statusCode(), 200);

  std::vector<std::shared_ptr<TnqURLConnectionOperation>> ops{TnqHTTPRequestOperation::make(get(peer().http("/hello"))),
                                                               TnqHTTPRequestOperation::make(get(peer().http("/echo")))};
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  bool completed = false;
  auto batch = TnqURLConnectionOperation::batchOfRequestOperations(
      ops, [&](std::size_t done, std::size_t total) { progress.emplace_back(done, total); },
      [&](const auto& all) { completed = all.size() == 2; });
  ASSERT_EQ(batch.size(), 3u);
  auto queue = pf::OperationQueue::make();
  for (auto& o : batch) queue->addOperation(o);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return completed; }, 5)) << progress.size() << " " << ops[0]->isFinished() << ops[1]->isFinished() << batch[2]->isFinished();
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress.back().second, 2u);

  bool emptyCompleted = false;
  auto none = TnqURLConnectionOperation::batchOfRequestOperations({}, nullptr, [&](const auto& all) { emptyCompleted = all.empty(); });
  ASSERT_EQ(none.size(), 1u);
  queue->addOperation(none[0]);
  ASSERT_TRUE(pf::RunLoop::main()->spinUntil([&] { return emptyCompleted; }, 20));
}

TEST(HttpOperation, FinishedOperationsAreReleased) {
  // Nothing may keep a finished operation alive: not the manager, its queue, the blocks, nor a
  // main queue that is not running (a headless caller waiting on its own completion queue).
  auto manager = TnqHTTPRequestOperationManager::manager();
  manager->responseSerializer = TnqHTTPResponseSerializer::serializer();
  manager->completionQueue = pf::DispatchQueue::makeSerial("test.completion");
  constexpr int kCount = 40;
  std::vector<std::weak_ptr<TnqHTTPRequestOperation>> made;
  std::atomic<int> finished{0};
  auto allFinished = pf::DispatchSemaphore::make(0);
  auto count = [&] {
    if (++finished == kCount) allFinished->signal();
  };
  for (int i = 0; i < kCount; ++i) {
    auto operation = manager->GET(
        peer().http("/hello"), std::nullopt,
        [&](const std::shared_ptr<TnqHTTPRequestOperation>&, const TnqResponseObject&) { count(); },
        [&](const std::shared_ptr<TnqHTTPRequestOperation>&, const pf::Error&) { count(); });
    ASSERT_TRUE(operation);
    made.push_back(operation);
  }
  ASSERT_TRUE(allFinished->wait(20));
  // The processing and completion queues let go right after the blocks ran.
  auto released = [&] {
    return std::all_of(made.begin(), made.end(), [](const auto& weak) { return weak.expired(); });
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!released() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(released());
}
