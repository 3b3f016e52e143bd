#include "appnet/TnqWebSocket.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadChecker.h"
#include "platform/security/Random.h"

namespace appnet {

namespace {

// Bytes per read call (as much as a stream holds); reading goes on while a read fills the whole chunk.
constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kCompactThreshold = 4096;
// Drained read storage up to this size is kept for the next reads (with the default message limit
// an inbox holds at most 2 MiB, in storage grown by doubling); a larger one is let go.
constexpr std::size_t kKeptReadStorage = 4u << 20;
// What a byte not yet parsed may cost once parsed: a frame of two bytes is a message or a call.
constexpr std::uint64_t kUnparsedCost = TnqWebSocket::kDeliveryCost / 2;
// The least bound on what is held: whatever waits unparsed (a handshake answer, a frame cut off)
// must stay below it, or reading could never go on.
constexpr std::uint64_t kLeastHeldBound = 4 * kMaxHandshakeResponse;
// A stream whose bytes arrive again within kBusyInterval of the last read is under load: before
// reading, the network thread waits so that the peer's small frames gather into one read instead
// of each waking the thread (a wake-up the peer's sending pays for) and each costing a hop to the
// work queue and one to the delegate queue. The wait starts at kFirstGatherPause and doubles
// while the load lasts, up to kLongestGatherPause; a quiet kBusyInterval starts it afresh, so an
// isolated message or a short burst is read at once or nearly so.
constexpr auto kBusyInterval = std::chrono::microseconds(200);
constexpr auto kFirstGatherPause = std::chrono::microseconds(20);
constexpr auto kLongestGatherPause = std::chrono::microseconds(2000);
constexpr const char* kInvalidText = "Text frames must be valid UTF-8";

pf::Error makeError(const char* domain, std::int64_t code, const std::string& description) {
  pf::Value info = pf::Value::object();
  info[pf::kLocalizedDescriptionKey] = description;
  return pf::Error(domain, code, std::move(info));
}

// Appends `bytes`, the buffer's storage doubling as a vector's does but never past `most` (what it
// may ever have to hold).
void appendWithin(pf::Bytes& buffer, std::span<const std::uint8_t> bytes, std::size_t most) {
  const std::size_t needed = buffer.size() + bytes.size();
  if (needed > buffer.capacity()) buffer.reserve(std::max(needed, std::min(2 * buffer.capacity(), most)));
  buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

constexpr unsigned kAllStreamEvents = pf::kStreamEventOpenCompleted | pf::kStreamEventHasBytesAvailable |
                                      pf::kStreamEventCanAcceptBytes | pf::kStreamEventErrorOccurred |
                                      pf::kStreamEventEndEncountered;

}  // namespace

// ---------------------------------------------------------------- creation

std::shared_ptr<pf::RunLoop> TnqWebSocket::Tnq_networkRunLoop() {
  // One thread for the life of the process (never destroyed, so exit does not wait for it).
  static const auto* thread = new std::shared_ptr<pf::Thread>(pf::Thread::makeRunLoopThread("com.tnq.WsNet"));
  static const std::shared_ptr<pf::RunLoop> loop = (*thread)->runLoop();
  return loop;
}

TnqWebSocket::TnqWebSocket(TnqWebSocketRequest request, WsURL url, std::vector<std::string> protocols,
                           bool allowsUntrusted)
    : request_(std::move(request)),
      url_(std::move(url)),
      requestedProtocols_(std::move(protocols)),
      allowsUntrustedSSLCertificates_(allowsUntrusted),
      secure_(url_.secure()) {}

std::shared_ptr<TnqWebSocket> TnqWebSocket::initWithURLRequest(TnqWebSocketRequest request,
                                                               std::vector<std::string> protocols,
                                                               bool allowsUntrustedSSLCertificates) {
  auto url = WsURL::parse(request.url);
  if (!url) throw pf::Exception(pf::kInvalidArgumentException, "unsupported WebSocket URL: " + request.url);
  std::shared_ptr<TnqWebSocket> socket(
      new TnqWebSocket(std::move(request), std::move(*url), std::move(protocols), allowsUntrustedSSLCertificates));
  socket->commonInit();
  return socket;
}

std::shared_ptr<TnqWebSocket> TnqWebSocket::initWithURL(const std::string& url, std::vector<std::string> protocols,
                                                        bool allowsUntrustedSSLCertificates) {
  TnqWebSocketRequest request;
  request.url = url;
  return initWithURLRequest(std::move(request), std::move(protocols), allowsUntrustedSSLCertificates);
}

void TnqWebSocket::commonInit() {
  workQueue_ = pf::DispatchQueue::makeSerial("com.tnq.websocket.work");
  workQueue_->setSpecific(this, std::shared_ptr<void>(workQueue_.get(), [](void*) {}));
  {
    pf::MutexLock lock(mutex_);
    delegateDispatchQueue_ = pf::DispatchQueue::main();
  }
  streams_ = pf::SocketStream::pairToHost(url_.host, url_.effectivePort());
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  auto client = [weak](pf::SocketStream& stream, pf::StreamEvent event) {
    if (auto self = weak.lock()) self->onStreamEvent(stream, event);
  };
  streams_.input->setClient(kAllStreamEvents, client);
  streams_.output->setClient(kAllStreamEvents, client);
}

TnqWebSocket::~TnqWebSocket() {
  // The streams belong to the network thread: close them there.
  auto streams = streams_;
  std::vector<std::pair<std::shared_ptr<pf::RunLoop>, pf::RunLoopMode>> pairs(scheduledRunloops_.begin(),
                                                                               scheduledRunloops_.end());
  auto loop = pairs.empty() ? Tnq_networkRunLoop() : pairs.front().first;
  loop->perform([streams, pairs] {
    for (pf::SocketStream* s : {static_cast<pf::SocketStream*>(streams.input.get()),
                                static_cast<pf::SocketStream*>(streams.output.get())}) {
      if (!s) continue;
      s->setClient(0, nullptr);
      s->close();
      for (const auto& [runLoop, mode] : pairs) s->unscheduleFromRunLoop(runLoop, mode);
    }
  });
}

// ---------------------------------------------------------------- properties

void TnqWebSocket::setDelegate(std::weak_ptr<TnqWebSocketDelegate> delegate) {
  pf::MutexLock lock(mutex_);
  delegate_ = std::move(delegate);
  ++delegateGeneration_;
}

std::shared_ptr<TnqWebSocketDelegate> TnqWebSocket::delegate() const {
  pf::MutexLock lock(mutex_);
  return delegate_.lock();
}

void TnqWebSocket::setDelegateDispatchQueue(std::shared_ptr<pf::DispatchQueue> queue) {
  pf::MutexLock lock(mutex_);
  delegateDispatchQueue_ = queue ? std::move(queue) : pf::DispatchQueue::main();
}

void TnqWebSocket::setDelegateOperationQueue(std::shared_ptr<pf::OperationQueue> queue) {
  pf::MutexLock lock(mutex_);
  delegateOperationQueue_ = std::move(queue);
}

void TnqWebSocket::setRequestCookies(std::vector<std::pair<std::string, std::string>> cookies) {
  pf::MutexLock lock(mutex_);
  requestCookies_ = std::move(cookies);
}

void TnqWebSocket::setMaximumMessageSize(std::uint64_t bytes) { maximumMessageSize_ = bytes; }

void TnqWebSocket::setReadyStateObserver(std::function<void(TnqReadyState)> observer) {
  pf::MutexLock lock(mutex_);
  readyStateObserver_ = std::move(observer);
}

std::string TnqWebSocket::protocol() const {
  pf::MutexLock lock(mutex_);
  return protocol_;
}

std::optional<WsHandshakeResponse> TnqWebSocket::receivedHTTPHeaders() const {
  pf::MutexLock lock(mutex_);
  return receivedHTTPHeaders_;
}

void TnqWebSocket::scheduleInRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, const pf::RunLoopMode& mode) {
  bool started;
  {
    pf::MutexLock lock(mutex_);
    scheduledRunloops_.insert({runLoop, mode});
    started = opened_;
  }
  if (started) {
    auto streams = streams_;
    runLoop->perform([streams, runLoop, mode] {
      streams.input->scheduleInRunLoop(runLoop, mode);
      streams.output->scheduleInRunLoop(runLoop, mode);
    });
  }
}

void TnqWebSocket::unscheduleFromRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, const pf::RunLoopMode& mode) {
  {
    pf::MutexLock lock(mutex_);
    scheduledRunloops_.erase({runLoop, mode});
  }
  auto streams = streams_;
  runLoop->perform([streams, runLoop, mode] {
    streams.input->unscheduleFromRunLoop(runLoop, mode);
    streams.output->unscheduleFromRunLoop(runLoop, mode);
  });
}

