#pragma once
// The application's WebSocket client (protocol version 13, schemes ws/wss and http/https).
//
// Threads: one process-wide network thread ("com.tnq.WsNet") owns every socket's streams and
// does all stream I/O; each socket keeps its protocol state (read buffer, consumers, frame and
// message state, closing) on a serial work queue of its own; delegate callbacks are posted to the
// delegate operation queue when one is set, else to the delegate dispatch queue (the main queue).
// The public operations may be called from any thread.
//
// What is read waits for the delegate in three places: the inbox (network thread to work queue),
// the work queue's read buffer and message being read, and the calls on the delegate queue. Once
// heldBound() waits in all, the network thread reads no further: the bytes stay in the kernel and
// the peer's sending stalls, until what waits drains.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "appnet/TnqIOConsumer.h"
#include "appnet/WebSocketFrame.h"
#include "appnet/WebSocketHandshake.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/SocketStream.h"
#include "platform/security/Certificate.h"

namespace appnet {

inline constexpr const char* kTnqWebSocketErrorDomain = "TnqWebSocketErrorDomain";
inline constexpr const char* kTnqWebSocketTimeoutErrorDomain = "com.tnq.websocket.timeout";
inline constexpr const char* kTnqWebSocketCertificateErrorDomain = "com.tnq.websocket.certificate";
// User-info key of the handshake answer's status code (code 2132).
inline constexpr const char* kTnqHTTPResponseStatusCodeKey = "HTTPResponseStatusCode";

enum class TnqReadyState : std::int64_t { Connecting = 0, Open = 1, Closing = 2, Closed = 3 };

// A message: text (UTF-8) or bytes.
using TnqWebSocketMessage = std::variant<std::string, pf::Bytes>;

// What a socket is made from.
struct TnqWebSocketRequest {
  std::string url;
  // Seconds to wait for the handshake; 0 or less: no limit. The platform's default is 60.
  double timeoutInterval = 60.0;
  // Header fields set over the computed ones, in order.
  std::vector<std::pair<std::string, std::string>> headers;
  // Certificates (any one in the server's chain accepts the server; none: the chain is verified).
  std::vector<pf::Certificate> pinnedCertificates;
};

class TnqWebSocket;

class TnqWebSocketDelegate {
 public:
  virtual ~TnqWebSocketDelegate() = default;
  virtual void webSocketDidReceiveMessage(const std::shared_ptr<TnqWebSocket>& socket,
                                          const TnqWebSocketMessage& message) = 0;
  virtual void webSocketDidOpen(const std::shared_ptr<TnqWebSocket>& socket) {}
  virtual void webSocketDidFailWithError(const std::shared_ptr<TnqWebSocket>& socket, const pf::Error& error) {}
  virtual void webSocketDidCloseWithCode(const std::shared_ptr<TnqWebSocket>& socket, int code,
                                         const std::string& reason, bool wasClean) {}
  virtual void webSocketDidReceivePong(const std::shared_ptr<TnqWebSocket>& socket, const pf::Bytes& payload) {}
};

class TnqWebSocket : public std::enable_shared_from_this<TnqWebSocket> {
 public:
  // The URL's scheme must be ws, wss, http or https (pf::Exception kInvalidArgumentException
  // otherwise: a programming error). Use WsURL::parse to check a URL from outside first.
  static std::shared_ptr<TnqWebSocket> initWithURLRequest(TnqWebSocketRequest request,
                                                          std::vector<std::string> protocols = {},
                                                          bool allowsUntrustedSSLCertificates = false);
  static std::shared_ptr<TnqWebSocket> initWithURL(const std::string& url, std::vector<std::string> protocols = {},
                                                   bool allowsUntrustedSSLCertificates = false);
  ~TnqWebSocket();
  TnqWebSocket(const TnqWebSocket&) = delete;
  TnqWebSocket& operator=(const TnqWebSocket&) = delete;

  // Starts connecting; once per socket.
  void open();
  // Closing handshake with 1000; see closeWithCode.
  void close();
  // Sends a close frame (reason cut to 123 bytes at a character boundary); while still
  // connecting, closes the connection without one.
  void closeWithCode(int code, const std::string& reason = {});
  // One unfragmented text or binary frame. False (and nothing sent) unless the socket is open.
  bool send(const TnqWebSocketMessage& message);
  // A ping with the payload (at most 125 bytes). False unless the socket is open.
  bool sendPing(const pf::Bytes& payload = {});

