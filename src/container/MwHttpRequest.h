#pragma once
// The abstract HTTP request of the container; its own operations answer nothing and send nothing.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace container {

class HnNetworkOperation;
class MwFileRequestListener;
class MwHttpResponse;

class MwHttpRequest {
 public:
  using ResponseBlock = std::function<void(std::shared_ptr<MwHttpResponse>)>;

  virtual ~MwHttpRequest() = default;

  virtual bool isAborted() const { return false; }
  virtual void abort() {}
  // Blocking exchanges; the response object, or null.
  virtual std::shared_ptr<MwHttpResponse> asynchDataRequest() { return nullptr; }
  virtual std::shared_ptr<MwHttpResponse> synchDataRequest() { return nullptr; }
  // Sends without waiting; the block hears the response, or null on failure.
  virtual void asynchronousRequest(ResponseBlock block) {}
  virtual void cancelOperation() {}
  // Downloads to the destination path; whether it succeeded.
  virtual bool fileRequest(const std::string& path, std::weak_ptr<MwFileRequestListener> listener) {
    return false;
  }
  // The body bytes (kept by the request, shared), or null.
  virtual std::shared_ptr<const pf::Bytes> streamRequest() { return nullptr; }
  virtual std::optional<std::string> getUrl() const { return std::nullopt; }
  virtual std::shared_ptr<HnNetworkOperation> getHnNetworkOperation() const { return nullptr; }
  virtual std::optional<std::string> getRequestID() const { return std::nullopt; }
};

}  // namespace container
