#include "platform/net/HostResolver.h"

#include <netdb.h>

#include <cerrno>
#include <thread>

#include "platform/foundation/SharedInstance.h"

namespace pf {
namespace {

SharedInstance<HostResolver> gShared;

}  // namespace

std::shared_ptr<HostResolver> HostResolver::shared() {
  return gShared.get([] { return std::make_shared<SystemHostResolver>(); });
}

void HostResolver::setShared(std::shared_ptr<HostResolver> resolver) { gShared.exchange(std::move(resolver)); }

ResolveResult SystemHostResolver::resolveNow(const std::string& host, std::uint16_t port, const ResolveHints& hints) {
  addrinfo want{};
  want.ai_family = hints.family;
  want.ai_socktype = SOCK_STREAM;
  want.ai_protocol = IPPROTO_TCP;
  want.ai_flags = hints.passive ? AI_PASSIVE : 0;
  std::string service = std::to_string(port);
  addrinfo* list = nullptr;
  ResolveResult result;
  errno = 0;
  result.status = getaddrinfo(host.c_str(), service.c_str(), &want, &list);
  if (result.status == EAI_SYSTEM) result.systemErrno = errno;
  if (result.status != 0) return result;
  for (addrinfo* item = list; item; item = item->ai_next) {
    if (auto address = SocketAddress::fromSockaddr(item->ai_addr, item->ai_addrlen)) {
      result.addresses.push_back(*address);
    }
  }
  freeaddrinfo(list);
  if (result.addresses.empty()) result.status = EAI_NONAME;
  return result;
}

void SystemHostResolver::resolve(const std::string& host, std::uint16_t port, const ResolveHints& hints,
                                 Completion done) {
  // Even a numeric host is answered from the worker: answering inside resolve() would re-enter the
  // caller.
  std::thread([host, port, hints, done = std::move(done)] {
    SystemHostResolver resolver;
    done(resolver.resolveNow(host, port, hints));
  }).detach();
}

}  // namespace pf