  // Before open: where the streams are scheduled (default: the network thread's run loop).
  void scheduleInRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, const pf::RunLoopMode& mode);
  void unscheduleFromRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, const pf::RunLoopMode& mode);

  void setDelegate(std::weak_ptr<TnqWebSocketDelegate> delegate);
  std::shared_ptr<TnqWebSocketDelegate> delegate() const;
  void setDelegateDispatchQueue(std::shared_ptr<pf::DispatchQueue> queue);
  void setDelegateOperationQueue(std::shared_ptr<pf::OperationQueue> queue);
  // Cookies sent with the handshake as one "Cookie" field (name, value).
  void setRequestCookies(std::vector<std::pair<std::string, std::string>> cookies);
  // The largest incoming message (and frame) accepted; larger ones close with 1009.
  void setMaximumMessageSize(std::uint64_t bytes);
  // Called on the work queue whenever readyState changes (the observable "readyState").
  void setReadyStateObserver(std::function<void(TnqReadyState)> observer);

  TnqReadyState readyState() const { return readyState_.load(); }
  const std::string& url() const { return url_.text; }
  std::string protocol() const;
  std::optional<WsHandshakeResponse> receivedHTTPHeaders() const;
  bool allowsUntrustedSSLCertificates() const { return allowsUntrustedSSLCertificates_; }

  // The process's network thread's run loop (made on first use).
  static std::shared_ptr<pf::RunLoop> Tnq_networkRunLoop();

  // What is read and not yet handed to the delegate, in bytes, counted in full: every message or
  // call waiting on the work queue or the delegate queue with the storage its payload took and
  // kDeliveryCost for its bookkeeping, the message being read (its fragments so far) at the storage
  // it took, the work queue's unread bytes, and bytes not yet parsed at the most they may cost
  // once parsed (kDeliveryCost for every two, the smallest frame).
  std::uint64_t heldBytes() const;
  // Reading stops once this is held: kHeldMessages of the largest messages accepted, and at least
  // 64 KiB (four of the largest handshake answers). A read takes no more than what is left may
  // cost, but a read of one byte let in just below the bound may complete a message or grow the
  // storage of the one being read (never past the largest message accepted): what is held stays
  // within the bound and one message. Beside it, reading keeps the stream's buffer and storage for
  // the bytes read: the inbox, its kept spare, the bytes taken from it and the read buffer, each at
  // most what an inbox may hold (a 64th of the bound) and a frame cut off, and a new storage for
  // the inbox and for the read buffer while either grows.
  std::uint64_t heldBound() const;
  // The network thread reads nothing until what is held drains.
  bool isReadingPaused() const;
  // Messages or other calls are on their way to the delegate.
  bool hasDeliveriesWaiting() const;

  static constexpr std::uint64_t kDefaultMaximumMessageSize = 16u << 20;
  // Bytes waiting to be sent beyond which a frame fails the socket (2145, the peer does not read);
  // a frame written into an empty buffer is taken whatever its size.
  static constexpr std::size_t kMaximumOutputBuffer = 32u << 20;
  static constexpr std::uint64_t kHeldMessages = 4;
  // What a message or call waiting for the delegate costs beside its payload's storage: its entry
  // in the batch (twice its size: a batch's storage grows by doubling), the allocator's header and
  // rounding of the payload, a callback's captured state.
  static constexpr std::uint64_t kDeliveryCost = 128;

 private:
  // The fuzz target drives the frame reader of an unopened socket directly.
  friend struct WsFrameReaderProbe;
  TnqWebSocket(TnqWebSocketRequest request, WsURL url, std::vector<std::string> protocols, bool allowsUntrusted);
  void commonInit();

  // The run loop the streams are scheduled on (the network thread's).
  std::shared_ptr<pf::RunLoop> networkLoop() const;

  // ---- network thread
  void onStreamEvent(pf::SocketStream& stream, pf::StreamEvent event);
  // Reads into the inbox while the stream has bytes and not too much is held; the first read
  // without asking when a has-bytes event promised it.
  void netRead(bool eventPromised);
  bool checkPinnedCertificates(pf::SocketStream& stream);
  void netWrite(pf::Bytes bytes);
  void netCloseWhenFinished();
  void netPumpWriting();
  void netCloseStreams();

  // ---- work queue
  template <typename F>
  void onWorkQueue(F&& block);
  void didConnect();
  void readHTTPHeader();
  void httpHeadersDidFinish();
  void drainInbox();
  // What the work queue holds, as heldBytes() counts it.
  std::uint64_t workHeldNow() const;
  // Tells the other threads what the work queue holds (at the end of each of its blocks, and while
  // a large inbox is read).
  void publishWorkHeld();
  void appendReadBytes(pf::Bytes bytes);
  // Takes `bytes` into the read buffer and reads on; leaves in `bytes` an empty buffer whose
  // storage may be used again.
  void takeReadBytes(pf::Bytes& bytes);
  void pumpScanner();
  bool innerPumpScanner();
  enum class WholeFrame { NotHere, Read, Stop };
  // A whole unfragmented text or binary frame at the front of the read buffer, read in one step.
  WholeFrame readWholeDataFrame();
  void didConsumeReadBytes(std::size_t count);
  void addConsumerWithScanner(TnqIOConsumer::Scanner scanner, TnqIOConsumer::Handler handler);
  void addConsumerWithDataLength(std::uint64_t length, TnqIOConsumer::Handler handler, bool readToCurrentFrame,
                                 bool unmaskBytes);
  void writeData(pf::Bytes bytes);
  void sendFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload);
  void readFrameNew();
  void readFrameContinue();
  void handleFrameHeader(const ws::FrameHeader& header);
  // A control frame read whole (close, ping, pong).
  void handleFrameWithData(pf::Bytes data, std::uint8_t opcode);
  void handleCloseWithData(const pf::Bytes& data);
  // Keeps the ping as the one to answer; the answer hops through the delegate queue, one at a time.
  void handlePing(pf::Bytes data);
  // Back from the delegate queue: answers the latest ping still unanswered.
  void answerPing();
  void handleMessage(TnqWebSocketMessage message);
  // The data message being read: its size and the storage it took so far.
  std::size_t assembledSize() const;
  std::size_t assembledCapacity() const;
  // Appends a frame's payload bytes to the message being read; answers where they went. Its
  // storage grows to twice what it had, never past the largest message accepted.
  std::uint8_t* appendToMessage(const std::uint8_t* bytes, std::size_t count);
  // The last frame of a data message is read: the message goes to the delegate (or its text,
  // cut off in a character, closes the socket).
  void finishMessage();
  void closeWithProtocolError(const std::string& message);
  // Closes with `code` because of a fault of the peer's data; reported as that code, not clean.
  void closeForFault(int code, const std::string& reason);
  void closeOnWorkQueue(int code, const std::string& reason);
  void closeConnection();
  void failWithError(pf::Error error);
  void setReadyState(TnqReadyState state);
  void scheduleCleanup();
  void streamEnded(std::optional<pf::Error> streamError);
  void reportClose();

  using DelegateCall = std::function<void(TnqWebSocketDelegate&, const std::shared_ptr<TnqWebSocket>&)>;
  // A received message, or any other delegate call.
  using Delivery = std::variant<TnqWebSocketMessage, DelegateCall>;
  // `payloadBytes`: what the call carries, counted as held until it has run.
  void deliver(DelegateCall callback, std::size_t payloadBytes = 0);
  void flushDeliveries();
  // A batch of calls that cost `cost` has run on the delegate queue.
  void releaseDelivered(std::uint64_t cost);
  std::uint64_t held() const PF_REQUIRES(inboxMutex_);
  // The most bytes the inbox may hold (a 64th of the bound): what its storage grows to at the most.
  std::size_t inboxLimit() const;
  // How many bytes the next read may take: what is left below the bound at the most they may cost
  // (at least one, up to a read chunk); 0 once the bound is reached.
  std::size_t readRoom() const PF_REQUIRES(inboxMutex_);
  // The bound, not what arrives, limits the next read (the gather pause is then no use).
  bool readHeldBack() const;
  // Clears a pause that what is held no longer needs; true when reading must be resumed.
  bool unpauseIfDrained() PF_REQUIRES(inboxMutex_);
  // Has the network thread read what waits in the kernel.
  void resumeReading();

  // ---- fixed at creation
  TnqWebSocketRequest request_;
  WsURL url_;
  std::vector<std::string> requestedProtocols_;
  const bool allowsUntrustedSSLCertificates_;
  const bool secure_;
  const std::int64_t webSocketVersion_ = 13;
  std::shared_ptr<pf::DispatchQueue> workQueue_;
  pf::StreamPair streams_;

  // ---- settable before open (under mutex_)
  mutable pf::Mutex mutex_;
  std::weak_ptr<TnqWebSocketDelegate> delegate_ PF_GUARDED_BY(mutex_);
  // Counts setDelegate calls, so that delivering a batch looks the delegate up again only when it changed.
  std::atomic<std::uint64_t> delegateGeneration_{0};
  std::shared_ptr<pf::DispatchQueue> delegateDispatchQueue_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<pf::OperationQueue> delegateOperationQueue_ PF_GUARDED_BY(mutex_);
  std::vector<std::pair<std::string, std::string>> requestCookies_ PF_GUARDED_BY(mutex_);
  std::set<std::pair<std::shared_ptr<pf::RunLoop>, pf::RunLoopMode>> scheduledRunloops_ PF_GUARDED_BY(mutex_);
  std::function<void(TnqReadyState)> readyStateObserver_ PF_GUARDED_BY(mutex_);
  std::string protocol_ PF_GUARDED_BY(mutex_);
  std::optional<WsHandshakeResponse> receivedHTTPHeaders_ PF_GUARDED_BY(mutex_);
  bool cleanupScheduled_ PF_GUARDED_BY(mutex_) = false;
  bool opened_ PF_GUARDED_BY(mutex_) = false;
  std::shared_ptr<TnqWebSocket> selfRetain_ PF_GUARDED_BY(mutex_);

  // ---- shared between the threads
  std::atomic<TnqReadyState> readyState_{TnqReadyState::Connecting};
  std::atomic<bool> failed_{false};
  std::atomic<bool> sentClose_{false};
  std::atomic<bool> pinnedCertFound_{false};
  std::atomic<std::uint64_t> maximumMessageSize_{kDefaultMaximumMessageSize};

  // ---- bytes read on the network thread, waiting for the work queue; what is held for the delegate
  mutable pf::Mutex inboxMutex_;
  pf::Bytes inbox_ PF_GUARDED_BY(inboxMutex_);
  // A drained buffer kept for the inbox to fill next, so that its storage is allocated once.
  pf::Bytes inboxSpare_ PF_GUARDED_BY(inboxMutex_);
  bool inboxScheduled_ PF_GUARDED_BY(inboxMutex_) = false;
  // Held on the work queue (as it last told; bytes it has taken from the inbox and not yet read
  // at the most they may cost) and on the delegate queue.
  std::uint64_t workHeld_ PF_GUARDED_BY(inboxMutex_) = 0;
  std::uint64_t delegateHeld_ PF_GUARDED_BY(inboxMutex_) = 0;
  // The network thread stopped reading; whoever lowers what is held below the bound resumes it.
  bool readingPaused_ PF_GUARDED_BY(inboxMutex_) = false;

  // ---- network thread only
  std::array<std::uint8_t, 65536> netReadBuffer_{};
  // The end of the last read, and the wait before the next one under load (set by the first read,
  // which is never under load).
  std::chrono::steady_clock::time_point lastRead_{};
  std::chrono::microseconds gatherPause_{0};
  pf::Bytes outputBuffer_;
  std::size_t outputBufferOffset_ = 0;
  bool netCloseWhenFinishedWriting_ = false;
  // More than kMaximumOutputBuffer bytes were waiting for a peer that does not read: the socket
  // failed and writes nothing more.
  bool netOutputOverflowed_ = false;

  // ---- work queue only
  pf::Bytes readBuffer_;
  std::size_t readBufferOffset_ = 0;
  std::deque<std::shared_ptr<TnqIOConsumer>> consumers_;
  TnqIOConsumerPool consumerPool_{8};
  bool isPumping_ = false;
  // The consumer at the front reads a frame header (set by readFrameContinue).
  bool frameHeaderPending_ = false;
  bool readingStopped_ = false;
  bool closeWhenFinishedWriting_ = false;
  std::string secKey_;
  std::string basicAuthorizationString_;
  std::uint8_t currentFrameOpcode_ = 0;
  std::uint64_t currentFrameCount_ = 0;
  std::uint64_t readOpCount_ = 0;
  std::size_t currentStringScanPosition_ = 0;
  // The data message being read, its fragments gathered in the type it is delivered as.
  TnqWebSocketMessage currentMessage_;
  std::uint8_t currentReadMaskKey_[4] = {0, 0, 0, 0};
  std::uint64_t currentReadMaskOffset_ = 0;
  int closeCode_ = 0;
  std::string closeReason_;
  // Set when the socket closes because of the peer's data (1002, 1007, 1009).
  std::optional<std::pair<int, std::string>> faultClose_;
  std::vector<Delivery> pendingDeliveries_;
  // What pendingDeliveries_ hold (payloads and kDeliveryCost each).
  std::uint64_t pendingCost_ = 0;
  // workHeld_ as the work queue last set it.
  std::uint64_t publishedWorkHeld_ = 0;
  // The payload of the latest ping not yet answered, and whether its answer is on its way.
  std::optional<pf::Bytes> unansweredPing_;
  bool pingAnswerScheduled_ = false;
};

}  // namespace appnet
