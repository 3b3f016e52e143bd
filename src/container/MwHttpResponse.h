#pragma once
// The answer of one HTTP exchange as the container's requests hand it out.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/net/HttpHeaders.h"

namespace container {

class HnNetworkOperation;

// The abstract response; its own operations answer nothing.
class MwHttpResponse {
 public:
  virtual ~MwHttpResponse() = default;
  // The HTTP status; 0 when there was no HTTP answer.
  virtual std::int64_t getStatusCode() const { return 0; }
  virtual const pf::HttpHeaders& getHeaders() const;
  virtual const std::optional<pf::Bytes>& getResponseData() const;
  virtual const std::optional<std::string>& getSessionId() const;
};

// The response made from a finished operation: its status, a copy of its header fields, its body
// (taken over from the operation, not copied), and as session id the value of the first cookie (of
// the header fields, for the request's URL) whose name contains "SESSIONID", cut before its first ":".
class MwHttpResponseImp : public MwHttpResponse {
 public:
  explicit MwHttpResponseImp(HnNetworkOperation& operation);

  std::int64_t getStatusCode() const override { return statusCode_; }
  const pf::HttpHeaders& getHeaders() const override { return headers_; }
  const std::optional<pf::Bytes>& getResponseData() const override { return data_; }
  const std::optional<std::string>& getSessionId() const override { return sessionId_; }

 private:
  std::int64_t statusCode_ = 0;
  pf::HttpHeaders headers_;
  std::optional<pf::Bytes> data_;
  std::optional<std::string> sessionId_;
};

}  // namespace container