// ---------------------------------------------------------------- opening

void TnqWebSocket::open() {
  std::shared_ptr<pf::RunLoop> loop;
  std::vector<std::pair<std::shared_ptr<pf::RunLoop>, pf::RunLoopMode>> pairs;
  {
    pf::MutexLock lock(mutex_);
    if (opened_) throw pf::Exception(pf::kInternalInconsistencyException, "a WebSocket is opened once");
    opened_ = true;
    selfRetain_ = shared_from_this();
    if (scheduledRunloops_.empty()) scheduledRunloops_.insert({Tnq_networkRunLoop(), pf::kDefaultRunLoopMode});
    pairs.assign(scheduledRunloops_.begin(), scheduledRunloops_.end());
    loop = pairs.front().first;
  }
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  if (request_.timeoutInterval > 0) {
    pf::DispatchQueue::main()->after(request_.timeoutInterval, [weak] {
      auto self = weak.lock();
      if (self && self->readyState() == TnqReadyState::Connecting)
        self->onWorkQueue([self] {
          if (self->readyState() == TnqReadyState::Connecting)
            self->failWithError(makeError(kTnqWebSocketTimeoutErrorDomain, 504, "Timeout Connecting to Server"));
        });
    });
  }
  auto self = shared_from_this();
  loop->perform([self, pairs] {
    if (self->secure_) {
      pf::TlsSettings tls;
      // The chain and the host name are verified unless untrusted certificates were asked for, or
      // certificates are pinned (then the pins decide).
      tls.validatesCertificateChain =
          !self->allowsUntrustedSSLCertificates_ && self->request_.pinnedCertificates.empty();
      self->streams_.output->setTlsSettings(tls);
    }
    for (const auto& [runLoop, mode] : pairs) {
      self->streams_.input->scheduleInRunLoop(runLoop, mode);
      self->streams_.output->scheduleInRunLoop(runLoop, mode);
    }
    self->streams_.output->open();
    self->streams_.input->open();
  });
}

template <typename F>
void TnqWebSocket::onWorkQueue(F&& block) {
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  workQueue_->async([weak, b = std::forward<F>(block)]() mutable {
    if (auto self = weak.lock()) {
      b();
      self->flushDeliveries();
      self->publishWorkHeld();
    }
  });
}

std::shared_ptr<pf::RunLoop> TnqWebSocket::networkLoop() const {
  pf::MutexLock lock(mutex_);
  return scheduledRunloops_.empty() ? Tnq_networkRunLoop() : scheduledRunloops_.begin()->first;
}

// ---------------------------------------------------------------- network thread

bool TnqWebSocket::checkPinnedCertificates(pf::SocketStream& stream) {
  for (const pf::Bytes& der : stream.peerCertificateChain()) {
    for (const pf::Certificate& pinned : request_.pinnedCertificates) {
      if (pinned.der() == der) {
        pinnedCertFound_ = true;
        return true;
      }
    }
  }
  return false;
}

void TnqWebSocket::onStreamEvent(pf::SocketStream& stream, pf::StreamEvent event) {
  const bool fromInput = stream.isReadStream();
  if (secure_ && !pinnedCertFound_ && !request_.pinnedCertificates.empty() &&
      (event == pf::kStreamEventHasBytesAvailable || event == pf::kStreamEventCanAcceptBytes)) {
    if (!checkPinnedCertificates(stream)) {
      onWorkQueue([this] { failWithError(makeError(kTnqWebSocketCertificateErrorDomain, 23556, "Invalid server cert")); });
      return;
    }
    if (!fromInput) onWorkQueue([this] { didConnect(); });
  }
  switch (event) {
    case pf::kStreamEventOpenCompleted:
      onWorkQueue([this, fromInput] {
        if (readyState() > TnqReadyState::Open) return;
        if ((!secure_ || request_.pinnedCertificates.empty()) && readyState() == TnqReadyState::Connecting &&
            fromInput)
          didConnect();
        pumpScanner();
      });
      netPumpWriting();
      break;
    case pf::kStreamEventHasBytesAvailable:
      if (std::chrono::steady_clock::now() - lastRead_ < kBusyInterval && !readHeldBack()) {
        std::this_thread::sleep_for(gatherPause_);
        gatherPause_ = std::min(gatherPause_ * 2, std::chrono::microseconds(kLongestGatherPause));
      } else {
        gatherPause_ = kFirstGatherPause;
      }
      netRead(true);
      break;
    case pf::kStreamEventCanAcceptBytes:
      netPumpWriting();
      break;
    case pf::kStreamEventErrorOccurred: {
      auto error = stream.error().toError().value_or(makeError(pf::kPosixErrorDomain, 5, "stream error"));
      onWorkQueue([this, error] {
        failWithError(error);
        readBuffer_.clear();
        readBufferOffset_ = 0;
      });
      break;
    }
    case pf::kStreamEventEndEncountered: {
      std::optional<pf::Error> error;
      if (stream.status() == pf::StreamStatus::Error) error = stream.error().toError();
      onWorkQueue([this, error] { streamEnded(error); });
      break;
    }
    default:
      break;
  }
}

