#pragma once
// The answer of one HTTP exchange as the container's requests hand it out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace container {

// The abstract response; its own operations answer nothing.
class MwHttpResponse {
 public:
  virtual ~MwHttpResponse() = default;
  // The HTTP status; 0 when there was no HTTP answer.
  virtual std::int64_t getStatusCode() const { return 0; }
  // The header fields as a dictionary of texts (an empty dictionary when there are none).
  virtual const pf::Value& getHeaders() const;
  virtual const std::optional<pf::Bytes>& getResponseData() const;
  virtual const std::optional<std::string>& getSessionId() const;

  // The value of the header whose name equals the given one ignoring case.
  std::optional<std::string> headerValue(std::string_view name) const;
};

// Header lookup ignoring case in a dictionary of header fields.
std::optional<std::string> headerFieldValue(const pf::Value& headers, std::string_view name);

}  // namespace container
