#include "platform/net/UrlError.h"

namespace pf {

std::string urlErrorDescription(int code) {
  using namespace UrlErrorCode;
  switch (code) {
    case kCancelled: return "cancelled";
    case kBadUrl: return "bad URL";
    case kTimedOut: return "The request timed out.";
    case kUnsupportedUrl: return "unsupported URL";
    case kCannotFindHost: return "A server with the specified hostname could not be found.";
    case kCannotConnectToHost: return "Could not connect to the server.";
    case kNetworkConnectionLost: return "The network connection was lost.";
    case kHttpTooManyRedirects: return "too many HTTP redirects";
    case kNotConnectedToInternet: return "The Internet connection appears to be offline.";
    case kBadServerResponse: return "bad server response";
    case kUserCancelledAuthentication: return "The user canceled authentication.";
    case kCannotDecodeContentData: return "cannot decode content data";
    case kSecureConnectionRequired:
      return "The resource could not be loaded because a secure connection is required.";
    case kRequestBodyStreamExhausted: return "request body stream exhausted";
    case kFileDoesNotExist: return "The requested URL was not found on this server.";
    case kDataLengthExceedsMaximum: return "resource exceeds maximum size";
    case kSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case kClientCertificateRejected: return "The server did not accept the certificate.";
    case kCannotCreateFile: return "cannot create file";
    case kCannotWriteToFile: return "cannot write file";
    default: return "unknown error";
  }
}

Error makeUrlError(int code, const std::optional<Url>& failingUrl, std::string detail) {
  Value info = Value::object();
  info[kLocalizedDescriptionKey] = urlErrorDescription(code);
  if (failingUrl) {
    info[kUrlErrorFailingUrlKey] = failingUrl->absoluteString();
    info[kUrlErrorFailingUrlStringKey] = failingUrl->absoluteString();
    if (code <= UrlErrorCode::kSecureConnectionFailed && code > -1300) {
      info[kUrlErrorFailingHostKey] = failingUrl->host();
    }
  }
  if (!detail.empty()) info[kLocalizedFailureReasonKey] = std::move(detail);
  return Error(kUrlErrorDomain, code, std::move(info));
}

}  // namespace pf
