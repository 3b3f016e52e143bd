#pragma once
// Name resolution for the socket streams and listening sockets. The shared resolver is the system's
// (getaddrinfo on a worker thread, never on the caller's run loop); tests install their own so that
// no name ever leaves the machine.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/SocketAddress.h"

namespace pf {

struct ResolveHints {
  int family = AF_UNSPEC;  // AF_INET, AF_INET6 or AF_UNSPEC
  bool passive = false;    // addresses to listen on (AI_PASSIVE)
};

struct ResolveResult {
  int status = 0;  // 0, or the resolver's EAI_* code (EAI_SYSTEM: see systemErrno)
  int systemErrno = 0;
  std::vector<SocketAddress> addresses;  // TCP addresses in the resolver's order

  bool ok() const { return status == 0; }
};

class HostResolver {
 public:
  using Completion = std::function<void(ResolveResult)>;

  virtual ~HostResolver() = default;

  // Starts resolving host and port and returns at once. `done` runs once, on any thread, unless the
  // resolver never answers; callers that lose interest simply ignore the answer.
  virtual void resolve(const std::string& host, std::uint16_t port, const ResolveHints& hints, Completion done) = 0;

  // Resolves on the calling thread.
  virtual ResolveResult resolveNow(const std::string& host, std::uint16_t port, const ResolveHints& hints) = 0;

  // The resolver the platform uses (the system's unless replaced). Thread-safe.
  static std::shared_ptr<HostResolver> shared();
  // Replaces the shared resolver; nullptr restores the system's.
  static void setShared(std::shared_ptr<HostResolver> resolver);
};

// getaddrinfo: resolveNow on the caller's thread, resolve on a short-lived worker thread.
class SystemHostResolver final : public HostResolver {
 public:
  void resolve(const std::string& host, std::uint16_t port, const ResolveHints& hints, Completion done) override;
  ResolveResult resolveNow(const std::string& host, std::uint16_t port, const ResolveHints& hints) override;
};

}  // namespace pf
