#include "platform/net/SocketAddress.h"

#include <arpa/inet.h>

#include <cstring>

namespace pf {

SocketAddress SocketAddress::ipv4(const in_addr& address, std::uint16_t port) {
  SocketAddress result;
  auto* in = reinterpret_cast<sockaddr_in*>(&result.storage_);
  in->sin_family = AF_INET;
  in->sin_port = htons(port);
  in->sin_addr = address;
  result.length_ = sizeof(sockaddr_in);
  return result;
}

SocketAddress SocketAddress::ipv6(const in6_addr& address, std::uint16_t port, std::uint32_t scopeId) {
  SocketAddress result;
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&result.storage_);
  in6->sin6_family = AF_INET6;
  in6->sin6_port = htons(port);
  in6->sin6_addr = address;
  in6->sin6_scope_id = scopeId;
  result.length_ = sizeof(sockaddr_in6);
  return result;
}

SocketAddress SocketAddress::loopback4(std::uint16_t port) {
  in_addr a{};
  a.s_addr = htonl(INADDR_LOOPBACK);
  return ipv4(a, port);
}

SocketAddress SocketAddress::loopback6(std::uint16_t port) { return ipv6(in6addr_loopback, port); }

SocketAddress SocketAddress::any4(std::uint16_t port) {
  in_addr a{};
  a.s_addr = htonl(INADDR_ANY);
  return ipv4(a, port);
}

SocketAddress SocketAddress::any6(std::uint16_t port) { return ipv6(in6addr_any, port); }

std::optional<SocketAddress> SocketAddress::parse(std::string_view numericHost, std::uint16_t port) {
  std::string host(numericHost);
  in_addr a4{};
  if (inet_pton(AF_INET, host.c_str(), &a4) == 1) return ipv4(a4, port);
  in6_addr a6{};
  if (inet_pton(AF_INET6, host.c_str(), &a6) == 1) return ipv6(a6, port);
  return std::nullopt;
}

std::optional<SocketAddress> SocketAddress::fromSockaddr(const sockaddr* address, socklen_t length) {
  if (!address || length < static_cast<socklen_t>(sizeof(sa_family_t))) return std::nullopt;
  sa_family_t family;
  std::memcpy(&family, address, sizeof family);
  socklen_t needed;
  if (family == AF_INET) {
    needed = sizeof(sockaddr_in);
  } else if (family == AF_INET6) {
    needed = sizeof(sockaddr_in6);
  } else {
    return std::nullopt;
  }
  if (length < needed) return std::nullopt;
  SocketAddress result;
  std::memcpy(&result.storage_, address, needed);
  result.length_ = needed;
  return result;
}

std::optional<SocketAddress> SocketAddress::fromBytes(const Bytes& bytes) {
  if (bytes.size() > sizeof(sockaddr_storage)) return std::nullopt;
  sockaddr_storage storage{};
  std::memcpy(&storage, bytes.data(), bytes.size());
  return fromSockaddr(reinterpret_cast<const sockaddr*>(&storage), static_cast<socklen_t>(bytes.size()));
}

std::optional<SocketAddress> SocketAddress::local(int fd) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
  return fromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
}

std::optional<SocketAddress> SocketAddress::peer(int fd) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
  return fromSockaddr(reinterpret_cast<const sockaddr*>(&storage), length);
}

std::uint16_t SocketAddress::port() const {
  if (isIPv4()) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
  if (isIPv6()) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
  return 0;
}

void SocketAddress::setPort(std::uint16_t port) {
  if (isIPv4()) reinterpret_cast<sockaddr_in*>(&storage_)->sin_port = htons(port);
  if (isIPv6()) reinterpret_cast<sockaddr_in6*>(&storage_)->sin6_port = htons(port);
}

std::string SocketAddress::host() const {
  char text[INET6_ADDRSTRLEN] = {};
  const char* done = nullptr;
  if (isIPv4()) {
    done = inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr, text, INET_ADDRSTRLEN);
  } else if (isIPv6()) {
    done = inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr, text, sizeof text);
  }
  return done ? std::string(done) : std::string();
}

std::string SocketAddress::text() const {
  if (empty()) return {};
  std::string host = this->host();
  if (isIPv6()) host = "[" + host + "]";
  return host + ":" + std::to_string(port());
}

Bytes SocketAddress::bytes() const {
  const auto* begin = reinterpret_cast<const std::uint8_t*>(&storage_);
  return Bytes(begin, begin + length_);
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  return length_ == other.length_ && std::memcmp(&storage_, &other.storage_, length_) == 0;
}

}  // namespace pf
