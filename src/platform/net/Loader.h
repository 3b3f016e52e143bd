#pragma once
// The URL loading core: libcurl's multi interface driven by one loader thread per Loader.
//
// A Load is one exchange: the request, every redirect hop and authentication retry, up to the
// final answer. Its events reach a LoadClient on the loader thread; the facades (UrlConnection,
// UrlSession) turn them into delegate calls on the run loop or queue their caller chose, through
// a LoadEventChannel. The core:
//  - sends the request (method, header fields, body bytes or a stream sent chunked when its
//    length is unknown), cookies of the shared jar, "application/x-www-form-urlencoded" for a
//    body without a content type, and decodes gzip and deflate answers one piece at a time, as
//    the client reads on (a compressed body whose stream does not end, or does not decode, fails:
//    -1005, -1016);
//  - stops at every redirect (301, 302, 303, 307, 308 with a Location) and asks its client for
//    the request to follow (301/302 turn a POST into a GET, 303 anything but HEAD);
//  - stops at every 401 with Basic or Digest and asks its client for a credential;
//  - judges the server's certificate: by libcurl against the system roots (chain and host) by
//    default, or by the client's decision (asynchronous, a round trip to the client's thread the
//    first time a trust key meets a certificate) or a synchronous evaluator (run on the loader
//    thread). Connections judged under one decision are never used for another without its own
//    decision, and TLS sessions are not resumed for judged loads;
//  - fails after `timeoutInterval` seconds (on pf::Clock) without a byte moving: -1001;
//  - refuses answers that are not HTTP (no status line, HTTP/0.9), heads too large, conflicting
//    or folded Content-Length fields (-1011), redirects from https to http (-1022) and bodies beyond the
//    load's limit (-1103).
// cancel() stops every further event.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/UrlAuthenticationChallenge.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace pf {

class Load;
class LoadEventChannel;
class Loader;
struct LoadCallbacks;

// Decides a server certificate on the loader thread: UseCredential accepts, default handling and
// rejecting the protection space evaluate the chain against the system roots for the host,
// cancelling fails the load. Must be thread-safe and quick.
using ServerTrustEvaluator = std::function<ChallengeDisposition(ServerTrust& trust, const std::string& host)>;

// An evaluator with a key of its own, never given to another evaluator in the process: a pooled
// connection remembers the evaluator's verdict under it.
class KeyedServerTrustEvaluator {
 public:
  explicit KeyedServerTrustEvaluator(ServerTrustEvaluator evaluate);
  ChallengeDisposition operator()(ServerTrust& trust, const std::string& host) const { return evaluate_(trust, host); }
  explicit operator bool() const { return static_cast<bool>(evaluate_); }
  std::uint64_t key() const { return key_; }

 private:
  ServerTrustEvaluator evaluate_;
  std::uint64_t key_;
};

struct LoadOptions {
  enum class Trust {
    System,     // libcurl verifies chain and host against the system roots
    Client,     // LoadClient::loadNeedsServerTrustDecision decides
    Evaluator,  // `evaluator` decides on the loader thread
  };
  Trust trust = Trust::System;
  std::shared_ptr<const KeyedServerTrustEvaluator> evaluator;
  // Client decisions are remembered per (trust key, host, port, certificate chain); 0 gives the
  // load a key of its own.
  std::uint64_t trustKey = 0;
  // HTTP authentication challenges go to the client; otherwise the URL's credential is tried
  // once and then the 401 answer is delivered.
  bool clientHandlesAuthentication = false;
  // Redirects go to the client; otherwise they are followed.
  bool clientDecidesRedirects = false;
  // The error code of a cancelled challenge (-1012 for connections, -999 for sessions).
  int challengeCancelCode = -1012;
  // A PEM file holding a client certificate and its key, offered to servers that ask.
  std::optional<std::string> clientCertificatePath;
  // Total time limit in seconds (0: none), besides the request's idle time-out.
  double resourceTimeout = 0;
  // Extra header fields added where the request has none of the name (session configuration).
  HttpHeaders additionalHeaders;
  // Whether cookies are sent and stored at all (and then per request).
  bool handleCookies = true;
  // The most body bytes an answer may bring (a redirect's or a challenge's as well), counted as they
  // arrive both as received (compressed or not) and as handed to the client; an answer announcing
  // more, or bringing more, fails with -1103 and is read no further. 0: no limit.
  std::int64_t maximumBodyLength = 0;
};

