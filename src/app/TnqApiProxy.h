#pragma once
// The REST API layer's proxy: sends a service's request through the app's HTTP client under a
// request id, keeps the running requests so that they can be cancelled, and hands each answer
// back as a TnqURLResponse on the client's completion queue (the main queue).
//
// Request ids and the table of running requests sit behind one lock, so the synchronous calls may
// be made from other threads.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/TnqURLResponse.h"
#include "appnet/TnqHTTPRequestOperationManager.h"
#include "container/MwHttpRequest.h"
#include "container/MwRequestFactory.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace app {

class TnqApiProxy : public std::enable_shared_from_this<TnqApiProxy> {
 public:
  using Callback = std::function<void(const std::shared_ptr<TnqURLResponse>&)>;

  static std::shared_ptr<TnqApiProxy> sharedInstance();
  // Tests: the next sharedInstance() makes a new proxy (ids start at 1 again).
  static void resetSharedInstance();

  // Build the request of the method of the service and call it; the request id. A request that
  // cannot be built (unknown service) sends nothing: its failure callback hears status 2 with
  // the platform's bad-URL error.
  std::int64_t callGetWithParams(const std::optional<pf::Value>& params, const std::string& serviceIdentifier,
                                 const std::string& methodName, Callback success, Callback failure);
  std::int64_t callPostWithParams(const std::optional<pf::Value>& params, const std::string& serviceIdentifier,
                                  const std::string& methodName, Callback success, Callback failure);
  // Starts the request under a new id and returns the id.
  std::int64_t callApiWithRequest(const pf::UrlRequest& request, Callback success, Callback failure);

  // Cancels the running request under the id (nothing when there is none): its success callback
  // never runs, its failure callback hears the cancellation.
  void cancelRequestWithRequestID(std::int64_t requestId);
  void cancelRequestWithRequestIDList(const std::vector<std::int64_t>& requestIds);

  // Blocking calls: the answer's bytes, nullopt for a failed exchange (transport error, status
  // outside 200-299) or a request that cannot be built.
  std::optional<pf::Bytes> syncCallGetWithParams(const std::optional<pf::Value>& params,
                                                 const std::string& serviceIdentifier, const std::string& methodName);
  std::optional<pf::Bytes> syncCallPostWithParams(const std::optional<pf::Value>& params,
                                                  const std::string& serviceIdentifier, const std::string& methodName);
  std::optional<pf::Bytes> callAPISyncWithRequest(const pf::UrlRequest& request);

  // Has the container's request send itself, with `block` as its completion; the request's own id.
  std::optional<std::string> callApiWithRequestWithSuccessBlock(const std::shared_ptr<container::MwHttpRequest>& request,
                                                                container::MwHttpRequest::ResponseBlock block);

  // The next request id: 1 after none or after the largest signed 64-bit value, else the last + 1.
  std::int64_t generateRequestId();

  static void asyncCallPostWithURL(const std::string&, const std::optional<pf::Value>&) {}

  // The last request id given out.
  std::optional<std::int64_t> noteRequestId() const;
  void setNoteRequestId(std::optional<std::int64_t> requestId);
  // The ids of the running requests.
  std::vector<std::int64_t> runningRequestIds() const;

  // The HTTP client of every asynchronous call (raw response bytes, default security policy).
  std::shared_ptr<appnet::TnqHTTPRequestOperationManager> tnqNetManager();
  std::shared_ptr<container::MwRequestFactory> networkFactory();

 private:
  std::shared_ptr<appnet::TnqHTTPRequestOperation> makeOperation(const pf::UrlRequest& request, std::int64_t requestId,
                                                                 Callback success, Callback failure);
  std::optional<pf::UrlRequest> build(bool post, const std::optional<pf::Value>& params,
                                      const std::string& serviceIdentifier, const std::string& methodName) const;
  void handleSuccess(const std::shared_ptr<appnet::TnqHTTPRequestOperation>& operation, std::int64_t requestId,
                     const Callback& success);
  void handleFailure(const std::shared_ptr<appnet::TnqHTTPRequestOperation>& operation, std::int64_t requestId,
                     const pf::Error& error, const Callback& failure);

  mutable pf::Mutex mutex_;
  std::optional<std::int64_t> noteRequestId_ PF_GUARDED_BY(mutex_);
  std::map<std::int64_t, std::shared_ptr<appnet::TnqHTTPRequestOperation>> dispatchTable_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<appnet::TnqHTTPRequestOperationManager> tnqNetManager_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<container::MwRequestFactory> networkFactory_ PF_GUARDED_BY(mutex_);
};

}  // namespace app
