#pragma once
// Loopback helpers shared by the socket, stream and RlSocket tests: resolvers that never touch the
// network, a plain listening socket, and descriptor counting.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/HostResolver.h"
#include "platform/net/SocketAddress.h"

namespace fxtest {

// Answers from a table (numeric hosts answer themselves); unknown names fail with EAI_NONAME.
class TableResolver : public pf::HostResolver {
 public:
  void add(const std::string& host, std::vector<std::string> numeric) { table_[host] = std::move(numeric); }

  void resolve(const std::string& host, std::uint16_t port, const pf::ResolveHints& hints, Completion done) override {
    {
      std::lock_guard lock(mutex_);
      asked_.push_back(host);
    }
    auto result = resolveNow(host, port, hints);
    std::thread([done = std::move(done), result] { done(result); }).detach();
  }

  pf::ResolveResult resolveNow(const std::string& host, std::uint16_t port, const pf::ResolveHints&) override {
    pf::ResolveResult result;
    std::vector<std::string> numeric;
    auto it = table_.find(host);
    if (it != table_.end()) {
      numeric = it->second;
    } else if (pf::SocketAddress::parse(host, port)) {
      numeric = {host};
    }
    for (const auto& text : numeric) result.addresses.push_back(*pf::SocketAddress::parse(text, port));
    if (result.addresses.empty()) result.status = EAI_NONAME;
    return result;
  }

  std::vector<std::string> asked() const {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  std::map<std::string, std::vector<std::string>> table_;
  mutable std::mutex mutex_;
  std::vector<std::string> asked_;
};

// Never answers.
class SilentResolver : public pf::HostResolver {
 public:
  void resolve(const std::string&, std::uint16_t, const pf::ResolveHints&, Completion) override {}
  pf::ResolveResult resolveNow(const std::string&, std::uint16_t, const pf::ResolveHints&) override {
    return {EAI_AGAIN, 0, {}};
  }
};

// Installs a shared resolver for its lifetime.
class ResolverScope {
 public:
  explicit ResolverScope(std::shared_ptr<pf::HostResolver> resolver) { pf::HostResolver::setShared(std::move(resolver)); }
  ~ResolverScope() { pf::HostResolver::setShared(nullptr); }
};

// A plain blocking listening socket on a loopback address with a system-chosen port.
class LoopbackListener {
 public:
  explicit LoopbackListener(bool ipv6 = false) {
    auto address = ipv6 ? pf::SocketAddress::loopback6(0) : pf::SocketAddress::loopback4(0);
    fd_ = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::bind(fd_, address.sockaddrPointer(), address.length()) == 0 && ::listen(fd_, 16) == 0) {
      port_ = pf::SocketAddress::local(fd_)->port();
    }
  }
  ~LoopbackListener() {
    for (int fd : accepted_) ::close(fd);
    if (fd_ >= 0) ::close(fd_);
  }
  std::uint16_t port() const { return port_; }
  bool ok() const { return port_ != 0; }
  // A connection the kernel has completed (the run loop need not be running); -1 after timeoutMs.
  // The listener closes it at the end unless closePeer() did.
  int accept(int timeoutMs = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return -1;
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) accepted_.push_back(fd);
    return fd;
  }
  void closePeer(int fd) {
    auto it = std::find(accepted_.begin(), accepted_.end(), fd);
    if (it != accepted_.end()) accepted_.erase(it);
    ::close(fd);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> accepted_;
};

// A port on which nothing listens (bound, then released).
inline std::uint16_t closedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  auto address = pf::SocketAddress::loopback4(0);
  ::bind(fd, address.sockaddrPointer(), address.length());
  std::uint16_t port = pf::SocketAddress::local(fd)->port();
  ::close(fd);
  return port;
}

inline int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

// The count a test compares with at its end: taken once the loop has made its own descriptors,
// which it does the first time it runs in a mode and keeps, so that a test that happens to run it
// first in its process does not count them as its own.
inline int openDescriptorCountBefore(pf::RunLoop& loop) {
  loop.runInMode(pf::kDefaultRunLoopMode, 0);
  return openDescriptorCount();
}

inline bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads until `count` bytes arrived or the peer closed (blocking, with a poll limit per step).
inline std::string readSome(int fd, std::size_t count, int timeoutMs = 5000) {
  std::string out;
  while (out.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

inline bool hasIPv6Loopback() {
  int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  auto address = pf::SocketAddress::loopback6(0);
  bool ok = ::bind(fd, address.sockaddrPointer(), address.length()) == 0;
  ::close(fd);
  return ok;
}

}  // namespace fxtest