// Events of one load, called on the loader thread in order. They must not block: hand the work to
// another thread. Answers (challenges, continueRedirect, provideBodyStream) may come from any
// thread, later.
class LoadClient {
 public:
  virtual ~LoadClient() = default;
  // Trust::Client: answer the challenge (its responder resumes the load).
  virtual void loadNeedsServerTrustDecision(Load& load, std::shared_ptr<UrlAuthenticationChallenge> challenge);
  // clientHandlesAuthentication: answer the challenge.
  virtual void loadNeedsAuthentication(Load& load, std::shared_ptr<UrlAuthenticationChallenge> challenge);
  // clientDecidesRedirects: answer with Load::continueRedirect.
  virtual void loadWillRedirect(Load& load, const UrlResponse& redirectResponse, UrlRequest proposed);
  // The body stream cannot rewind for a redirect or a retry: answer with Load::provideBodyStream.
  virtual void loadNeedsNewBodyStream(Load& load);
  virtual void loadDidSendBodyData(Load& load, std::int64_t bytesSent, std::int64_t totalSent,
                                   std::int64_t totalExpected) {}
  // The final answer's head (also a redirect or 401 answer the client chose to take as final).
  virtual void loadDidReceiveResponse(Load& load, const UrlResponse& response) = 0;
  // A piece of the body (at most 16 KiB). Answer false to hold further pieces until
  // Load::resumeReceiving(): none comes before, and the received bytes of a compressed body wait
  // undecoded meanwhile.
  virtual bool loadDidReceiveData(Load& load, Bytes&& data) = 0;
  // Asked on the loader thread before bytes received are made into pieces, before each piece of a
  // redirect's or a challenge's body taken as final, and before receiving held by either answer
  // goes on: answer false to hold (no piece comes) until Load::resumeReceiving(), which asks again.
  virtual bool loadMayReadOn(Load& load) { return true; }
  virtual void loadDidFinish(Load& load) = 0;
  virtual void loadDidFail(Load& load, const Error& error) = 0;
};

class Load : public std::enable_shared_from_this<Load> {
 public:
  // A load on `loader` (the shared one when null). Nothing happens before start().
  static std::shared_ptr<Load> make(UrlRequest request, LoadOptions options, std::shared_ptr<LoadClient> client,
                                    Loader* loader = nullptr);
  ~Load();
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;

  // All thread-safe.
  void start();
  // No event reaches the client after cancel() returns (one already running on the loader
  // thread finishes). Idempotent.
  void cancel();
  // Holds (and resumes) sending and receiving; the idle time-out does not run meanwhile.
  void suspend();
  void resume();
  // Receiving goes on after loadDidReceiveData answered false, if the client's loadMayReadOn agrees.
  void resumeReceiving();
  // Answer to loadWillRedirect: the request to follow, or nullopt to take the redirect answer as
  // the final one.
  void continueRedirect(std::optional<UrlRequest> request);
  // Answer to loadNeedsNewBodyStream (null fails the load with -1021).
  void provideBodyStream(std::shared_ptr<HttpBodyStream> stream);

  std::uint64_t identifier() const { return id_; }
  const UrlRequest& originalRequest() const { return original_; }
  bool isCancelled() const { return cancelled_.load(); }

 private:
  friend class Loader;
  friend struct LoadCallbacks;
  struct Hop;
  Load(UrlRequest request, LoadOptions options, std::shared_ptr<LoadClient> client, Loader& loader);

  // Loader thread.
  void beginHop();
  void onHopDone(int curlResult);
  void onHeadLine(const char* data, std::size_t length);
  void onHeadComplete();
  std::size_t onBody(const char* data, std::size_t length);
  // Hands one piece of the final answer's body to the client, counted against the limit; answers
  // whether the next piece may follow (not when the client asked to hold, the limit was passed or
  // the load was cancelled).
  bool handOver(LoadClient& client, Bytes&& piece);
  // Decodes what the decoder kept, then `received`, handing the pieces over until the client asks
  // to hold; answers false when the load must stop (hop_->abort says why, if anything).
  bool decodeBody(std::span<const std::uint8_t> received);
  // Goes on receiving once neither the client nor suspend() holds it: first what the decoder kept,
  // then the end of a transfer that ended meanwhile, else libcurl's paused receiving.
  void readOn();
  // Ends the hop the way its abort says (a failure, or a question to the client); answers whether
  // there was one.
  bool endAbortedHop();
  int onPrerequest();
  // Answers false to stop the transfer (a body beyond the limit).
  bool onProgress(std::int64_t uploaded, std::int64_t uploadTotal, std::int64_t downloaded);
  // Fails a load whose time is up; else answers when to look again (kForever: never).
  double checkTimeout();
  void scheduleTimeoutCheck(double delay);
  void markActivity();
  // Whether `bytes` of body go beyond the load's limit (never without one).
  bool beyondBodyLimit(std::int64_t bytes) const {
    return options_.maximumBodyLength > 0 && bytes > options_.maximumBodyLength;
  }
  void fail(const Error& error);
  void failWithCode(int code, std::string detail = {});
  void finish();
  void deliverResponse(const UrlResponse& response);
  void deliverCandidateAsFinal();
  // Hands the kept body of an answer taken as final over in pieces, asking the client before each,
  // for as long as it reads on; finishes the load after the last piece.
  void handOverKeptBody();
  // Fails the load when the answer's compressed body ended before its stream; answers whether it did.
  bool failIfBodyCut();
  void followRedirect(UrlRequest next);
  // Fails the load when a redirect from `from` to `to` leaves https: the request (a POST's body
  // included) would leave the secure connection. Answers whether it did.
  bool refuseInsecureRedirect(const Url& from, const Url& to);
  void askTrust(std::shared_ptr<ServerTrust> trust);
  void answerTrust(ChallengeDisposition disposition, std::shared_ptr<ServerTrust> trust, std::string digest);
  void askAuthentication();
  void answerAuthentication(ChallengeDisposition disposition, std::optional<UrlCredential> credential);
  void retryHop();
  bool prepareBodyForRetry();
  void releaseHandle();
  void detachClient();
  std::shared_ptr<LoadClient> clientIfLive() const;

