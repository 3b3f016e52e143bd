#pragma once
// Makes the container's HTTP requests on one HTTP engine and keeps the list of live blocking
// requests so that they can all be cancelled.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace container {

class HnNetworkEngine;
class MwHttpRequest;
class MwHttpRequestImp;

class MwRequestFactory {
 public:
  // The shared factory.
  static std::shared_ptr<MwRequestFactory> getInstance();
  // A factory of its own, with its own engine.
  static std::shared_ptr<MwRequestFactory> create();

  // A request on this factory's engine: the URL with a query made of the parameters ("?k=v" for the
  // first, "&k=v" for the others, kept as its parameter), the body, the method, certificate checks,
  // compressed answers, "Content-Type" "*/*; charset=utf-8" and the time-out in seconds.
  std::shared_ptr<MwHttpRequestImp> createRequest(const std::string& url, const std::optional<pf::Value>& param,
                                                  const pf::Bytes& data, const std::string& method,
                                                  std::int64_t timeout);

  // Live-request list (null is ignored).
  void addHttpRequest(const std::shared_ptr<MwHttpRequest>& request);
  void removeHttpRequest(const std::shared_ptr<MwHttpRequest>& request);
  // From last to first: cancels each request's operation that is executing and removes the request.
  void cancelAllRequest();
  std::size_t liveRequestCount() const;

  const std::shared_ptr<HnNetworkEngine>& getEngine() const { return engine_; }

 private:
  MwRequestFactory();
  std::shared_ptr<HnNetworkEngine> engine_;
  mutable pf::Mutex mutex_;
  std::vector<std::shared_ptr<MwHttpRequest>> requests_ PF_GUARDED_BY(mutex_);
};

}  // namespace container
