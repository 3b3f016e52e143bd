#pragma once
// The container's HTTP engine: makes operations with its custom headers and runs them; every
// operation's connection lives on the main run loop.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/net/HttpHeaders.h"

namespace container {

class HnNetworkOperation;

class HnNetworkEngine : public std::enable_shared_from_this<HnNetworkEngine> {
 public:
  static std::shared_ptr<HnNetworkEngine> make(pf::HttpHeaders customHeaders = {});

  // A new operation with the engine's custom headers; a time-out of 0 or less gives 30 s.
  std::shared_ptr<HnNetworkOperation> operationWithURLString(const std::string& urlString,
                                                             const std::optional<pf::Value>& params,
                                                             const std::string& method, double timeout) const;
  // Starts the operation; the engine keeps it until it ends.
  void enqueueOperation(const std::shared_ptr<HnNetworkOperation>& operation);
  // Cancels every operation of this engine.
  void cancelAllOperations();
  // Cancels every queued or running operation of every engine whose URL text contains the text.
  static void cancelOperationsContainingURLString(std::string_view text);

  std::size_t operationCount() const;

 private:
  explicit HnNetworkEngine(pf::HttpHeaders customHeaders) : customHeaders_(std::move(customHeaders)) {}
  std::vector<std::shared_ptr<HnNetworkOperation>> liveOperations() const;
  void remove(const HnNetworkOperation* operation);

  pf::HttpHeaders customHeaders_;
  mutable pf::Mutex mutex_;
  std::vector<std::shared_ptr<HnNetworkOperation>> operations_ PF_GUARDED_BY(mutex_);
};

}  // namespace container