void TnqWebSocket::netRead(bool eventPromised) {
  // Later reads ask first (a read blocks when nothing is there). Bytes go straight into the inbox;
  // one drain is queued at a time, so a work queue that falls behind takes many reads in one go.
  // Reading stops, before a read, while too much is held: the stream keeps its bytes (and the
  // kernel the rest) and sends no further has-bytes event until it is read again, which the
  // thread that lowers what is held has this thread do (resumeReading).
  std::optional<pf::Error> error;
  bool schedule = false;
  auto& input = *streams_.input;
  for (bool first = true; (first && eventPromised) || input.hasBytesAvailable(); first = false) {
    std::size_t room;
    {
      pf::MutexLock lock(inboxMutex_);
      room = readRoom();
      if (room == 0) {
        readingPaused_ = true;
        break;
      }
    }
    const long n = input.read(netReadBuffer_.data(), room);
    if (n > 0) {
      pf::MutexLock lock(inboxMutex_);
      if (inbox_.empty() && inbox_.capacity() < inboxSpare_.capacity()) inbox_.swap(inboxSpare_);
      appendWithin(inbox_, std::span<const std::uint8_t>(netReadBuffer_.data(), static_cast<std::size_t>(n)),
                   inboxLimit());
      if (!inboxScheduled_) schedule = inboxScheduled_ = true;
    }
    if (n < 0) error = input.error().toError();
    if (n < static_cast<long>(room)) break;
  }
  if (schedule) onWorkQueue([this] { drainInbox(); });
  if (error) onWorkQueue([this, error] { failWithError(*error); });
  lastRead_ = std::chrono::steady_clock::now();
}

void TnqWebSocket::netWrite(pf::Bytes bytes) {
  if (netCloseWhenFinishedWriting_ || netOutputOverflowed_) return;
  const std::size_t waiting = outputBuffer_.size() - outputBufferOffset_;
  if (waiting > 0 && bytes.size() > kMaximumOutputBuffer - std::min(waiting, kMaximumOutputBuffer)) {
    // The peer does not read: what waits for it is dropped and the socket fails, instead of the
    // buffer growing for as long as frames keep coming.
    netOutputOverflowed_ = true;
    pf::Bytes().swap(outputBuffer_);
    outputBufferOffset_ = 0;
    onWorkQueue([this] {
      failWithError(makeError(kTnqWebSocketErrorDomain, 2145, "Error writing to stream: the peer does not read"));
    });
    return;
  }
  if (outputBufferOffset_ == outputBuffer_.size()) {
    outputBuffer_ = std::move(bytes);
    outputBufferOffset_ = 0;
  } else {
    outputBuffer_.insert(outputBuffer_.end(), bytes.begin(), bytes.end());
  }
  netPumpWriting();
}

void TnqWebSocket::netCloseWhenFinished() {
  netCloseWhenFinishedWriting_ = true;
  netPumpWriting();
}

void TnqWebSocket::netPumpWriting() {
  auto& output = *streams_.output;
  while (outputBufferOffset_ < outputBuffer_.size() && output.hasSpaceAvailable()) {
    const long n = output.write(outputBuffer_.data() + outputBufferOffset_, outputBuffer_.size() - outputBufferOffset_);
    if (n < 0) {
      if (netCloseWhenFinishedWriting_) {
        // Closing anyway: what could not be written is dropped.
        outputBufferOffset_ = outputBuffer_.size();
        break;
      }
      onWorkQueue([this] { failWithError(makeError(kTnqWebSocketErrorDomain, 2145, "Error writing to stream")); });
      return;
    }
    outputBufferOffset_ += static_cast<std::size_t>(n);
  }
  if (outputBufferOffset_ == outputBuffer_.size()) {
    outputBuffer_.clear();
    outputBufferOffset_ = 0;
  } else if (outputBufferOffset_ > kCompactThreshold && outputBufferOffset_ > outputBuffer_.size() / 2) {
    outputBuffer_.erase(outputBuffer_.begin(), outputBuffer_.begin() + static_cast<long>(outputBufferOffset_));
    outputBufferOffset_ = 0;
  }
  const auto inputStatus = streams_.input->status();
  if (netCloseWhenFinishedWriting_ && outputBuffer_.empty() && inputStatus != pf::StreamStatus::NotOpen &&
      inputStatus != pf::StreamStatus::Closed && !sentClose_.exchange(true)) {
    netCloseStreams();
    onWorkQueue([this] {
      reportClose();
      scheduleCleanup();
    });
  }
}

void TnqWebSocket::netCloseStreams() {
  std::vector<std::pair<std::shared_ptr<pf::RunLoop>, pf::RunLoopMode>> pairs;
  {
    pf::MutexLock lock(mutex_);
    pairs.assign(scheduledRunloops_.begin(), scheduledRunloops_.end());
  }
  for (pf::SocketStream* s : {static_cast<pf::SocketStream*>(streams_.input.get()),
                              static_cast<pf::SocketStream*>(streams_.output.get())}) {
    s->close();
    for (const auto& [runLoop, mode] : pairs) s->unscheduleFromRunLoop(runLoop, mode);
  }
}

// ---------------------------------------------------------------- handshake (work queue)

