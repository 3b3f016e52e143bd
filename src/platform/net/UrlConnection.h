#pragma once
// The connection facade of URL loading: one exchange whose events reach a delegate on the run loop
// (in the modes) or the operation queue the caller chose, plus synchronous and queue-asynchronous
// sends.
//
//   class Fetch : public pf::UrlConnectionDelegate {
//     void didReceiveData(pf::UrlConnection&, const pf::Bytes& d) override { body.insert(...); }
//     void didFinishLoading(pf::UrlConnection&) override { ... }
//   };
//   auto connection = pf::UrlConnection::make(request, fetch);  // not started
//   connection->scheduleInRunLoop(pf::RunLoop::main(), pf::kRunLoopCommonModes);
//   connection->start();
//
// Order of delegate calls: challenges and redirects as they come, upload progress, then one
// didReceiveResponse, any number of didReceiveData, and exactly one of didFinishLoading or
// didFailWithError (none after cancel()). The connection keeps itself and its delegate alive until
// then, as the platform's connections do.
//
// Server trust: by default libcurl checks chain and host against the system roots. A delegate
// that handles challenges is asked (once per certificate and host for this connection; the first
// contact costs one extra TLS handshake); a connection with a ServerTrustEvaluator decides on the
// loader thread instead, without the round trip.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Loader.h"
#include "platform/net/UrlAuthenticationChallenge.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace pf {

class OperationQueue;
class UrlConnection;

class UrlConnectionDelegate {
 public:
  virtual ~UrlConnectionDelegate() = default;

  // Whether challenges (server trust and HTTP authentication) go to
  // willSendRequestForAuthenticationChallenge. Otherwise they get the default handling: the
  // system's verdict on the certificate; the URL's credential once, then the 401 answer as the
  // response.
  virtual bool handlesAuthenticationChallenges() const { return false; }
  virtual void willSendRequestForAuthenticationChallenge(UrlConnection& connection,
                                                         const std::shared_ptr<UrlAuthenticationChallenge>& challenge) {
    challenge->performDefaultHandling();
  }
  // A redirect: the request to follow (the proposed one by default), or nullopt to take the
  // redirect answer as the response.
  virtual std::optional<UrlRequest> willSendRequest(UrlConnection& connection, UrlRequest request,
                                                    const UrlResponse& redirectResponse) {
    return request;
  }
  // The body stream cannot start again (a redirect keeping the body, an authentication retry):
  // a new stream, or null to fail with -1021.
  virtual std::shared_ptr<HttpBodyStream> needNewBodyStream(UrlConnection& connection, const UrlRequest& request) {
    return nullptr;
  }
  virtual void didSendBodyData(UrlConnection& connection, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                               std::int64_t totalBytesExpectedToWrite) {}
  virtual void didReceiveResponse(UrlConnection& connection, const UrlResponse& response) {}
  virtual void didReceiveData(UrlConnection& connection, const Bytes& data) {}
  virtual void didFinishLoading(UrlConnection& connection) {}
  virtual void didFailWithError(UrlConnection& connection, const Error& error) {}
};

class UrlConnection : public std::enable_shared_from_this<UrlConnection> {
 public:
  // A connection not yet started.
  static std::shared_ptr<UrlConnection> make(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate);
  // A connection started at once in the current run loop's default mode.
  static std::shared_ptr<UrlConnection> start(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate);

  ~UrlConnection();
  UrlConnection(const UrlConnection&) = delete;
  UrlConnection& operator=(const UrlConnection&) = delete;

  // Before start(): where the delegate calls run. Scheduling in several modes of one run loop
  // delivers in whichever runs first; a delegate queue replaces any run loop.
  void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop, const RunLoopMode& mode);
  void setDelegateQueue(std::shared_ptr<OperationQueue> queue);
  // Before start(): decide server certificates on the loader thread (see Loader.h).
  void setServerTrustEvaluator(ServerTrustEvaluator evaluator);
  // Before start(): a PEM file with a client certificate and its key, offered when asked.
  void setClientCertificate(std::string pemPath);
  // Before start(): an answer whose body is longer (announced, received or decoded) fails with
  // -1103 and is read no further (see LoadOptions::maximumBodyLength). 0: no limit.
  void setMaximumBodyLength(std::int64_t bytes);
  // Before start(): the loader to use (the shared one by default).
  void setLoader(Loader* loader) {
    MutexLock lock(mutex_);
    loader_ = loader;
  }

  // Starts loading (once; when nothing was scheduled, in the current run loop's default mode).
  void start();
  // No delegate call follows; the delegate is let go.
  void cancel();

  const UrlRequest& originalRequest() const { return original_; }
  // The request of the current hop (after redirects).
  UrlRequest currentRequest() const;

  // ---- one-shot sends (redirects followed, default challenge handling)
  struct Result {
    std::optional<UrlResponse> response;
    Bytes data;
    std::optional<Error> error;
  };
  // Answers of more than this many body bytes fail with -1103 (they are held in memory, in no more
  // room than this; the announced length of a body sent as it is, within the limit, is reserved at
  // once). A failed exchange hands back no body.
  static constexpr std::size_t kMaxCollectedBytes = 256u << 20;
  // Blocks the calling thread (without running its run loop) until the exchange has ended.
  static Result sendSynchronousRequest(const UrlRequest& request, Loader* loader = nullptr);
  // Calls `completion` on `queue` once the exchange has ended.
  static void sendAsynchronousRequest(const UrlRequest& request, std::shared_ptr<OperationQueue> queue,
                                      std::function<void(const Result&)> completion);

 private:
  class Client;
  UrlConnection(UrlRequest request, std::shared_ptr<UrlConnectionDelegate> delegate);
  std::shared_ptr<UrlConnectionDelegate> delegate() const;
  void end();

  const UrlRequest original_;
  mutable Mutex mutex_;
  std::optional<UrlRequest> current_ PF_GUARDED_BY(mutex_);  // after a redirect
  std::shared_ptr<UrlConnectionDelegate> delegate_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<UrlConnection> self_ PF_GUARDED_BY(mutex_);  // alive while loading
  std::shared_ptr<RunLoop> runLoop_ PF_GUARDED_BY(mutex_);
  std::vector<RunLoopMode> modes_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<OperationQueue> queue_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<const KeyedServerTrustEvaluator> evaluator_ PF_GUARDED_BY(mutex_);
  std::optional<std::string> clientCertificate_ PF_GUARDED_BY(mutex_);
  Loader* loader_ PF_GUARDED_BY(mutex_) = nullptr;
  std::int64_t maximumBodyLength_ PF_GUARDED_BY(mutex_) = 0;
  std::shared_ptr<LoadEventChannel> channel_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<Load> load_ PF_GUARDED_BY(mutex_);
  bool started_ PF_GUARDED_BY(mutex_) = false;
};

}  // namespace pf
