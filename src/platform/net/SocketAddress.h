#pragma once
// IPv4 and IPv6 socket addresses in the system's own record layout (sockaddr_in, 16 bytes;
// sockaddr_in6, 28 bytes), so that the bytes handed to and from callers are what the kernel
// takes and gives.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace pf {

class SocketAddress {
 public:
  // The empty address (family AF_UNSPEC, length 0).
  SocketAddress() = default;

  static SocketAddress ipv4(const in_addr& address, std::uint16_t port);
  static SocketAddress ipv6(const in6_addr& address, std::uint16_t port, std::uint32_t scopeId = 0);
  static SocketAddress loopback4(std::uint16_t port);
  static SocketAddress loopback6(std::uint16_t port);
  static SocketAddress any4(std::uint16_t port);
  static SocketAddress any6(std::uint16_t port);

  // A numeric IPv4 or IPv6 host text ("127.0.0.1", "::1"); nothing for anything else.
  static std::optional<SocketAddress> parse(std::string_view numericHost, std::uint16_t port);
  // A record of the system's layout; nothing when the family or the length does not fit.
  static std::optional<SocketAddress> fromBytes(const Bytes& bytes);
  static std::optional<SocketAddress> fromSockaddr(const sockaddr* address, socklen_t length);
  // The descriptor's own address (getsockname) and its peer's (getpeername).
  static std::optional<SocketAddress> local(int fd);
  static std::optional<SocketAddress> peer(int fd);

  int family() const { return storage_.ss_family; }
  bool isIPv4() const { return family() == AF_INET; }
  bool isIPv6() const { return family() == AF_INET6; }
  bool empty() const { return length_ == 0; }

  std::uint16_t port() const;
  void setPort(std::uint16_t port);
  // The numeric host text (inet_ntop); empty for the empty address.
  std::string host() const;
  // "host:port", or "[host]:port" for IPv6.
  std::string text() const;

  Bytes bytes() const;
  const sockaddr* sockaddrPointer() const { return reinterpret_cast<const sockaddr*>(&storage_); }
  socklen_t length() const { return length_; }

  bool operator==(const SocketAddress& other) const;

 private:
  sockaddr_storage storage_{};
  socklen_t length_ = 0;
};

}  // namespace pf