void TnqWebSocket::didConnect() {
  if (!secKey_.empty()) return;  // the request goes out once
  WsHeaderFields fields;
  const std::string host = url_.hostForHeader();
  fields.set("Host", url_.port ? host + ":" + std::to_string(*url_.port) : host);
  secKey_ = pf::base64Encode(pf::randomBytes(16));
  std::vector<std::pair<std::string, std::string>> cookies;
  {
    pf::MutexLock lock(mutex_);
    cookies = requestCookies_;
  }
  std::string cookieLine;
  for (const auto& [name, value] : cookies) {
    if (name.empty() || value.empty()) continue;
    if (!cookieLine.empty()) cookieLine += "; ";
    cookieLine += name + "=" + value;
  }
  if (!cookieLine.empty()) fields.set("Cookie", cookieLine);
  if (!url_.user.empty() && !url_.password.empty()) {
    basicAuthorizationString_ = "Basic " + pf::base64Encode(url_.user + ":" + url_.password);
    fields.set("Authorization", basicAuthorizationString_);
  }
  fields.set("Upgrade", "websocket");
  fields.set("Connection", "Upgrade");
  fields.set("Sec-WebSocket-Key", secKey_);
  fields.set("Sec-WebSocket-Version", std::to_string(webSocketVersion_));
  fields.set("Origin", url_.origin());
  if (!requestedProtocols_.empty()) fields.set("Sec-WebSocket-Protocol", pf::joinText(requestedProtocols_, ", "));
  for (const auto& [name, value] : request_.headers) fields.set(name, value);
  const std::string text = serializeUpgradeRequest(url_, fields);
  writeData(pf::Bytes(text.begin(), text.end()));
  readHTTPHeader();
}

void TnqWebSocket::readHTTPHeader() {
  addConsumerWithScanner(
      [](std::span<const std::uint8_t> bytes) -> std::size_t {
        const std::size_t end = scanHeaderEnd(bytes.first(std::min(bytes.size(), kMaxHandshakeResponse + 1)));
        // An answer header beyond the limit is taken whole and refused by the parser.
        if (end == 0 && bytes.size() > kMaxHandshakeResponse) return bytes.size();
        return end;
      },
      [](TnqWebSocket& socket, pf::Bytes bytes) {
        auto response = WsHandshakeResponse::parse(bytes);
        if (!response) {
          socket.failWithError(makeError(kTnqWebSocketErrorDomain, 2133, "Invalid HTTP upgrade response"));
          return;
        }
        {
          pf::MutexLock lock(socket.mutex_);
          socket.receivedHTTPHeaders_ = std::move(*response);
        }
        socket.httpHeadersDidFinish();
      });
}

void TnqWebSocket::httpHeadersDidFinish() {
  // An answer completing after close was asked for while connecting is ignored.
  if (readyState() != TnqReadyState::Connecting) return;
  WsHandshakeResponse response;
  {
    pf::MutexLock lock(mutex_);
    response = *receivedHTTPHeaders_;
  }
  if (response.statusCode >= 400) {
    auto error = makeError(kTnqWebSocketErrorDomain, 2132,
                           pf::format("received bad response code from server %ld", static_cast<long>(response.statusCode)));
    error.userInfo[kTnqHTTPResponseStatusCodeKey] = response.statusCode;
    failWithError(error);
    return;
  }
  const auto accept = response.headers.get("Sec-WebSocket-Accept");
  if (!accept || *accept != webSocketAcceptFor(secKey_)) {
    failWithError(makeError(kTnqWebSocketErrorDomain, 2133, "Invalid Sec-WebSocket-Accept response"));
    return;
  }
  if (const auto chosen = response.headers.get("Sec-WebSocket-Protocol")) {
    if (std::find(requestedProtocols_.begin(), requestedProtocols_.end(), *chosen) == requestedProtocols_.end()) {
      failWithError(makeError(kTnqWebSocketErrorDomain, 2133, "Server specified Sec-WebSocket-Protocol that wasn't requested"));
      return;
    }
    pf::MutexLock lock(mutex_);
    protocol_ = *chosen;
  }
  setReadyState(TnqReadyState::Open);
  deliver([](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) { d.webSocketDidOpen(s); });
  readFrameNew();
}

// ---------------------------------------------------------------- reading (work queue)

namespace {

// The storage a message's payload took (none for a short text kept inside the string itself).
std::size_t storageOf(const TnqWebSocketMessage& message) {
  static const std::size_t kInPlace = std::string().capacity();
  const auto* text = std::get_if<std::string>(&message);
  if (text) return text->capacity() > kInPlace ? text->capacity() : 0;
  return std::get<pf::Bytes>(message).capacity();
}

}  // namespace

void TnqWebSocket::drainInbox() {
  pf::Bytes bytes;
  {
    pf::MutexLock lock(inboxMutex_);
    bytes.swap(inbox_);
    inboxScheduled_ = false;
    // The bytes stay held, now on the work queue, until the block tells what is left of them.
    publishedWorkHeld_ += bytes.size() * kUnparsedCost;
    workHeld_ = publishedWorkHeld_;
  }
  takeReadBytes(bytes);
  // The storage goes back for the network thread to fill again.
  if (bytes.capacity() > kKeptReadStorage) return;
  pf::MutexLock lock(inboxMutex_);
  if (bytes.capacity() > inboxSpare_.capacity()) inboxSpare_.swap(bytes);
}

std::uint64_t TnqWebSocket::workHeldNow() const {
  // Bytes still to read count at the most they may cost while the read goes on; what is left once
  // it stopped is a frame cut off, at most one message, and counts as it is. Once reading has
  // stopped nothing more is kept. Calls not yet sent to the delegate queue count too.
  // The message being read counts at the storage it took, not at what it holds so far.
  const std::uint64_t unread = readingStopped_ ? 0 : readBuffer_.size() - readBufferOffset_;
  return unread * (isPumping_ ? kUnparsedCost : 1) + assembledCapacity() + pendingCost_;
}

void TnqWebSocket::publishWorkHeld() {
  const std::uint64_t held = workHeldNow();
  if (held == publishedWorkHeld_) return;
  publishedWorkHeld_ = held;
  bool resume;
  {
    pf::MutexLock lock(inboxMutex_);
    workHeld_ = held;
    resume = unpauseIfDrained();
  }
  if (resume) resumeReading();
}

std::uint64_t TnqWebSocket::heldBound() const {
  const std::uint64_t largest = maximumMessageSize_.load();
  return largest > UINT64_MAX / kHeldMessages ? UINT64_MAX : std::max(largest * kHeldMessages, kLeastHeldBound);
}

std::size_t TnqWebSocket::inboxLimit() const {
  // Each read takes no more than what is left below the bound at kUnparsedCost a byte, and at least
  // one byte: the inbox's bytes never pass this.
  return static_cast<std::size_t>(std::min<std::uint64_t>(heldBound() / kUnparsedCost + 1, SIZE_MAX));
}

std::uint64_t TnqWebSocket::held() const { return inbox_.size() * kUnparsedCost + workHeld_ + delegateHeld_; }

