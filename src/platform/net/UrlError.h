#pragma once
// Errors of URL loading: the platform's URL error domain, its codes and user-info keys.

#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/net/Url.h"

namespace pf {

inline constexpr const char* kUrlErrorDomain = "NSURLErrorDomain";
// User-info keys: the failing URL (its text under both keys).
inline constexpr const char* kUrlErrorFailingUrlKey = "NSErrorFailingURLKey";
inline constexpr const char* kUrlErrorFailingUrlStringKey = "NSErrorFailingURLStringKey";
// The failing host of a TLS error.
inline constexpr const char* kUrlErrorFailingHostKey = "NSErrorFailingHostKey";

namespace UrlErrorCode {
inline constexpr int kUnknown = -1;
inline constexpr int kCancelled = -999;
inline constexpr int kBadUrl = -1000;
inline constexpr int kTimedOut = -1001;
inline constexpr int kUnsupportedUrl = -1002;
inline constexpr int kCannotFindHost = -1003;
inline constexpr int kCannotConnectToHost = -1004;
inline constexpr int kNetworkConnectionLost = -1005;
inline constexpr int kHttpTooManyRedirects = -1007;
inline constexpr int kNotConnectedToInternet = -1009;
inline constexpr int kBadServerResponse = -1011;
inline constexpr int kUserCancelledAuthentication = -1012;
inline constexpr int kCannotDecodeContentData = -1016;
// A redirect from https would leave the secure connection (to http).
inline constexpr int kSecureConnectionRequired = -1022;
inline constexpr int kRequestBodyStreamExhausted = -1021;
inline constexpr int kFileDoesNotExist = -1100;
inline constexpr int kDataLengthExceedsMaximum = -1103;
inline constexpr int kSecureConnectionFailed = -1200;
inline constexpr int kServerCertificateUntrusted = -1202;
inline constexpr int kClientCertificateRejected = -1205;
inline constexpr int kCannotCreateFile = -3000;
inline constexpr int kCannotWriteToFile = -3003;
}  // namespace UrlErrorCode

// An error of the URL domain with the code's description and the failing URL.
Error makeUrlError(int code, const std::optional<Url>& failingUrl, std::string detail = {});

// The platform's English description of a code.
std::string urlErrorDescription(int code);

}  // namespace pf