  const std::uint64_t id_;
  Loader& loader_;
  const UrlRequest original_;
  const LoadOptions options_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> ended_{false};  // finished or failed, its transfer released

  mutable Mutex clientMutex_;
  std::shared_ptr<LoadClient> client_ PF_GUARDED_BY(clientMutex_);

  // Loader thread only from here on.
  UrlRequest request_;
  std::unique_ptr<Hop> hop_;
  void* easy_ = nullptr;
  bool active_ = false;  // the handle is in the multi
  bool finished_ = false;
  bool suspended_ = false;
  bool holdReceiving_ = false;
  bool curlPausedReceiving_ = false;
  bool waitingForClient_ = false;
  bool responseDelivered_ = false;
  int redirects_ = 0;
  int authFailures_ = 0;
  bool urlCredentialTried_ = false;
  std::optional<UrlCredential> credential_;
  std::string credentialScheme_;
  std::int64_t lastUploaded_ = -1;
  double lastActivity_ = 0;
  double startedAt_ = 0;
  bool timeoutCheckScheduled_ = false;
};

// Appends received body bytes to a buffer that a limit bounds. Room is taken in powers of two,
// never past `limit` while the bytes fit in it: growing by doubling from any size held up to twice
// the limit, and while the buffer moves, its old room and the bytes copied into the new one stay
// within about the limit. A receiver that knows the body's length takes that room once instead
// (UrlResponse::expectedIdentityContentLength).
void appendBodyBytes(Bytes& body, std::span<const std::uint8_t> bytes, std::size_t limit);

// A libcurl multi handle and the thread that drives it.
class Loader {
 public:
  // The process-wide loader (made on first use, never destroyed).
  static Loader& shared();

  Loader();
  // Stops the thread; loads still running end without further events.
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // Runs `command` on the loader thread (in order). Thread-safe.
  void post(std::function<void()> command);
  bool isLoaderThread() const;

  // Limits of the remembered client trust decisions.
  static constexpr std::size_t kMaxRememberedTrustDecisions = 256;

 private:
  friend class Load;
  struct Impl;
  void run();
  // Hands the channels that got events during a pass to their executors.
  static void flushChannels(std::vector<std::shared_ptr<LoadEventChannel>>& channels);
  void* acquireEasy();
  void recycleEasy(void* easy);

  std::unique_ptr<Impl> impl_;
  std::thread thread_;
};

// A serial mailbox of events for one facade object: events pushed from the loader thread run in
// order on an executor (a run loop, an operation queue, a dispatch queue), never two at once even
// on a concurrent queue; close() drops whatever has not started. Pending body bytes are counted so
// that the loader can be held back (flow control).
class LoadEventChannel : public std::enable_shared_from_this<LoadEventChannel> {
 public:
  using Executor = std::function<void(std::function<void()>)>;
  // Above this many pending body bytes the loader is asked to hold.
  static constexpr std::size_t kHighWater = 4u << 20;

  explicit LoadEventChannel(Executor executor) : executor_(std::move(executor)) {}

  // Queues an event; `bytes` counts toward pendingBytes() until it ran. Answers whether the
  // pending bytes are still below the high-water mark.
  bool push(std::function<void()> event, std::size_t bytes = 0);
  // Called (on the executor) when the pending bytes fall back to zero after reaching the mark.
  void setOnDrained(std::function<void()> onDrained);
  // No queued event starts after close() returns (one that is running finishes). Idempotent.
  void close();
  bool isClosed() const;
  // Whether the calling thread is running one of this channel's events.
  bool isDelivering() const;
  std::size_t pendingBytes() const;
  // Whether the pending bytes reached the mark and have not yet fallen back (setOnDrained's hook
  // is still to come).
  bool isThrottled() const;

 private:
  friend class Loader;
  void drain();
  void schedule();

  struct Item {
    std::function<void()> event;
    std::size_t bytes;
  };
  Executor executor_;
  mutable Mutex mutex_;
  std::vector<Item> items_ PF_GUARDED_BY(mutex_);
  std::size_t pendingBytes_ PF_GUARDED_BY(mutex_) = 0;
  bool scheduled_ PF_GUARDED_BY(mutex_) = false;
  std::atomic<bool> closed_{false};
  bool throttled_ PF_GUARDED_BY(mutex_) = false;
  std::thread::id deliveringThread_ PF_GUARDED_BY(mutex_);
  std::function<void()> onDrained_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