std::size_t TnqWebSocket::readRoom() const {
  const std::uint64_t bound = heldBound();
  const std::uint64_t now = held();
  if (now >= bound) return 0;
  return static_cast<std::size_t>(std::clamp<std::uint64_t>((bound - now) / kUnparsedCost, 1, kReadChunk));
}

bool TnqWebSocket::readHeldBack() const {
  pf::MutexLock lock(inboxMutex_);
  return readRoom() < kReadChunk;
}

bool TnqWebSocket::unpauseIfDrained() {
  if (!readingPaused_ || readRoom() == 0) return false;
  readingPaused_ = false;
  return true;
}

void TnqWebSocket::resumeReading() {
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  networkLoop()->perform([weak] {
    if (auto self = weak.lock()) self->netRead(false);
  });
}

std::uint64_t TnqWebSocket::heldBytes() const {
  pf::MutexLock lock(inboxMutex_);
  return held();
}

bool TnqWebSocket::isReadingPaused() const {
  pf::MutexLock lock(inboxMutex_);
  return readingPaused_;
}

bool TnqWebSocket::hasDeliveriesWaiting() const {
  pf::MutexLock lock(inboxMutex_);
  return delegateHeld_ > 0;
}

void TnqWebSocket::appendReadBytes(pf::Bytes bytes) { takeReadBytes(bytes); }

void TnqWebSocket::takeReadBytes(pf::Bytes& bytes) {
  PF_ASSERT_ON(pf::ThreadChecker::queue(workQueue_));
  // Once reading has stopped (a fault, a close frame, the end) nothing more is kept.
  if (bytes.empty() || readingStopped_ || readyState() == TnqReadyState::Closed) {
    bytes.clear();
    return;
  }
  if (readBufferOffset_ == readBuffer_.size()) {
    readBuffer_.swap(bytes);
    readBufferOffset_ = 0;
  } else {
    // What is left unread (a frame cut off) moves to the front first: the buffer then holds no
    // more than it and one inbox.
    readBuffer_.erase(readBuffer_.begin(), readBuffer_.begin() + static_cast<long>(readBufferOffset_));
    readBufferOffset_ = 0;
    appendWithin(readBuffer_, bytes, readBuffer_.size() + inboxLimit());
  }
  bytes.clear();
  pumpScanner();
}

void TnqWebSocket::addConsumerWithScanner(TnqIOConsumer::Scanner scanner, TnqIOConsumer::Handler handler) {
  consumers_.push_back(consumerPool_.consumerWithScanner(std::move(scanner), std::move(handler), 0, false, false));
  pumpScanner();
}

void TnqWebSocket::addConsumerWithDataLength(std::uint64_t length, TnqIOConsumer::Handler handler,
                                             bool readToCurrentFrame, bool unmaskBytes) {
  consumers_.push_back(
      consumerPool_.consumerWithScanner(nullptr, std::move(handler), length, readToCurrentFrame, unmaskBytes));
  pumpScanner();
}

void TnqWebSocket::pumpScanner() {
  if (isPumping_) return;
  isPumping_ = true;
  std::size_t unread = readBuffer_.size() - readBufferOffset_;
  std::size_t readSinceTold = 0;
  while (innerPumpScanner()) {
    const std::size_t left = readBuffer_.size() - readBufferOffset_;
    readSinceTold += unread > left ? unread - left : 0;
    unread = left;
    if (readSinceTold >= kReadChunk) {
      // A large inbox is read in steps: after each, the bytes read stop counting at the most they
      // may cost and count as what they made, so the network thread reads on meanwhile.
      readSinceTold = 0;
      publishWorkHeld();
    }
  }
  isPumping_ = false;
}

bool TnqWebSocket::innerPumpScanner() {
  if (readingStopped_ || readyState() == TnqReadyState::Closed || consumers_.empty()) return false;
  const std::size_t available = readBuffer_.size() - readBufferOffset_;
  if (available == 0) return false;
  if (frameHeaderPending_ && consumers_.size() == 1) {
    const WholeFrame whole = readWholeDataFrame();
    if (whole != WholeFrame::NotHere) return whole == WholeFrame::Read;
  }
  auto consumer = consumers_.front();
  std::size_t taken = 0;
  if (consumer->consumer()) {
    taken = consumer->consumer()(std::span<const std::uint8_t>(readBuffer_.data() + readBufferOffset_, available));
  } else if (available >= consumer->bytesNeeded()) {
    taken = static_cast<std::size_t>(consumer->bytesNeeded());
  } else if (consumer->readToCurrentFrame()) {
    taken = available;
  }
  if (taken == 0) return false;
  const std::uint8_t* source = readBuffer_.data() + readBufferOffset_;

  if (consumer->readToCurrentFrame()) {
    std::uint8_t* added = appendToMessage(source, taken);
    readBufferOffset_ += taken;
    if (consumer->unmaskBytes()) ws::applyMask(added, taken, currentReadMaskKey_, currentReadMaskOffset_);
    ++readOpCount_;
    if (const auto* text = std::get_if<std::string>(&currentMessage_); text && !text->empty()) {
      const auto valid = ws::scanUtf8(
          std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()),
          currentStringScanPosition_);
      if (!valid) {
        closeForFault(ws::kCloseInvalidText, kInvalidText);
        return false;
      }
      currentStringScanPosition_ = *valid;
    }
    consumer->setBytesNeeded(consumer->bytesNeeded() - taken);
    if (consumer->bytesNeeded() == 0) {
      consumers_.pop_front();
      auto handler = consumer->handler();
      consumerPool_.returnConsumer(consumer);
      handler(*this, {});
    }
  } else {
    pf::Bytes bytes(source, source + taken);
    readBufferOffset_ += taken;
    if (consumer->unmaskBytes()) ws::applyMask(bytes.data(), bytes.size(), currentReadMaskKey_, currentReadMaskOffset_);
    consumers_.pop_front();
    auto handler = consumer->handler();
    consumerPool_.returnConsumer(consumer);
    handler(*this, std::move(bytes));
  }
  didConsumeReadBytes(0);
  return true;
}

