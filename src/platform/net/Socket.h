#pragma once
// A TCP socket with connect and accept callbacks on a run loop: listening sockets, connecting
// sockets, and wrappers of existing descriptors (which they do not own unless told to).
//
// The callbacks arrive through the socket's run-loop source, which the owner adds to a run loop in
// the modes it wants: a connect callback once a connection attempt without waiting has finished
// (value: 0 or the errno of the failure), an accept callback for every connection a listening
// socket takes (value: the new descriptor, which then belongs to the callee).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketAddress.h"

namespace pf {

class Socket : public std::enable_shared_from_this<Socket> {
 public:
  enum CallbackType : unsigned {
    kNoCallBack = 0,
    kAcceptCallBack = 2,
    kConnectCallBack = 4,
  };
  enum class Result { Success, Error, Timeout };

  using Callback = std::function<void(Socket& socket, CallbackType type, int value)>;

  // A new non-blocking TCP socket of the family (AF_INET or AF_INET6; IPv6 sockets are IPv6-only)
  // that closes its descriptor when invalidated. Null, with errno set, when the system refuses.
  static std::shared_ptr<Socket> create(int family, unsigned callbackTypes, Callback callback);
  // Wraps a descriptor without owning it (see setClosesOnInvalidate).
  static std::shared_ptr<Socket> createWithNative(int fd, unsigned callbackTypes = kNoCallBack,
                                                  Callback callback = nullptr);

  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int native() const { return fd_; }
  bool isValid() const { return valid_; }
  // Stops the callbacks, removes the source from its run loop and closes the descriptor when the
  // socket owns it.
  void invalidate();
  void setClosesOnInvalidate(bool closes) { closesOnInvalidate_ = closes; }
  bool closesOnInvalidate() const { return closesOnInvalidate_; }

  // Connects to the address. A negative timeout does not wait: Success means the attempt is under
  // way and the connect callback will report it. Otherwise waits up to `timeout` seconds.
  Result connectTo(const SocketAddress& address, double timeout);
  // Binds to the address and listens (backlog 256).
  Result setAddress(const SocketAddress& address);

  std::optional<SocketAddress> address() const { return SocketAddress::local(fd_); }
  std::optional<SocketAddress> peerAddress() const { return SocketAddress::peer(fd_); }

  // The source that delivers the callbacks; add it to a run loop in the modes wanted.
  std::shared_ptr<RunLoopSource> runLoopSource();

 private:
  Socket(int fd, unsigned callbackTypes, Callback callback, bool owns);
  void onReady(std::uint32_t events);
  void updateInterest();

  int fd_ = -1;
  bool valid_ = true;
  bool closesOnInvalidate_ = false;
  bool listening_ = false;
  bool connecting_ = false;
  unsigned callbackTypes_ = kNoCallBack;
  Callback callback_;
  std::shared_ptr<RunLoopSource> source_;
};

}  // namespace pf
