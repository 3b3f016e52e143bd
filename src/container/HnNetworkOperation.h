#pragma once
// One exchange of the container's HTTP engine over the platform's URL connection. Started, it makes
// its connection on the main thread and schedules it on the main run loop in the common modes, so
// every handler runs on the main thread. At the end of loading statuses 200 to 299 call the
// completion handlers, 304 the not-modified handlers, and every other status and every transport
// failure the error handlers: each exchange ends through exactly one kind of handler, unless it is
// cancelled, which drops every handler without calling it (end observers still hear it). A transport
// failure after the head (a cut answer, a body beyond the limit) leaves no answer behind: status 0,
// no response, no body.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace container {

inline constexpr const char* kHnNetworkErrorDomain = "HnNetworkKitErrorDomain";

class HnNetworkOperation : public std::enable_shared_from_this<HnNetworkOperation> {
 public:
  using CompletionHandler = std::function<void(HnNetworkOperation& operation)>;
  using ErrorHandler = std::function<void(HnNetworkOperation& operation, const pf::Error& error)>;
  // Receives the body as it arrives; answering false fails the exchange.
  using DownloadStream = std::function<bool(std::span<const std::uint8_t> bytes)>;

  static constexpr double kDefaultTimeout = 30.0;

  // A GET/POST/... of the URL text with the parameters as query (GET) or form body (other methods);
  // a time-out of 0 or less (or not finite) gives 30 s.
  static std::shared_ptr<HnNetworkOperation> make(const std::string& urlString,
                                                  const std::optional<pf::Value>& params,
                                                  const std::string& method, double timeout);
  ~HnNetworkOperation();
  HnNetworkOperation(const HnNetworkOperation&) = delete;
  HnNetworkOperation& operator=(const HnNetworkOperation&) = delete;

  // The request body, streamed from the bytes in memory.
  void setUploadStream(pf::Bytes body);
  void setShouldContinueWithInvalidCertificate(bool value);
  void setClientCertificate(const std::string& path);
  void addHeaders(const pf::HttpHeaders& headers);
  void addHeader(const std::string& name, const std::string& value);
  void addCompletionHandler(CompletionHandler completion, ErrorHandler error);
  // Sends the body to the stream instead of keeping it in memory.
  void addDownloadStream(DownloadStream stream);
  // Before start(): a body longer than this (announced, received or inflated) fails the exchange as a
  // transport failure (-1103) and is read no further. 0: no limit.
  void setMaximumResponseLength(std::int64_t bytes) { maximumResponseLength_ = bytes; }
  void onDownloadProgressChanged(std::function<void(double progress)> handler);
  void onNotModified(std::function<void()> handler);
  // Called once when the exchange ends in any way: after the handlers of its end ran (main thread),
  // or when it is cancelled (on the cancelling thread). Not a handler: cancel does not drop it.
  void addEndObserver(std::function<void()> observer);

  // Starts the exchange (from any thread; the connection is made on the main thread).
  void start();
  // Drops every handler without calling it and stops the connection. Thread-safe.
  void cancel();

  bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
  bool isExecuting() const { return executing_.load(std::memory_order_acquire); }
  bool isFinished() const { return finished_.load(std::memory_order_acquire); }

  // The HTTP status of the answer; 0 before one (or after a transport failure).
  std::int64_t HTTPStatusCode() const;
  // These are read once the operation has finished (on the main thread, or after its end was seen).
  const std::optional<pf::UrlResponse>& readonlyResponse() const { return response_; }
  const pf::UrlRequest& readonlyRequest() const { return request_; }
  const std::string& url() const { return urlString_; }
  // The body kept in memory (empty when it went to download streams, or once taken).
  const pf::Bytes& responseData() const { return data_; }
  // Hands the body kept in memory over; the operation keeps none.
  pf::Bytes takeResponseData() { return std::exchange(data_, {}); }
  // The body as UTF-8 text, nullopt when it is not UTF-8.
  std::optional<std::string> responseString() const;
  const std::optional<pf::Error>& error() const { return error_; }

 private:
  HnNetworkOperation() = default;
  struct Loader;
  void startOnMain();
  void didReceiveResponse(const pf::UrlResponse& response);
  void didReceiveData(std::span<const std::uint8_t> bytes);
  void didFinish();
  void didFail(const pf::Error& error);
  // Keeps the error and calls every error handler (outside the lock).
  void callErrorHandlers(const pf::Error& error);
  void finish();
  void dropHandlers();

  std::string urlString_;
  pf::UrlRequest request_;
  bool continueWithInvalidCertificate_ = false;
  std::string clientCertificate_;
  std::int64_t maximumResponseLength_ = 0;

  mutable pf::Mutex mutex_;  // guards the handler lists and the loader against cancel()
  std::vector<CompletionHandler> completionHandlers_ PF_GUARDED_BY(mutex_);
  std::vector<ErrorHandler> errorHandlers_ PF_GUARDED_BY(mutex_);
  std::vector<DownloadStream> downloadStreams_ PF_GUARDED_BY(mutex_);
  std::vector<std::function<void(double)>> progressHandlers_ PF_GUARDED_BY(mutex_);
  std::vector<std::function<void()>> notModifiedHandlers_ PF_GUARDED_BY(mutex_);
  std::vector<std::function<void()>> endObservers_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<Loader> loader_ PF_GUARDED_BY(mutex_);

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::int64_t> statusCode_{0};
  std::optional<pf::UrlResponse> response_;
  std::optional<pf::Error> error_;
  pf::Bytes data_;
  std::int64_t received_ = 0;
};

}  // namespace container