TnqWebSocket::WholeFrame TnqWebSocket::readWholeDataFrame() {
  // The common case of a server's stream: a final text or binary frame that starts a message,
  // unmasked, wholly read. It becomes the message straight from the read buffer, without the
  // header and payload reads. Anything else (a fragment, a control frame, a fault, a frame not
  // yet whole) takes the general road, which also reports every fault.
  const std::uint8_t* at = readBuffer_.data() + readBufferOffset_;
  const std::size_t available = readBuffer_.size() - readBufferOffset_;
  if (available < 2 || currentFrameCount_ != 0) return WholeFrame::NotHere;
  ws::FrameHeader header = ws::parseHeaderStart(at[0], at[1]);
  if (!header.fin || header.rsv || header.masked || (header.opcode != ws::kOpText && header.opcode != ws::kOpBinary))
    return WholeFrame::NotHere;
  const std::size_t headerLength = 2 + ws::extraHeaderLength(at[1]);
  if (available < headerLength) return WholeFrame::NotHere;
  ws::parseHeaderRest(header, at[1], std::span<const std::uint8_t>(at + 2, headerLength - 2));
  if (header.payloadLength > maximumMessageSize_.load() || header.payloadLength > available - headerLength)
    return WholeFrame::NotHere;
  const std::uint8_t* payload = at + headerLength;
  const std::size_t length = static_cast<std::size_t>(header.payloadLength);
  if (header.opcode == ws::kOpText && !ws::isValidUtf8(std::span<const std::uint8_t>(payload, length))) {
    closeForFault(ws::kCloseInvalidText, kInvalidText);
    return WholeFrame::Stop;
  }
  // The header consumer stays at the front for the next frame, as readFrameNew would set it up.
  if (header.opcode == ws::kOpText)
    handleMessage(std::string(reinterpret_cast<const char*>(payload), length));
  else
    handleMessage(pf::Bytes(payload, payload + length));
  didConsumeReadBytes(headerLength + length);
  return WholeFrame::Read;
}

void TnqWebSocket::didConsumeReadBytes(std::size_t count) {
  readBufferOffset_ += count;
  if (readBufferOffset_ == readBuffer_.size()) {
    readBuffer_.clear();
    readBufferOffset_ = 0;
  } else if (readBufferOffset_ > kCompactThreshold && readBufferOffset_ > readBuffer_.size() / 2) {
    readBuffer_.erase(readBuffer_.begin(), readBuffer_.begin() + static_cast<long>(readBufferOffset_));
    readBufferOffset_ = 0;
  }
}

void TnqWebSocket::readFrameNew() {
  PF_ASSERT_ON(pf::ThreadChecker::queue(workQueue_));
  currentMessage_.emplace<std::string>();
  currentFrameOpcode_ = 0;
  currentFrameCount_ = 0;
  readOpCount_ = 0;
  currentStringScanPosition_ = 0;
  readFrameContinue();
}

void TnqWebSocket::readFrameContinue() {
  if ((currentFrameCount_ == 0) != (currentFrameOpcode_ == 0))
    throw pf::Exception(pf::kInternalInconsistencyException, "frame count and opcode disagree");
  frameHeaderPending_ = true;
  addConsumerWithDataLength(
      2,
      [](TnqWebSocket& socket, pf::Bytes bytes) {
        socket.frameHeaderPending_ = false;
        ws::FrameHeader header = ws::parseHeaderStart(bytes[0], bytes[1]);
        if (header.rsv) return socket.closeWithProtocolError("Server used RSV bits");
        if (!ws::isControlOpcode(header.opcode)) {
          if (header.opcode != ws::kOpContinuation && socket.currentFrameCount_ > 0)
            return socket.closeWithProtocolError("all data frames after the initial data frame must have opcode 0");
          if (header.opcode == ws::kOpContinuation && socket.currentFrameCount_ == 0)
            return socket.closeWithProtocolError("cannot continue a message");
          if (header.opcode == ws::kOpContinuation) header.opcode = socket.currentFrameOpcode_;
        }
        if (header.masked) return socket.closeWithProtocolError("Client must receive unmasked data");
        const std::uint8_t byte1 = bytes[1];
        const std::size_t extra = ws::extraHeaderLength(byte1);
        if (extra == 0) return socket.handleFrameHeader(header);
        socket.addConsumerWithDataLength(
            extra,
            [header, byte1](TnqWebSocket& s, pf::Bytes rest) mutable {
              ws::parseHeaderRest(header, byte1, rest);
              s.handleFrameHeader(header);
            },
            false, false);
      },
      false, false);
}

void TnqWebSocket::handleFrameHeader(const ws::FrameHeader& header) {
  if (readyState() == TnqReadyState::Closed) return;
  const bool control = ws::isControlOpcode(header.opcode);
  if (!ws::isKnownOpcode(header.opcode))
    return closeWithProtocolError(pf::format("Unknown opcode %ld", static_cast<long>(header.opcode)));
  if (control && !header.fin) return closeWithProtocolError("Fragmented control frames not allowed");
  if (control && header.payloadLength > ws::kMaxControlPayload)
    return closeWithProtocolError("Control frames cannot have payloads larger than 126 bytes");
  if (!control) {
    const std::uint64_t limit = maximumMessageSize_.load();
    const std::size_t assembled = currentFrameCount_ == 0 ? 0 : assembledSize();
    if (header.payloadLength > limit || assembled > limit - header.payloadLength)
      return closeForFault(ws::kCloseMessageTooBig, "Message too big");
    // A message is gathered in the type it is delivered as, so it is never copied whole.
    if (currentFrameCount_ == 0) {
      if (header.opcode == ws::kOpText)
        currentMessage_.emplace<std::string>();
      else
        currentMessage_.emplace<pf::Bytes>();
    }
    currentFrameOpcode_ = header.opcode;
    ++currentFrameCount_;
  }
  if (header.masked) std::memcpy(currentReadMaskKey_, header.maskKey, 4);
  const std::uint8_t opcode = header.opcode;
  const bool fin = header.fin;
  if (header.payloadLength > 0) {
    if (control) {
      addConsumerWithDataLength(
          header.payloadLength,
          [opcode](TnqWebSocket& s, pf::Bytes bytes) { s.handleFrameWithData(std::move(bytes), opcode); }, false,
          header.masked);
    } else {
      addConsumerWithDataLength(
          header.payloadLength,
          [fin](TnqWebSocket& s, pf::Bytes) {
            if (fin)
              s.finishMessage();
            else
              s.readFrameContinue();
          },
          true, header.masked);
    }
  } else if (control) {
    handleFrameWithData({}, opcode);
  } else if (fin) {
    finishMessage();
  } else {
    readFrameContinue();
  }
}

std::size_t TnqWebSocket::assembledSize() const {
  return std::visit([](const auto& m) { return m.size(); }, currentMessage_);
}

std::size_t TnqWebSocket::assembledCapacity() const { return storageOf(currentMessage_); }

