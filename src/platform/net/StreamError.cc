#include "platform/net/StreamError.h"

#include <netdb.h>

namespace pf {

std::optional<Error> StreamError::toError() const {
  if (domain == StreamErrorDomain::None && code == 0) return std::nullopt;
  const char* name = kUnlistedDomain;
  switch (domain) {
    case StreamErrorDomain::Posix: name = kPosixDomain; break;
    case StreamErrorDomain::MacOSStatus: name = kOSStatusDomain; break;
    case StreamErrorDomain::Mach: name = kMachDomain; break;
    case StreamErrorDomain::NetDB: name = kNetDBDomain; break;
    case StreamErrorDomain::NetServices: name = kNetServicesDomain; break;
    case StreamErrorDomain::Socks: name = kSocksDomain; break;
    case StreamErrorDomain::SystemConfiguration: name = kSystemConfigurationDomain; break;
    case StreamErrorDomain::SSL: name = kSSLDomain; break;
    case StreamErrorDomain::None:
    case StreamErrorDomain::Custom: break;
  }
  Error error(name, code);
  if (domain == StreamErrorDomain::NetDB) {
    if (const char* text = gai_strerror(code)) error.userInfo[kLocalizedDescriptionKey] = std::string(text);
  }
  return error;
}

}  // namespace pf
