#pragma once
// A socket stream's error: a domain and a 32-bit number, as the streams report them, and its
// conversion to the platform's error object.

#include <cstdint>
#include <optional>

#include "platform/foundation/Error.h"

namespace pf {

enum class StreamErrorDomain {
  None,
  Custom,
  Posix,        // code: errno
  MacOSStatus,  // code: a status number
  Mach,
  NetDB,        // code: an EAI_* resolver code
  NetServices,
  Socks,
  SystemConfiguration,
  SSL,          // code: one of TlsErrorCode
};

// Numbers of the SSL domain.
namespace TlsErrorCode {
inline constexpr std::int32_t kProtocol = -9800;           // malformed or unexpected TLS traffic
inline constexpr std::int32_t kClosedAbort = -9806;        // the peer went away during the handshake
inline constexpr std::int32_t kCertificateRejected = -9807;  // the peer's chain or name was not trusted
inline constexpr std::int32_t kBadSettings = -9810;        // settings that cannot make a session
inline constexpr std::int32_t kHandshakeFailed = -9824;    // the handshake failed (alert, no common cipher)
inline constexpr std::int32_t kPlaintextBeforeHandshake = -9830;  // unencrypted bytes were waiting
}  // namespace TlsErrorCode

struct StreamError {
  StreamErrorDomain domain = StreamErrorDomain::None;
  std::int32_t code = 0;

  // Error domains of the converted errors.
  static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";
  static constexpr const char* kOSStatusDomain = "NSOSStatusErrorDomain";
  static constexpr const char* kMachDomain = "NSMachErrorDomain";
  static constexpr const char* kNetDBDomain = "kCFStreamErrorDomainNetDB";
  static constexpr const char* kNetServicesDomain = "kCFStreamErrorDomainNetServices";
  static constexpr const char* kSocksDomain = "kCFStreamErrorDomainSOCKS";
  static constexpr const char* kSystemConfigurationDomain = "kCFStreamErrorDomainSystemConfiguration";
  static constexpr const char* kSSLDomain = "kCFStreamErrorDomainSSL";
  static constexpr const char* kUnlistedDomain = "CFStreamError (unlisted domain)";

  static StreamError posix(int errnoValue) { return {StreamErrorDomain::Posix, errnoValue}; }
  static StreamError netdb(int eaiCode) { return {StreamErrorDomain::NetDB, eaiCode}; }
  static StreamError ssl(std::int32_t code) { return {StreamErrorDomain::SSL, code}; }

  bool isError() const { return code != 0; }

  // The platform's error: nothing for "no error" (no domain and number 0); a resolver error also
  // carries the resolver's text as its description.
  std::optional<Error> toError() const;

  bool operator==(const StreamError&) const = default;
};

}  // namespace pf