std::uint8_t* TnqWebSocket::appendToMessage(const std::uint8_t* bytes, std::size_t count) {
  // The frame's header checked that the message stays within the largest accepted.
  const std::uint64_t limit = std::max<std::uint64_t>(maximumMessageSize_.load(), assembledSize() + count);
  return std::visit(
      [&](auto& m) {
        const std::size_t start = m.size();
        if (start + count > m.capacity()) {
          // Twice the storage, as a container grows, but never past the largest message: into
          // storage of exactly that size (a text's own reserve could take twice what it had).
          std::remove_reference_t<decltype(m)> grown;
          grown.reserve(static_cast<std::size_t>(std::clamp<std::uint64_t>(2 * m.capacity(), start + count, limit)));
          grown.insert(grown.end(), m.begin(), m.end());
          m = std::move(grown);
        }
        m.insert(m.end(), bytes, bytes + count);
        return reinterpret_cast<std::uint8_t*>(m.data()) + start;
      },
      currentMessage_);
}

void TnqWebSocket::finishMessage() {
  TnqWebSocketMessage message = std::move(currentMessage_);
  // A text message is whole only when no cut-off character is left at its end.
  const auto* text = std::get_if<std::string>(&message);
  const bool complete = !text || currentStringScanPosition_ == text->size();
  readFrameNew();
  if (!complete) return closeForFault(ws::kCloseInvalidText, kInvalidText);
  handleMessage(std::move(message));
}

void TnqWebSocket::handleFrameWithData(pf::Bytes data, std::uint8_t opcode) {
  readFrameContinue();
  switch (opcode) {
    case ws::kOpClose:
      handleCloseWithData(data);
      break;
    case ws::kOpPing:
      handlePing(std::move(data));
      break;
    case ws::kOpPong: {
      const std::size_t size = data.size();
      deliver(
          [data = std::move(data)](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) {
            d.webSocketDidReceivePong(s, data);
          },
          size);
      break;
    }
    default:
      closeWithProtocolError(pf::format("Unknown opcode %ld", static_cast<long>(opcode)));
  }
}

void TnqWebSocket::handleMessage(TnqWebSocketMessage message) {
  static_assert(2 * sizeof(Delivery) + 32 <= kDeliveryCost, "a call's bookkeeping is counted in full");
  pendingCost_ += kDeliveryCost + storageOf(message);
  pendingDeliveries_.emplace_back(std::move(message));
}

void TnqWebSocket::handlePing(pf::Bytes data) {
  // Only the latest ping still unanswered is answered (the protocol allows it): a flood of pings
  // keeps one answer on its way, not one per ping. The answer goes back through the delegate queue
  // so that it follows the callbacks before the ping that started it.
  unansweredPing_ = std::move(data);
  if (pingAnswerScheduled_) return;
  pingAnswerScheduled_ = true;
  flushDeliveries();
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  auto block = [weak] {
    if (auto self = weak.lock()) self->onWorkQueue([self] { self->answerPing(); });
  };
  std::shared_ptr<pf::OperationQueue> operationQueue;
  std::shared_ptr<pf::DispatchQueue> dispatchQueue;
  {
    pf::MutexLock lock(mutex_);
    operationQueue = delegateOperationQueue_;
    dispatchQueue = delegateDispatchQueue_;
  }
  if (operationQueue)
    operationQueue->addOperation(std::function<void()>(block));
  else
    dispatchQueue->async(block);
}

void TnqWebSocket::answerPing() {
  pingAnswerScheduled_ = false;
  if (!unansweredPing_) return;
  const pf::Bytes payload = std::move(*unansweredPing_);
  unansweredPing_.reset();
  sendFrame(ws::kOpPong, payload);
}

void TnqWebSocket::handleCloseWithData(const pf::Bytes& data) {
  if (data.size() == 1) return closeWithProtocolError("Payload for close must be larger than 2 bytes");
  if (data.size() >= 2) {
    const int code = (data[0] << 8) | data[1];
    if (!ws::isValidCloseCode(code)) return closeWithProtocolError(pf::format("Cannot have close code of %d", code));
    std::span<const std::uint8_t> reason(data.data() + 2, data.size() - 2);
    if (!ws::isValidUtf8(reason)) return closeWithProtocolError("Close reason MUST be valid UTF-8");
    closeCode_ = code;
    closeReason_.assign(reason.begin(), reason.end());
  } else {
    closeCode_ = ws::kCloseNoStatus;
  }
  // Nothing after a close frame is read.
  readingStopped_ = true;
  if (readyState() == TnqReadyState::Open) closeOnWorkQueue(ws::kCloseNormal, {});
  closeConnection();
}

// ---------------------------------------------------------------- writing and closing (work queue)

void TnqWebSocket::writeData(pf::Bytes bytes) {
  if (closeWhenFinishedWriting_) return;
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  networkLoop()->perform([weak, bytes = std::move(bytes)]() mutable {
    if (auto self = weak.lock()) self->netWrite(std::move(bytes));
  });
}

void TnqWebSocket::sendFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
  std::uint8_t key[4];
  pf::fillRandomBytes(key);
  pf::Bytes frame;
  try {
    ws::appendClientFrame(frame, opcode, payload, key);
  } catch (const std::bad_alloc&) {
    closeOnWorkQueue(ws::kCloseMessageTooBig, "Message too big");
    return;
  }
  writeData(std::move(frame));
}

