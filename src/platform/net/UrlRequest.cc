#include "platform/net/UrlRequest.h"

namespace pf {

const Value& UrlRequest::properties() const {
  static const Value kEmpty = Value::object();
  return properties_.is_object() ? properties_ : kEmpty;
}

Value& UrlRequest::properties() {
  if (!properties_.is_object()) properties_ = Value::object();
  return properties_;
}

void UrlRequest::setValue(std::optional<std::string> value, std::string_view field) {
  if (value) {
    headers_.set(field, *value);
  } else {
    headers_.remove(field);
  }
}

void UrlRequest::setHttpBody(std::optional<Bytes> body) {
  body_ = std::move(body);
  if (body_) bodyStream_.reset();
}

void UrlRequest::setHttpBodyStream(std::shared_ptr<HttpBodyStream> stream) {
  bodyStream_ = std::move(stream);
  if (bodyStream_) body_.reset();
}

}  // namespace pf
