#include "platform/net/Socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

namespace pf {

std::shared_ptr<Socket> Socket::create(int family, unsigned callbackTypes, Callback callback) {
  if (family != AF_INET && family != AF_INET6) {
    errno = EAFNOSUPPORT;
    return nullptr;
  }
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return nullptr;
  if (family == AF_INET6) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  return std::shared_ptr<Socket>(new Socket(fd, callbackTypes, std::move(callback), true));
}

std::shared_ptr<Socket> Socket::createWithNative(int fd, unsigned callbackTypes, Callback callback) {
  if (fd < 0) {
    errno = EBADF;
    return nullptr;
  }
  return std::shared_ptr<Socket>(new Socket(fd, callbackTypes, std::move(callback), false));
}

Socket::Socket(int fd, unsigned callbackTypes, Callback callback, bool owns)
    : fd_(fd), closesOnInvalidate_(owns), callbackTypes_(callbackTypes), callback_(std::move(callback)) {}

Socket::~Socket() { invalidate(); }

void Socket::invalidate() {
  if (!valid_) return;
  valid_ = false;
  callback_ = nullptr;
  if (source_) source_->invalidate();
  if (closesOnInvalidate_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Socket::Result Socket::connectTo(const SocketAddress& address, double timeout) {
  if (!valid_ || address.empty()) {
    errno = EINVAL;
    return Result::Error;
  }
  if (::connect(fd_, address.sockaddrPointer(), address.length()) == 0) {
    connecting_ = timeout < 0;
    updateInterest();
    return Result::Success;
  }
  if (errno != EINPROGRESS) return Result::Error;
  if (timeout < 0) {
    connecting_ = true;
    updateInterest();
    return Result::Success;
  }
  pollfd p{fd_, POLLOUT, 0};
  int ms = static_cast<int>(std::ceil(timeout * 1000.0));
  int ready;
  while ((ready = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
  }
  if (ready == 0) return Result::Timeout;
  int socketError = 0;
  socklen_t length = sizeof socketError;
  ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length);
  if (socketError != 0) {
    errno = socketError;
    return Result::Error;
  }
  return Result::Success;
}

Socket::Result Socket::setAddress(const SocketAddress& address) {
  if (!valid_ || address.empty()) {
    errno = EINVAL;
    return Result::Error;
  }
  if (::bind(fd_, address.sockaddrPointer(), address.length()) != 0) return Result::Error;
  if (::listen(fd_, 256) != 0) return Result::Error;
  listening_ = true;
  updateInterest();
  return Result::Success;
}

std::shared_ptr<RunLoopSource> Socket::runLoopSource() {
  if (!source_) {
    std::weak_ptr<Socket> weak = weak_from_this();
    source_ = RunLoopSource::makeFd(fd_, 0, [weak](RunLoopSource&, std::uint32_t events) {
      if (auto self = weak.lock()) self->onReady(events);
    });
    if (!valid_) source_->invalidate();
    updateInterest();
  }
  return source_;
}

void Socket::updateInterest() {
  if (!source_ || !valid_) return;
  std::uint32_t events = 0;
  if (listening_ && (callbackTypes_ & kAcceptCallBack)) events |= kRunLoopRead;
  if (connecting_ && (callbackTypes_ & kConnectCallBack)) events |= kRunLoopWrite;
  source_->setEvents(events);
}

void Socket::onReady(std::uint32_t events) {
  auto self = shared_from_this();
  if (!valid_) return;
  if (connecting_ && (events & (kRunLoopWrite | kRunLoopError | kRunLoopHangUp))) {
    int socketError = 0;
    socklen_t length = sizeof socketError;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0) socketError = errno;
    if (socketError == EINPROGRESS || socketError == EALREADY) return;
    connecting_ = false;
    updateInterest();
    if (callback_) {
      auto callback = callback_;
      callback(*this, kConnectCallBack, socketError);
    }
    return;
  }
  if (listening_ && (events & kRunLoopRead)) {
    // Takes what is waiting; each new descriptor goes to the callback (or is closed without one).
    for (int taken = 0; taken < 64 && valid_; ++taken) {
      int child = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (child < 0) break;
      if (callback_) {
        auto callback = callback_;
        callback(*this, kAcceptCallBack, child);
      } else {
        ::close(child);
      }
    }
  }
}

}  // namespace pf
