#pragma once
// The head of an HTTP answer: final URL, status, header fields, and what is read from them.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HttpHeaders.h"
#include "platform/net/Url.h"

namespace pf {

class UrlResponse {
 public:
  UrlResponse(Url url, int statusCode, HttpHeaders headers);

  // The URL that answered (after redirects).
  const Url& url() const { return url_; }
  int statusCode() const { return statusCode_; }
  const HttpHeaders& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHttpHeaderField(std::string_view name) const { return headers_.value(name); }

  // Content-Type without parameters, lower case; nullopt without the header.
  const std::optional<std::string>& mimeType() const { return mimeType_; }
  // The charset parameter of Content-Type, lower case and unquoted.
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // Content-Length, -1 when absent or not a number.
  std::int64_t expectedContentLength() const { return expectedContentLength_; }
  // Content-Length when the body comes as it is (no Content-Encoding but identity), so that it is
  // the length of the bytes a receiver gets; -1 otherwise (a compressed body's length says nothing
  // of what it inflates to).
  std::int64_t expectedIdentityContentLength() const;
  // A file name for the body: Content-Disposition's, else the URL's last path component, else
  // the host, else "Unknown"; never a path (directories and "." / ".." are dropped).
  std::string suggestedFilename() const;

 private:
  Url url_;
  int statusCode_;
  HttpHeaders headers_;
  std::optional<std::string> mimeType_;
  std::optional<std::string> textEncodingName_;
  std::int64_t expectedContentLength_ = -1;
};

// The file-name part of a Content-Disposition value (filename*= preferred), or nullopt.
std::optional<std::string> contentDispositionFilename(std::string_view value);

}  // namespace pf