bool TnqWebSocket::send(const TnqWebSocketMessage& message) {
  if (readyState() != TnqReadyState::Open) return false;
  onWorkQueue([this, message] {
    if (readyState() != TnqReadyState::Open) return;
    if (const auto* text = std::get_if<std::string>(&message))
      sendFrame(ws::kOpText, std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
    else
      sendFrame(ws::kOpBinary, std::get<pf::Bytes>(message));
  });
  return true;
}

bool TnqWebSocket::sendPing(const pf::Bytes& payload) {
  if (readyState() != TnqReadyState::Open || payload.size() > ws::kMaxControlPayload) return false;
  onWorkQueue([this, payload] {
    if (readyState() == TnqReadyState::Open) sendFrame(ws::kOpPing, payload);
  });
  return true;
}

void TnqWebSocket::close() { closeWithCode(ws::kCloseNormal, {}); }

void TnqWebSocket::closeWithCode(int code, const std::string& reason) {
  onWorkQueue([this, code, reason] { closeOnWorkQueue(code, reason); });
}

void TnqWebSocket::closeOnWorkQueue(int code, const std::string& reason) {
  const TnqReadyState state = readyState();
  if (state == TnqReadyState::Closing || state == TnqReadyState::Closed) return;
  setReadyState(TnqReadyState::Closing);
  if (state == TnqReadyState::Connecting) {
    closeConnection();
    return;
  }
  sendFrame(ws::kOpClose, ws::closePayload(code, reason));
}

void TnqWebSocket::closeWithProtocolError(const std::string& message) { closeForFault(ws::kCloseProtocolError, message); }

void TnqWebSocket::closeForFault(int code, const std::string& reason) {
  readingStopped_ = true;
  if (!faultClose_) faultClose_ = std::make_pair(code, ws::truncateUtf8(reason));
  closeOnWorkQueue(code, reason);
  closeConnection();
}

void TnqWebSocket::closeConnection() {
  if (closeWhenFinishedWriting_) return;
  closeWhenFinishedWriting_ = true;
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  networkLoop()->perform([weak] {
    if (auto self = weak.lock()) self->netCloseWhenFinished();
  });
}

void TnqWebSocket::reportClose() {
  if (failed_) return;
  if (faultClose_) {
    const auto [code, reason] = *faultClose_;
    deliver([code = code, reason = reason](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) {
      d.webSocketDidCloseWithCode(s, code, reason, false);
    });
  } else {
    deliver([code = closeCode_, reason = closeReason_](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) {
      d.webSocketDidCloseWithCode(s, code, reason, true);
    });
  }
}

void TnqWebSocket::streamEnded(std::optional<pf::Error> streamError) {
  pumpScanner();
  if (streamError) {
    failWithError(*streamError);
    return;
  }
  setReadyState(TnqReadyState::Closed);
  // When the socket already decided to close, the writer (or the clean-up) reports how it ended.
  if (!closeWhenFinishedWriting_ && !failed_ && !sentClose_.exchange(true)) {
    deliver([](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) {
      d.webSocketDidCloseWithCode(s, ws::kCloseGoingAway, "Stream end encountered", false);
    });
  }
  scheduleCleanup();
}

void TnqWebSocket::failWithError(pf::Error error) {
  if (readyState() == TnqReadyState::Closed) return;
  failed_ = true;
  deliver([error](TnqWebSocketDelegate& d, const std::shared_ptr<TnqWebSocket>& s) { d.webSocketDidFailWithError(s, error); });
  setReadyState(TnqReadyState::Closed);
  closeConnection();
  scheduleCleanup();
}

void TnqWebSocket::setReadyState(TnqReadyState state) {
  TnqReadyState current = readyState_.load();
  // The state only ever moves forward.
  while (state > current && !readyState_.compare_exchange_weak(current, state)) {
  }
  if (state <= current) return;
  std::function<void(TnqReadyState)> observer;
  {
    pf::MutexLock lock(mutex_);
    observer = readyStateObserver_;
  }
  if (observer) observer(state);
}

void TnqWebSocket::scheduleCleanup() {
  std::shared_ptr<pf::RunLoop> loop;
  {
    pf::MutexLock lock(mutex_);
    if (cleanupScheduled_) return;
    cleanupScheduled_ = true;
    loop = scheduledRunloops_.empty() ? Tnq_networkRunLoop() : scheduledRunloops_.begin()->first;
  }
  std::weak_ptr<TnqWebSocket> weak = weak_from_this();
  loop->perform([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->streams_.input->setClient(0, nullptr);
    self->streams_.output->setClient(0, nullptr);
    // A close still waiting for its last bytes is reported now, as it ends here.
    const bool undecided = !self->sentClose_.exchange(true);
    self->netCloseStreams();
    self->onWorkQueue([self, undecided] {
      if (undecided && self->closeWhenFinishedWriting_) self->reportClose();
      pf::MutexLock lock(self->mutex_);
      self->selfRetain_.reset();
    });
  });
}

// ---------------------------------------------------------------- delegate

void TnqWebSocket::deliver(DelegateCall callback, std::size_t payloadBytes) {
  // Calls made while the work queue handles one block go to the delegate queue together, in
  // order, as one block: a burst of messages costs one hop, not one per message.
  // Every work-queue block ends by flushing them (onWorkQueue).
  pendingCost_ += kDeliveryCost + payloadBytes;
  pendingDeliveries_.emplace_back(std::move(callback));
}

void TnqWebSocket::flushDeliveries() {
  if (pendingDeliveries_.empty()) return;
  std::shared_ptr<pf::OperationQueue> operationQueue;
  std::shared_ptr<pf::DispatchQueue> dispatchQueue;
  {
    pf::MutexLock lock(mutex_);
    operationQueue = delegateOperationQueue_;
    dispatchQueue = delegateDispatchQueue_;
  }
  // The calls move from the work queue's count to the delegate queue's in one step.
  const std::uint64_t cost = pendingCost_;
  pendingCost_ = 0;
  publishedWorkHeld_ = workHeldNow();
  bool resume;
  {
    pf::MutexLock lock(inboxMutex_);
    delegateHeld_ += cost;
    workHeld_ = publishedWorkHeld_;
    resume = unpauseIfDrained();
  }
  if (resume) resumeReading();
  auto self = shared_from_this();
  auto block = [self, calls = std::move(pendingDeliveries_), cost]() mutable {
    // What the batch held is released once its calls are gone, whether they returned or raised.
    struct Release {
      TnqWebSocket& socket;
      std::uint64_t cost;
      ~Release() { socket.releaseDelivered(cost); }
    } release{*self, cost};
    // The delegate is looked up for every call: it may go away or change between them. The
    // weak reference is read again only when setDelegate was called since.
    std::weak_ptr<TnqWebSocketDelegate> weak;
    std::uint64_t generation = 0;
    bool known = false;
    for (const auto& call : calls) {
      if (!known || self->delegateGeneration_.load() != generation) {
        pf::MutexLock lock(self->mutex_);
        weak = self->delegate_;
        generation = self->delegateGeneration_.load();
        known = true;
      }
      const auto d = weak.lock();
      if (!d) continue;
      if (const auto* message = std::get_if<TnqWebSocketMessage>(&call))
        d->webSocketDidReceiveMessage(self, *message);
      else
        std::get<DelegateCall>(call)(*d, self);
    }
    std::vector<Delivery>().swap(calls);
  };
  pendingDeliveries_.clear();
  if (operationQueue)
    operationQueue->addOperation(std::function<void()>(std::move(block)));
  else
    dispatchQueue->async(std::move(block));
}

void TnqWebSocket::releaseDelivered(std::uint64_t cost) {
  bool resume;
  {
    pf::MutexLock lock(inboxMutex_);
    delegateHeld_ -= cost;
    resume = unpauseIfDrained();
  }
  if (resume) resumeReading();
}

}  // namespace appnet
