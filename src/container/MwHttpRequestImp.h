#pragma once
// The container's one concrete HTTP request over the HTTP engine, run in one of five ways:
// synchDataRequest (blocks, under the request's lock), asynchDataRequest (blocks), asynchronousRequest
// (calls a block), fileRequest (blocks, downloads to a file) and streamRequest (blocks, under the lock,
// answers the body). Blocking ways wait on the main thread by turning its run loop in 0.2 s steps and
// elsewhere on the clock; every end of the exchange, a cancel included, ends the wait.
//
// Every way but the download keeps the body in memory and holds it to the packet limit
// (MwComPackage::kMaxPacketText): a longer answer, compressed or not, is read no further and fails
// as a transport failure. The body is kept once: the response object takes it from the operation, and
// the request's own "copy" and what streamRequest answers share it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "container/MwHttpRequest.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Cookie.h"
#include "platform/net/HttpHeaders.h"

namespace container {

class HnNetworkEngine;
class MwBlockingWait;

class MwHttpRequestImp : public MwHttpRequest, public std::enable_shared_from_this<MwHttpRequestImp> {
 public:
  // Keeps the engine and the body (when non-empty).
  MwHttpRequestImp(std::shared_ptr<HnNetworkEngine> engine, const pf::Bytes& postData);
  ~MwHttpRequestImp() override;

  // Empty texts are ignored.
  void setUrl(const std::string& url);
  void setParameter(const std::string& parameter);
  void setMethod(const std::string& method);
  std::optional<std::string> getUrl() const override;
  std::optional<std::string> getParameter() const;
  std::optional<std::string> getMethod() const;

  // Accepted for compatibility: every answer updates the session and the shared cookie jar.
  void setUseSession(bool) {}
  void setUseCookie(bool) {}
  void setValidatesSecureCertificate(bool value) { validateCertificate_ = value; }
  void setAllowCompressedResponse(bool value) { allowCompressedResponse_ = value; }
  // Seconds; below 1 leaves the engine's default of 30 s.
  void setTimeout(std::int64_t seconds) { timeout_ = seconds; }
  // Ignored when either is empty; a later value for a name replaces the earlier one.
  void addRequestHeader(const std::string& name, const std::string& value);

  bool isAborted() const override { return aborted_.load(); }
  // Cancels every operation of the engine (those of other requests included).
  void abort() override;
  std::shared_ptr<MwHttpResponse> asynchDataRequest() override;
  std::shared_ptr<MwHttpResponse> synchDataRequest() override;
  void asynchronousRequest(ResponseBlock block) override;
  // Cancels this request's own operation.
  void cancelOperation() override;
  bool fileRequest(const std::string& path, std::weak_ptr<MwFileRequestListener> listener) override;
  std::shared_ptr<const pf::Bytes> streamRequest() override;
  std::shared_ptr<HnNetworkOperation> getHnNetworkOperation() const override;

  std::vector<pf::Cookie> getResponseCookies() const;
  pf::HttpHeaders getResponseHeaders() const;
  // The body of the last successful answer (shared with its response object); null when empty.
  std::shared_ptr<const pf::Bytes> getResponseData() const;
  std::int64_t getResponseStatus() const { return responseStatus_.load(); }
  std::optional<std::string> getResponseString() const;
  // The request's own extra headers.
  const pf::HttpHeaders& getHeaders() const { return requestHeaders_; }
  std::shared_ptr<MwHttpResponse> getResponse() const;

 private:
  enum class Way { SynchData, AsynchData, Asynchronous, File, Stream };
  struct Exchange;

  // Steps shared by every way; null without an engine.
  std::shared_ptr<HnNetworkOperation> prepare(Way way);
  // Waits until the exchange ended (answer, failure, not-modified or cancel).
  void waitingRequestFinish(const std::shared_ptr<Exchange>& exchange);
  // Stores cookies, a copy of the header fields and the status of a successful answer.
  void storeAnswer(const HnNetworkOperation& operation);
  // Keeps the response's body (when not empty) as the request's own, shared with the response.
  void keepBodyOf(const std::shared_ptr<MwHttpResponse>& response);
  std::shared_ptr<MwHttpResponse> dataRequest(Way way);

  std::string requestUrl_;
  std::optional<pf::Bytes> postData_;
  std::string requestParameter_;
  std::string requestMethod_;
  std::shared_ptr<HnNetworkEngine> engine_;
  pf::HttpHeaders requestHeaders_;
  std::weak_ptr<MwFileRequestListener> listener_;
  std::atomic<bool> aborted_{false};
  bool validateCertificate_ = false;
  bool allowCompressedResponse_ = false;
  std::int64_t timeout_ = 0;
  std::atomic<std::int64_t> responseStatus_{-1};

  mutable pf::Mutex stateMutex_;  // the answer fields and the operation, written on the main thread
  std::shared_ptr<HnNetworkOperation> httpOperation_ PF_GUARDED_BY(stateMutex_);
  std::shared_ptr<MwHttpResponse> httpResponse_ PF_GUARDED_BY(stateMutex_);
  pf::HttpHeaders responseHeaders_ PF_GUARDED_BY(stateMutex_);
  std::vector<pf::Cookie> responseCookies_ PF_GUARDED_BY(stateMutex_);
  std::shared_ptr<const pf::Bytes> responseData_ PF_GUARDED_BY(stateMutex_);

  pf::RecursiveMutex requestLock_;  // held by synchDataRequest and streamRequest
};

}  // namespace container
