#pragma once
// An HTTP exchange with a response serializer, success and failure blocks, and a pause that
// resumes with a byte range.

#include <functional>
#include <memory>
#include <optional>

#include "appnet/TnqURLConnectionOperation.h"
#include "appnet/TnqURLResponseSerialization.h"

namespace appnet {

class TnqHTTPRequestOperation : public TnqURLConnectionOperation {
 public:
  using Success = std::function<void(const std::shared_ptr<TnqHTTPRequestOperation>&, const TnqResponseObject&)>;
  using Failure = std::function<void(const std::shared_ptr<TnqHTTPRequestOperation>&, const pf::Error&)>;

  static std::shared_ptr<TnqHTTPRequestOperation> make(pf::UrlRequest request);
  explicit TnqHTTPRequestOperation(pf::UrlRequest request);
  std::string className() const override { return "TnqHTTPRequestOperation"; }

  std::shared_ptr<TnqHTTPResponseSerializer> responseSerializer() const;
  // Clears the response object and the serialization error.
  void setResponseSerializer(std::shared_ptr<TnqHTTPResponseSerializer> serializer);
  // Made by the serializer on first read once finished without a transport error.
  TnqResponseObject responseObject();
  std::optional<pf::Error> responseSerializationError() const;
  // The serialization error when there is one, else the transport error.
  std::optional<pf::Error> error() const override;

  void setCompletionBlockWithSuccess(Success success, Failure failure);
  // The inherited pause, then the request asks for the rest: "Range: bytes=<offset>-" (and
  // "If-Range" with the response's ETag).
  void pause() override;

  void encodeWithCoder(pf::Value& coder) override;
  void initWithCoder(const pf::Value& coder) override;
  static std::shared_ptr<TnqHTTPRequestOperation> unarchive(const pf::Value& coder);
  std::shared_ptr<TnqHTTPRequestOperation> copyOperation() const;

 protected:
  std::shared_ptr<TnqURLConnectionOperation> makeCopy(pf::UrlRequest request) const override;
  void connectionDidReceiveResponse(pf::UrlConnection& connection, const pf::UrlResponse& response) override
      PF_REQUIRES(lock_);

 private:
  mutable std::shared_ptr<TnqHTTPResponseSerializer> serializer_ PF_GUARDED_BY(lock_);
  bool serializerSet_ PF_GUARDED_BY(lock_) = false;
  TnqResponseObject responseObject_ PF_GUARDED_BY(lock_);
  std::optional<pf::Error> serializationError_ PF_GUARDED_BY(lock_);
  bool serialized_ PF_GUARDED_BY(lock_) = false;
  // The offset of a resumed exchange, whose answer must be a 206 starting there.
  std::optional<std::uint64_t> resumeOffset_ PF_GUARDED_BY(lock_);
};

}  // namespace appnet
