#include "container/RlSocket.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/foundation/Log.h"
#include "platform/net/HostResolver.h"

namespace container {
namespace {

constexpr unsigned kReadStreamEvents = pf::kStreamEventOpenCompleted | pf::kStreamEventHasBytesAvailable |
                                       pf::kStreamEventErrorOccurred | pf::kStreamEventEndEncountered;  // 27
constexpr unsigned kWriteStreamEvents = pf::kStreamEventOpenCompleted | pf::kStreamEventCanAcceptBytes |
                                        pf::kStreamEventErrorOccurred | pf::kStreamEventEndEncountered;  // 29
constexpr std::int64_t kReadChunk = 256;
constexpr std::int64_t kWriteChunk = 4096;
// unreadData() drains at most this much from the stream.
constexpr std::size_t kUnreadDataLimit = 1 << 20;

std::string pointerText(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%" PRIxPTR, reinterpret_cast<std::uintptr_t>(pointer));
  return text;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, pattern, args);
  va_end(args);
  return text;
}

std::string errorText(const std::optional<pf::Error>& error) {
  if (!error) return "(null)";
  return "Error Domain=" + error->domain + " Code=" + std::to_string(error->code) + " \"" +
         error->localizedDescription() + "\"";
}

pf::Error socketError(int code, const char* defaultText) {
  // The texts would come from a string table "RlSocket"; none ships, so the defaults stand.
  return pf::Error(kRlSocketErrorDomain, code, {{pf::kLocalizedDescriptionKey, defaultText}});
}

[[noreturn]] void inconsistency(const std::string& reason) {
  throw pf::Exception(pf::kInternalInconsistencyException, reason);
}

const char* statusName(pf::StreamStatus status) {
  static const char* const kNames[] = {"not open", "opening", "open",   "reading",
                                       "writing",  "at end",  "closed", "has error"};
  int index = static_cast<int>(status);
  return index >= 0 && index < 8 ? kNames[index] : "unknown";
}

std::string hostText(const std::optional<std::string>& host) { return host ? *host : "(null)"; }

RlReadPacket& asRead(const std::shared_ptr<RlPacket>& packet) { return static_cast<RlReadPacket&>(*packet); }
RlWritePacket& asWrite(const std::shared_ptr<RlPacket>& packet) { return static_cast<RlWritePacket&>(*packet); }

}  // namespace

// ======================================================================== packets

RlReadPacket::RlReadPacket(std::shared_ptr<pf::Bytes> data, std::int64_t startOffset, std::int64_t maxLength, double timeout,
                           std::int64_t readLength, const pf::Bytes* terminator, long tag)
    : RlPacket(Kind::Read), maxLength(maxLength), timeout(timeout), readLength(readLength), tag(tag) {
  if (data) {
    originalBufferLength = data->size();
    buffer = std::move(data);
    this->startOffset = startOffset;
    bufferOwner = false;
  } else {
    buffer = std::make_shared<pf::Bytes>();
  }
  if (terminator) term = *terminator;
}

std::int64_t RlReadPacket::applyRoom(std::int64_t length) const {
  if (!bufferOwner && buffer->size() == originalBufferLength) {
    std::int64_t room = static_cast<std::int64_t>(buffer->size()) - startOffset - bytesDone;
    if (room != 0) return std::min(length, room);
  }
  return length;
}

std::int64_t RlReadPacket::readLengthForNonTerm() const {
  if (term) inconsistency("This method does not apply to term reads");
  if (readLength > 0) return readLength - bytesDone;
  std::int64_t length = maxLength >= 1 ? std::min(kReadChunk, maxLength - bytesDone) : kReadChunk;
  return applyRoom(length);
}

std::int64_t RlReadPacket::readLengthForTerm() const {
  if (!term) inconsistency("This method does not apply to non-term reads");
  auto termLength = static_cast<std::int64_t>(term->size());
  if (termLength == 1) return 1;
  std::int64_t result = termLength;
  // Where the received bytes end with the start of the terminator, take only the rest of it.
  std::int64_t i = std::max<std::int64_t>(bytesDone - termLength + 1, 0);
  std::int64_t j = std::min(termLength - 1, bytesDone);
  while (i < bytesDone) {
    if (std::memcmp(buffer->data() + startOffset + i, term->data(), static_cast<std::size_t>(j)) == 0) {
      result = termLength - j;
      break;
    }
    ++i;
    --j;
  }
  if (maxLength >= 1) result = std::min(result, maxLength - bytesDone);
  return applyRoom(result);
}

std::int64_t RlReadPacket::prebufferReadLengthForTerm() const {
  if (!term) inconsistency("This method does not apply to non-term reads");
  std::int64_t length = maxLength >= 1 ? std::min(kReadChunk, maxLength - bytesDone) : kReadChunk;
  return applyRoom(length);
}

std::int64_t RlReadPacket::searchForTermAfterPreBuffering(std::int64_t numBytes) const {
  if (!term) inconsistency("This method does not apply to non-term reads");
  auto termLength = static_cast<std::int64_t>(term->size());
  std::int64_t i = std::max<std::int64_t>(bytesDone - numBytes - termLength + 1, 0);
  while (i + termLength <= bytesDone) {
    if (std::memcmp(buffer->data() + startOffset + i, term->data(), term->size()) == 0) {
      return bytesDone - (i + termLength);
    }
    ++i;
  }
  return -1;
}

// ======================================================================== creation

RlSocket::RlSocket(Private, std::weak_ptr<RlSocketDelegate> delegate, long userData)
    : theDelegate(std::move(delegate)), theUserData(userData) {}

std::shared_ptr<RlSocket> RlSocket::create() { return create(std::weak_ptr<RlSocketDelegate>(), 0); }

std::shared_ptr<RlSocket> RlSocket::create(std::weak_ptr<RlSocketDelegate> delegate, long userData) {
  return std::make_shared<RlSocket>(Private{}, std::move(delegate), userData);
}

RlSocket::~RlSocket() {
  close();
  cancelDeferred();
}

bool RlSocket::canSafelySetDelegate() const {
  return theReadQueue.empty() && theWriteQueue.empty() && !theCurrentRead && !theCurrentWrite;
}

// ======================================================================== errors

pf::Error RlSocket::getSocketError() { return socketError(kRlSocketCFSocketError, "General CFSocket error"); }
pf::Error RlSocket::getAbortError() { return socketError(kRlSocketCanceledError, "Connection canceled"); }
pf::Error RlSocket::getConnectTimeoutError() {
  return socketError(kRlSocketConnectTimeoutError, "Attempt to connect to host timed out");
}
pf::Error RlSocket::getReadMaxedOutError() {
  return socketError(kRlSocketReadMaxedOutError, "Read operation reached set maximum length");
}
pf::Error RlSocket::getReadTimeoutError() { return socketError(kRlSocketReadTimeoutError, "Read operation timed out"); }
pf::Error RlSocket::getWriteTimeoutError() {
  return socketError(kRlSocketWriteTimeoutError, "Write operation timed out");
}

std::optional<pf::Error> RlSocket::getReadStreamError() const {
  return theReadStream ? theReadStream->error().toError() : std::nullopt;
}

std::optional<pf::Error> RlSocket::getWriteStreamError() const {
  return theWriteStream ? theWriteStream->error().toError() : std::nullopt;
}

std::optional<pf::Error> RlSocket::getStreamError() const {
  if (theReadStream && theReadStream->error().isError()) return getReadStreamError();
  if (theWriteStream && theWriteStream->error().isError()) return getWriteStreamError();
  return std::nullopt;
}

// ======================================================================== run loop

void RlSocket::runLoopAddSource(const std::shared_ptr<pf::RunLoopSource>& source) {
  if (!source || !theRunLoop) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->addSource(source, mode);
}

void RlSocket::runLoopRemoveSource(const std::shared_ptr<pf::RunLoopSource>& source) {
  if (!source || !theRunLoop) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->removeSource(source, mode);
}

void RlSocket::runLoopAddTimer(const std::shared_ptr<pf::Timer>& timer) {
  if (!timer || !theRunLoop) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->addTimer(timer, mode);
}

void RlSocket::runLoopRemoveTimer(const std::shared_ptr<pf::Timer>& timer) {
  if (!timer || !theRunLoop) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->removeTimer(timer, mode);
}

void RlSocket::runLoopUnscheduleReadStream() {
  for (const auto& mode : theRunLoopModes) theReadStream->unscheduleFromRunLoop(theRunLoop, mode);
  theReadStream->setClient(0, nullptr);
}

void RlSocket::runLoopUnscheduleWriteStream() {
  for (const auto& mode : theRunLoopModes) theWriteStream->unscheduleFromRunLoop(theRunLoop, mode);
  theWriteStream->setClient(0, nullptr);
}

std::vector<std::shared_ptr<pf::Timer>> RlSocket::timers() const {
  std::vector<std::shared_ptr<pf::Timer>> all;
  for (const auto& timer : {theReadTimer, theWriteTimer, theConnectTimer}) {
    if (timer) all.push_back(timer);
  }
  return all;
}

void RlSocket::defer(const char* name, void (RlSocket::*operation)()) {
  auto loop = pf::RunLoop::current();
  theDeferLoop = loop;
  std::weak_ptr<RlSocket> weak = weak_from_this();
  loop->performOrdered(
      this, name, 0,
      [weak, operation] {
        if (auto self = weak.lock()) ((*self).*operation)();
      },
      theRunLoopModes);
}

void RlSocket::cancelDeferred() {
  if (auto loop = theDeferLoop.lock()) loop->cancelPerforms(this);
}

void RlSocket::cancelDeferred(const char* name) {
  if (auto loop = theDeferLoop.lock()) loop->cancelPerforms(this, name);
}

void RlSocket::assertOnRunLoop(const char* message) const {
  if (theRunLoop && !theRunLoop->isCurrent()) inconsistency(message);
}

// ======================================================================== connecting

bool RlSocket::connectToHost(const std::string& host, std::uint16_t port, pf::Error* error) {
  return connectToHost(host, port, -1.0, error);
}

bool RlSocket::connectToHost(const std::string& host, std::uint16_t port, double timeout, pf::Error* error) {
  if (!theDelegate.lock()) {
    throw pf::Exception(kRlSocketException, "Attempting to connect without a delegate. Set a delegate first.");
  }
  if (!isDisconnected()) {
    throw pf::Exception(kRlSocketException,
                        "Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  auto self = shared_from_this();
  bool ok = createStreamsToHost(host, port, error) && attachStreamsToRunLoop(nullptr, error) &&
            configureStreamsAndReturnError(error) && openStreamsAndReturnError(error);
  if (!ok) {
    close();
    return false;
  }
  startConnectTimeout(timeout);
  theFlags |= kDidStartDelegate;
  return true;
}

bool RlSocket::connectToAddress(const pf::Bytes& address, pf::Error* error) {
  return connectToAddress(address, -1.0, error);
}

bool RlSocket::connectToAddress(const pf::Bytes& address, double timeout, pf::Error* error) {
  if (!theDelegate.lock()) {
    throw pf::Exception(kRlSocketException, "Attempting to connect without a delegate. Set a delegate first.");
  }
  if (!isDisconnected()) {
    throw pf::Exception(kRlSocketException,
                        "Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  auto self = shared_from_this();
  bool ok = createSocketForAddress(address, error) && attachSocketsToRunLoop(nullptr, error) &&
            configureStreamsAndReturnError(error) && connectSocketToAddress(address, error);
  if (!ok) {
    close();
    return false;
  }
  startConnectTimeout(timeout);
  theFlags |= kDidStartDelegate;
  return true;
}

bool RlSocket::createStreamsToHost(const std::string& host, std::uint16_t port, pf::Error* error) {
  pf::StreamPair pair = pf::SocketStream::pairToHost(host, port);
  theReadStream = pair.input;
  theWriteStream = pair.output;
  if (!theReadStream || !theWriteStream) {
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  theReadStream->setShouldCloseNativeSocket(true);
  theWriteStream->setShouldCloseNativeSocket(true);
  return true;
}

bool RlSocket::createStreamsFromNative(int native, pf::Error* error) {
  pf::StreamPair pair = pf::SocketStream::pairWithSocket(native);
  theReadStream = pair.input;
  theWriteStream = pair.output;
  if (!theReadStream || !theWriteStream || theReadStream->status() == pf::StreamStatus::Error) {
    auto failure = getStreamError().value_or(getSocketError());
    theReadStream.reset();  // the caller still owns the descriptor
    theWriteStream.reset();
    pf::logLine(format("RlSocket %s couldn't create streams from accepted socket: %s", pointerText(this).c_str(),
                       errorText(failure).c_str()));
    if (error) *error = failure;
    return false;
  }
  theReadStream->setShouldCloseNativeSocket(true);
  theWriteStream->setShouldCloseNativeSocket(true);
  return true;
}

bool RlSocket::attachStreamsToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, pf::Error* error) {
  theRunLoop = runLoop ? runLoop : pf::RunLoop::current();
  std::weak_ptr<RlSocket> weak = weak_from_this();
  if (!theReadStream->setClient(kReadStreamEvents, [weak](pf::SocketStream& stream, pf::StreamEvent event) {
        if (auto self = weak.lock()) self->doCFReadStreamCallback(event, stream);
      })) {
    pf::logLine(format("RlSocket %s couldn't attach read stream to run-loop,", pointerText(this).c_str()));
    pf::logLine("Error: " + errorText(getStreamError()));
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  if (!theWriteStream->setClient(kWriteStreamEvents, [weak](pf::SocketStream& stream, pf::StreamEvent event) {
        if (auto self = weak.lock()) self->doCFWriteStreamCallback(event, stream);
      })) {
    pf::logLine(format("RlSocket %s couldn't attach write stream to run-loop,", pointerText(this).c_str()));
    pf::logLine("Error: " + errorText(getStreamError()));
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  for (const auto& mode : theRunLoopModes) {
    theReadStream->scheduleInRunLoop(theRunLoop, mode);
    theWriteStream->scheduleInRunLoop(theRunLoop, mode);
  }
  return true;
}

bool RlSocket::configureStreamsAndReturnError(pf::Error* error) {
  auto delegate = theDelegate.lock();
  if (delegate && !delegate->onSocketWillConnect(*this)) {
    if (error) *error = getAbortError();
    return false;
  }
  return true;
}

bool RlSocket::openStreamsAndReturnError(pf::Error* error) {
  if (!theReadStream->open()) {
    pf::logLine(format("RlSocket %s couldn't open read stream,", pointerText(this).c_str()));
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  if (!theWriteStream->open()) {
    pf::logLine(format("RlSocket %s couldn't open write stream,", pointerText(this).c_str()));
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  return true;
}

bool RlSocket::createSocketForAddress(const pf::Bytes& address, pf::Error* error) {
  auto parsed = pf::SocketAddress::fromBytes(address);
  std::weak_ptr<RlSocket> weak = weak_from_this();
  auto callback = [weak](pf::Socket& sock, pf::Socket::CallbackType type, int value) {
    if (auto self = weak.lock()) self->doCFSocketCallback(type, sock, value);
  };
  if (parsed && parsed->isIPv6()) {
    theSocket6 = pf::Socket::create(AF_INET6, pf::Socket::kConnectCallBack, callback);
    if (theSocket6) return true;
  } else if (parsed && parsed->isIPv4()) {
    theSocket4 = pf::Socket::create(AF_INET, pf::Socket::kConnectCallBack, callback);
    if (theSocket4) return true;
  }
  if (error) *error = getSocketError();
  return false;
}

bool RlSocket::attachSocketsToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, pf::Error*) {
  theRunLoop = runLoop ? runLoop : pf::RunLoop::current();
  if (theSocket4) {
    theSource4 = theSocket4->runLoopSource();
    runLoopAddSource(theSource4);
  }
  if (theSocket6) {
    theSource6 = theSocket6->runLoopSource();
    runLoopAddSource(theSource6);
  }
  return true;
}

bool RlSocket::connectSocketToAddress(const pf::Bytes& address, pf::Error* error) {
  auto sock = theSocket4 ? theSocket4 : theSocket6;
  auto parsed = pf::SocketAddress::fromBytes(address);
  if (!sock || !parsed || sock->connectTo(*parsed, -1.0) != pf::Socket::Result::Success) {
    if (error) *error = getSocketError();
    return false;
  }
  return true;
}

void RlSocket::startConnectTimeout(double timeout) {
  if (timeout < 0.0) return;
  std::weak_ptr<RlSocket> weak = weak_from_this();
  theConnectTimer = pf::Timer::make(timeout, false, [weak](pf::Timer&) {
    if (auto self = weak.lock()) self->doConnectTimeout();
  });
  runLoopAddTimer(theConnectTimer);
}

void RlSocket::endConnectTimeout() {
  if (theConnectTimer) theConnectTimer->invalidate();
  theConnectTimer.reset();
}

void RlSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(getConnectTimeoutError());
}

void RlSocket::doCFSocketCallback(pf::Socket::CallbackType type, pf::Socket& sock, int value) {
  auto self = shared_from_this();
  if (&sock != theSocket4.get() && &sock != theSocket6.get()) {
    inconsistency("Invalid parameter not satisfying: (sock == theSocket4) || (sock == theSocket6)");
  }
  switch (type) {
    case pf::Socket::kAcceptCallBack:
      doAcceptFromSocket(sock, value);
      break;
    case pf::Socket::kConnectCallBack:
      doSocketOpen(sock, value);
      break;
    default:
      pf::logLine(format("RlSocket %s received unexpected CFSocketCallBackType %i", pointerText(this).c_str(),
                         static_cast<int>(type)));
  }
}

void RlSocket::doSocketOpen(pf::Socket& sock, int socketErrno) {
  if (socketErrno != 0) {
    closeWithError(getSocketError());
    return;
  }
  int native = sock.native();
  if (&sock == theSocket4.get()) {
    theNativeSocket4 = native;
  } else {
    theNativeSocket6 = native;
  }
  // The descriptor passes to the streams, which close it.
  sock.setClosesOnInvalidate(false);
  sock.invalidate();
  theSocket4.reset();
  theSocket6.reset();
  pf::Error error;
  if (!createStreamsFromNative(native, &error) || !attachStreamsToRunLoop(nullptr, &error) ||
      !openStreamsAndReturnError(&error)) {
    if (!theReadStream) ::close(native);  // nobody took it
    closeWithError(error);
  }
}

void RlSocket::doStreamOpen() {
  if ((theFlags & kReadStreamOpened) && (theFlags & kWriteStreamOpened)) {
    auto self = shared_from_this();
    pf::Error error;
    if (!setSocketFromStreamsAndReturnError(&error)) {
      pf::logLine(format("RlSocket %s couldn't get socket from streams, %s. Disconnecting.",
                         pointerText(this).c_str(), errorText(error).c_str()));
      closeWithError(error);
      return;
    }
    endConnectTimeout();
    if (auto delegate = theDelegate.lock()) {
      delegate->onSocketDidConnectToHost(*this, connectedHost().value_or(std::string()), connectedPort());
    }
    maybeDequeueRead();
    maybeDequeueWrite();
  }
}

bool RlSocket::setSocketFromStreamsAndReturnError(pf::Error* error) {
  auto native = theReadStream->nativeSocket();
  if (!native) {
    if (error) *error = getStreamError().value_or(getSocketError());
    return false;
  }
  // A view of the streams' descriptor: it never closes it.
  auto wrapper = pf::Socket::createWithNative(*native);
  if (!wrapper) {
    if (error) *error = getSocketError();
    return false;
  }
  if (theNativeSocket4 >= 0) {
    theSocket4 = wrapper;
  } else if (theNativeSocket6 >= 0) {
    theSocket6 = wrapper;
  } else {
    auto peer = wrapper->peerAddress();
    if (!peer) {
      pf::logLine("RlSocket couldn't determine IP version of socket");
      if (error) *error = getSocketError();
      return false;
    }
    if (peer->isIPv4()) {
      theSocket4 = wrapper;
      theNativeSocket4 = *native;
    } else {
      theSocket6 = wrapper;
      theNativeSocket6 = *native;
    }
  }
  return true;
}

// ======================================================================== listening

bool RlSocket::acceptOnPort(std::uint16_t port, pf::Error* error) { return acceptOnInterface(std::nullopt, port, error); }

std::shared_ptr<pf::Socket> RlSocket::newAcceptSocketForAddress(const pf::SocketAddress& address) {
  std::weak_ptr<RlSocket> weak = weak_from_this();
  return pf::Socket::create(address.family(), pf::Socket::kAcceptCallBack,
                            [weak](pf::Socket& sock, pf::Socket::CallbackType type, int value) {
                              if (auto self = weak.lock()) self->doCFSocketCallback(type, sock, value);
                            });
}

bool RlSocket::acceptOnInterface(const std::optional<std::string>& interface, std::uint16_t port, pf::Error* error) {
  if (!theDelegate.lock()) {
    throw pf::Exception(kRlSocketException, "Attempting to accept without a delegate. Set a delegate first.");
  }
  if (theSocket4 || theSocket6) {
    throw pf::Exception(kRlSocketException,
                        "Attempting to accept while connected or accepting connections. Disconnect first.");
  }
  std::optional<pf::SocketAddress> address4, address6;
  if (!interface || interface->empty()) {
    address4 = pf::SocketAddress::any4(port);
    address6 = pf::SocketAddress::any6(port);
  } else if (*interface == "localhost" || *interface == "loopback") {
    address4 = pf::SocketAddress::loopback4(port);
    address6 = pf::SocketAddress::loopback6(port);
  } else {
    pf::ResolveHints hints;
    hints.passive = true;
    pf::ResolveResult result = pf::HostResolver::shared()->resolveNow(*interface, port, hints);
    if (!result.ok()) {
      if (error) {
        *error = pf::Error(pf::StreamError::kNetDBDomain, result.status);
        if (const char* text = gai_strerror(result.status)) {
          error->userInfo[pf::kLocalizedDescriptionKey] = std::string(text);
        }
      }
      return false;
    }
    for (const auto& address : result.addresses) {
      if (address.isIPv4() && !address4) address4 = address;
      if (address.isIPv6() && !address6) address6 = address;
    }
  }
  if (!address4 && !address6) return false;

  auto fail = [&] {
    if (error) *error = getSocketError();
    if (theSocket4) theSocket4->invalidate();
    if (theSocket6) theSocket6->invalidate();
    theSocket4.reset();
    theSocket6.reset();
    theSource4.reset();
    theSource6.reset();
    theRunLoop.reset();
    return false;
  };
  if (address4) theSocket4 = newAcceptSocketForAddress(*address4);
  if (address6) theSocket6 = newAcceptSocketForAddress(*address6);
  // An IPv6 socket the system cannot make is tolerated; an IPv4 one only when none was asked for.
  if ((address4 && !theSocket4) || (!theSocket4 && !theSocket6)) return fail();
  if (!theSocket6) address6.reset();

  pf::Error ignored;
  attachSocketsToRunLoop(nullptr, &ignored);
  int on = 1;
  for (const auto& sock : {theSocket4, theSocket6}) {
    if (sock) ::setsockopt(sock->native(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (theSocket4) {
    if (theSocket4->setAddress(*address4) != pf::Socket::Result::Success) return fail();
    if (port == 0 && theSocket6) {
      auto chosen = theSocket4->address();
      if (chosen) address6->setPort(chosen->port());
    }
  }
  if (theSocket6 && theSocket6->setAddress(*address6) != pf::Socket::Result::Success) return fail();
  theFlags |= kDidStartDelegate;
  return true;
}

void RlSocket::doAcceptFromSocket(pf::Socket& parent, int newNative) {
  if (newNative < 0) return;
  auto delegate = theDelegate.lock();
  auto newSocket = RlSocket::create(theDelegate, 0);
  newSocket->theRunLoopModes = theRunLoopModes;
  if (!newSocket->createStreamsFromNative(newNative, nullptr)) {
    ::close(newNative);
    newSocket->close();
    return;
  }
  if (&parent == theSocket4.get()) {
    newSocket->theNativeSocket4 = newNative;
  } else {
    newSocket->theNativeSocket6 = newNative;
  }
  if (delegate) delegate->onSocketDidAcceptNewSocket(*this, newSocket);
  newSocket->theFlags |= kDidStartDelegate;

  std::shared_ptr<pf::RunLoop> runLoop = delegate ? delegate->onSocketWantsRunLoopForNewSocket(*this, *newSocket) : nullptr;
  // The new socket is set up on its own run loop: on another thread's loop that happens there, so
  // that its streams and delegate calls never run on two threads.
  auto setUp = [newSocket, runLoop] {
    bool ok = newSocket->attachStreamsToRunLoop(runLoop, nullptr) && newSocket->configureStreamsAndReturnError(nullptr) &&
              newSocket->openStreamsAndReturnError(nullptr);
    if (!ok) newSocket->close();
  };
  if (!runLoop || runLoop->isCurrent()) {
    setUp();
  } else {
    runLoop->perform(std::move(setUp), newSocket->theRunLoopModes);
  }
}

// ======================================================================== closing

void RlSocket::closeWithError(const std::optional<pf::Error>& error) {
  theFlags |= kClosingWithError;
  if (theFlags & kDidStartDelegate) {
    recoverUnreadData();
    if (auto delegate = theDelegate.lock()) delegate->onSocketWillDisconnectWithError(*this, error);
  }
  close();
}

void RlSocket::recoverUnreadData() {
  if (theCurrentRead && theCurrentRead->kind == RlPacket::Kind::Read) {
    auto& packet = asRead(theCurrentRead);
    if (packet.bytesDone > 0) {
      auto begin = packet.buffer->begin() + packet.startOffset;
      partialReadBuffer.insert(partialReadBuffer.begin(), begin, begin + packet.bytesDone);
    }
  }
  emptyQueues();
}

void RlSocket::emptyQueues() {
  if (theCurrentRead) endCurrentRead();
  if (theCurrentWrite) endCurrentWrite();
  theReadQueue.clear();
  theWriteQueue.clear();
  cancelDeferred("maybeDequeueRead");
  cancelDeferred("maybeDequeueWrite");
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
}

void RlSocket::close() {
  emptyQueues();
  partialReadBuffer.clear();
  cancelDeferred("disconnect");
  if (theConnectTimer) endConnectTimeout();
  if (theReadStream) {
    runLoopUnscheduleReadStream();
    theReadStream->close();
    theReadStream.reset();
  }
  if (theWriteStream) {
    runLoopUnscheduleWriteStream();
    theWriteStream->close();
    theWriteStream.reset();
  }
  for (auto* sock : {&theSocket4, &theSocket6}) {
    if (*sock) {
      (*sock)->invalidate();
      sock->reset();
    }
  }
  theNativeSocket4 = -1;
  theNativeSocket6 = -1;
  for (auto* source : {&theSource4, &theSource6}) {
    if (*source) {
      runLoopRemoveSource(*source);
      source->reset();
    }
  }
  theRunLoop.reset();
  bool started = theFlags & kDidStartDelegate;
  theFlags &= kPreBuffering;
  if (started) {
    if (auto delegate = theDelegate.lock()) delegate->onSocketDidDisconnect(*this);
  }
}

void RlSocket::disconnect() { close(); }

void RlSocket::disconnectAfterReading() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterReads;
  maybeScheduleDisconnect();
}

void RlSocket::disconnectAfterWriting() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RlSocket::disconnectAfterReadingAndWriting() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RlSocket::maybeScheduleDisconnect() {
  bool readsPending = !theReadQueue.empty() || theCurrentRead;
  bool writesPending = !theWriteQueue.empty() || theCurrentWrite;
  if (theFlags & kDisconnectAfterReads) {
    if (readsPending) return;
    if ((theFlags & kDisconnectAfterWrites) && writesPending) return;
  } else if (theFlags & kDisconnectAfterWrites) {
    if (writesPending) return;
  } else {
    return;
  }
  defer("disconnect", &RlSocket::disconnect);
}

std::optional<pf::Bytes> RlSocket::unreadData() {
  if (!(theFlags & kClosingWithError) || !theReadStream) return std::nullopt;
  std::size_t held = partialReadBuffer.size();
  while (held < kUnreadDataLimit && theReadStream->hasBytesAvailable()) {
    partialReadBuffer.resize(held + kReadChunk);
    long n = theReadStream->read(partialReadBuffer.data() + held, kReadChunk);
    if (n < 0) break;
    held += static_cast<std::size_t>(n);
    if (n == 0) break;
  }
  partialReadBuffer.resize(held);
  return partialReadBuffer;
}

// ======================================================================== state and endpoints

bool RlSocket::isDisconnected() const {
  return theNativeSocket4 < 0 && theNativeSocket6 < 0 && !theSocket4 && !theSocket6 && !theReadStream &&
         !theWriteStream;
}

bool RlSocket::isConnected() const {
  if (!theReadStream || !theWriteStream) return false;
  auto r = theReadStream->status();
  auto w = theWriteStream->status();
  using S = pf::StreamStatus;
  return (r == S::Open || r == S::Reading || r == S::Error) && (w == S::Open || w == S::Writing || w == S::Error);
}

bool RlSocket::isIPv4() const { return theNativeSocket4 >= 0 || theSocket4; }
bool RlSocket::isIPv6() const { return theNativeSocket6 >= 0 || theSocket6; }

std::optional<pf::SocketAddress> RlSocket::endpoint(bool peer, int family) const {
  auto lookup = [peer](int fd) { return peer ? pf::SocketAddress::peer(fd) : pf::SocketAddress::local(fd); };
  auto fromSocket = [peer](const std::shared_ptr<pf::Socket>& sock) {
    return peer ? sock->peerAddress() : sock->address();
  };
  if (family != AF_INET6 && theSocket4) return fromSocket(theSocket4);
  if (family != AF_INET && theSocket6) return fromSocket(theSocket6);
  if (family != AF_INET6 && theNativeSocket4 >= 0) return lookup(theNativeSocket4);
  if (family != AF_INET && theNativeSocket6 >= 0) return lookup(theNativeSocket6);
  return std::nullopt;
}

namespace {
std::optional<std::string> hostOf(const std::optional<pf::SocketAddress>& address) {
  if (!address) return std::nullopt;
  return address->host();
}
std::uint16_t portOf(const std::optional<pf::SocketAddress>& address) { return address ? address->port() : 0; }
}  // namespace

std::optional<std::string> RlSocket::connectedHost() const { return hostOf(endpoint(true, AF_UNSPEC)); }
std::uint16_t RlSocket::connectedPort() const { return portOf(endpoint(true, AF_UNSPEC)); }
std::optional<std::string> RlSocket::localHost() const { return hostOf(endpoint(false, AF_UNSPEC)); }
std::uint16_t RlSocket::localPort() const { return portOf(endpoint(false, AF_UNSPEC)); }
std::optional<std::string> RlSocket::connectedHost4() const { return hostOf(endpoint(true, AF_INET)); }
std::optional<std::string> RlSocket::connectedHost6() const { return hostOf(endpoint(true, AF_INET6)); }
std::uint16_t RlSocket::connectedPort4() const { return portOf(endpoint(true, AF_INET)); }
std::uint16_t RlSocket::connectedPort6() const { return portOf(endpoint(true, AF_INET6)); }
std::optional<std::string> RlSocket::localHost4() const { return hostOf(endpoint(false, AF_INET)); }
std::optional<std::string> RlSocket::localHost6() const { return hostOf(endpoint(false, AF_INET6)); }
std::uint16_t RlSocket::localPort4() const { return portOf(endpoint(false, AF_INET)); }
std::uint16_t RlSocket::localPort6() const { return portOf(endpoint(false, AF_INET6)); }

std::optional<pf::Bytes> RlSocket::connectedAddress() const {
  auto address = endpoint(true, AF_UNSPEC);
  if (!address) return std::nullopt;
  return address->bytes();
}

std::optional<pf::Bytes> RlSocket::localAddress() const {
  auto address = endpoint(false, AF_UNSPEC);
  if (!address) return std::nullopt;
  return address->bytes();
}

// ======================================================================== reading

void RlSocket::queueRead(std::shared_ptr<RlReadPacket> packet) {
  theReadQueue.push_back(std::move(packet));
  scheduleDequeueRead();
}

void RlSocket::readDataWithTimeout(double timeout, long tag) {
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RlReadPacket>(nullptr, 0, -1, timeout, 0, nullptr, tag));
}

void RlSocket::readDataWithTimeout(double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset, long tag) {
  readDataWithTimeout(timeout, std::move(buffer), offset, -1, tag);
}

void RlSocket::readDataWithTimeout(double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset,
                                   std::int64_t maxLength, long tag) {
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RlReadPacket>(std::move(buffer), static_cast<std::int64_t>(offset), maxLength, timeout, 0, nullptr,
                                           tag));
}

void RlSocket::readDataToLength(std::size_t length, double timeout, long tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void RlSocket::readDataToLength(std::size_t length, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset,
                                long tag) {
  if (length == 0) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RlReadPacket>(std::move(buffer), static_cast<std::int64_t>(offset), -1, timeout,
                                           static_cast<std::int64_t>(length), nullptr, tag));
}

void RlSocket::readDataToData(const pf::Bytes& data, double timeout, long tag) {
  readDataToData(data, timeout, nullptr, 0, -1, tag);
}

void RlSocket::readDataToData(const pf::Bytes& data, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset,
                              long tag) {
  readDataToData(data, timeout, std::move(buffer), offset, -1, tag);
}

void RlSocket::readDataToData(const pf::Bytes& data, double timeout, std::int64_t maxLength, long tag) {
  readDataToData(data, timeout, nullptr, 0, maxLength, tag);
}

void RlSocket::readDataToData(const pf::Bytes& data, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset,
                              std::int64_t maxLength, long tag) {
  if (data.empty()) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (maxLength >= 0 && maxLength < static_cast<std::int64_t>(data.size())) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RlReadPacket>(std::move(buffer), static_cast<std::int64_t>(offset), maxLength, timeout, 0, &data,
                                           tag));
}

float RlSocket::progressOfReadReturningTag(long* tag, std::int64_t* bytesDone, std::int64_t* total) const {
  if (!theCurrentRead || theCurrentRead->kind != RlPacket::Kind::Read) return std::numeric_limits<float>::quiet_NaN();
  const auto& packet = asRead(theCurrentRead);
  if (tag) *tag = packet.tag;
  if (bytesDone) *bytesDone = packet.bytesDone;
  if (total) *total = packet.readLength;
  if (packet.readLength < 1) return 1.0f;
  return static_cast<float>(packet.bytesDone) / static_cast<float>(packet.readLength);
}

void RlSocket::scheduleDequeueRead() {
  if (theFlags & kDequeueReadScheduled) return;
  theFlags |= kDequeueReadScheduled;
  defer("maybeDequeueRead", &RlSocket::maybeDequeueRead);
}

void RlSocket::maybeDequeueRead() {
  theFlags &= ~kDequeueReadScheduled;
  if (theCurrentRead || !theReadStream) return;
  if (!theReadQueue.empty()) {
    theCurrentRead = theReadQueue.front();
    theReadQueue.pop_front();
    if (theCurrentRead->kind == RlPacket::Kind::Special) {
      theFlags |= kStartingReadTLS;
      maybeStartTLS();
      return;
    }
    auto& packet = asRead(theCurrentRead);
    if (packet.timeout >= 0.0) {
      std::weak_ptr<RlSocket> weak = weak_from_this();
      theReadTimer = pf::Timer::make(packet.timeout, false, [weak](pf::Timer&) {
        if (auto self = weak.lock()) self->doReadTimeout();
      });
      runLoopAddTimer(theReadTimer);
    }
    doBytesAvailable();
  } else if (theFlags & kDisconnectAfterReads) {
    if (theFlags & kDisconnectAfterWrites) {
      if (theWriteQueue.empty() && !theCurrentWrite) disconnect();
    } else {
      disconnect();
    }
  }
}

bool RlSocket::hasBytesAvailable() const {
  return (theFlags & kSocketHasBytesAvailable) || !partialReadBuffer.empty() ||
         (theReadStream && theReadStream->hasBytesAvailable());
}

long RlSocket::readIntoBuffer(std::uint8_t* buffer, std::size_t length) {
  if (!partialReadBuffer.empty()) {
    std::size_t n = std::min(length, partialReadBuffer.size());
    std::memcpy(buffer, partialReadBuffer.data(), n);
    partialReadBuffer.erase(partialReadBuffer.begin(), partialReadBuffer.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
  }
  theFlags &= ~kSocketHasBytesAvailable;
  return theReadStream->read(buffer, length);
}

void RlSocket::doBytesAvailable() {
  if (!theCurrentRead || theCurrentRead->kind != RlPacket::Kind::Read || !theReadStream) return;
  auto self = shared_from_this();
  auto current = theCurrentRead;
  auto& packet = asRead(current);
  std::int64_t totalBytesRead = 0;
  bool done = false, socketError = false, maxedOut = false;
  const bool readAll = packet.readLength == 0 && !packet.term;

  while (!done && !socketError && !maxedOut && hasBytesAvailable()) {
    bool didPreBuffer = false;
    std::int64_t bytesToRead;
    if (packet.term) {
      if (partialReadBuffer.empty() && (theFlags & kPreBuffering)) {
        bytesToRead = packet.prebufferReadLengthForTerm();
        didPreBuffer = true;
      } else {
        bytesToRead = packet.readLengthForTerm();
      }
    } else {
      bytesToRead = packet.readLengthForNonTerm();
    }
    if (bytesToRead <= 0) break;
    std::int64_t room = static_cast<std::int64_t>(packet.buffer->size()) - packet.startOffset - packet.bytesDone;
    if (bytesToRead > room) packet.buffer->resize(packet.buffer->size() + static_cast<std::size_t>(bytesToRead - room));

    long n = readIntoBuffer(packet.buffer->data() + packet.startOffset + packet.bytesDone,
                            static_cast<std::size_t>(bytesToRead));
    if (n < 0) {
      socketError = true;
    } else {
      packet.bytesDone += n;
      totalBytesRead += n;
    }

    if (packet.readLength > 0) {
      done = packet.bytesDone == packet.readLength;
    } else if (packet.term) {
      if (didPreBuffer) {
        std::int64_t overflow = packet.searchForTermAfterPreBuffering(std::max<long>(n, 0));
        if (overflow > 0) {
          auto end = packet.buffer->begin() + packet.startOffset + packet.bytesDone;
          partialReadBuffer.insert(partialReadBuffer.end(), end - overflow, end);
          packet.bytesDone -= overflow;
        }
        done = overflow >= 0;
      } else {
        auto termLength = static_cast<std::int64_t>(packet.term->size());
        done = packet.bytesDone >= termLength &&
               std::memcmp(packet.buffer->data() + packet.startOffset + packet.bytesDone - termLength,
                           packet.term->data(), packet.term->size()) == 0;
      }
      if (!done && packet.maxLength >= 0 && packet.bytesDone >= packet.maxLength) maxedOut = true;
    } else {
      done = packet.maxLength >= 0 && packet.bytesDone >= packet.maxLength;
    }
  }
  if (readAll && packet.bytesDone > 0) done = true;

  if (done) {
    completeCurrentRead();
    if (!socketError) scheduleDequeueRead();
  } else if (totalBytesRead > 0) {
    if (auto delegate = theDelegate.lock()) {
      delegate->onSocketDidReadPartialDataOfLength(*this, static_cast<std::size_t>(totalBytesRead), packet.tag);
    }
  }
  if (socketError) {
    closeWithError(getReadStreamError());
  } else if (maxedOut) {
    closeWithError(getReadMaxedOutError());
  }
}

void RlSocket::completeCurrentRead() {
  if (!theCurrentRead) inconsistency("Trying to complete current read when there is no current read.");
  auto current = theCurrentRead;
  auto& packet = asRead(current);
  pf::Bytes result;
  if (packet.bufferOwner) {
    if (packet.startOffset != 0) inconsistency("Invalid startOffset for socket owned buffer");
    packet.buffer->resize(static_cast<std::size_t>(packet.bytesDone));
    result = std::move(*packet.buffer);
  } else {
    if (packet.buffer->size() > packet.originalBufferLength) {
      packet.buffer->resize(std::max<std::size_t>(packet.originalBufferLength,
                                                 static_cast<std::size_t>(packet.startOffset + packet.bytesDone)));
    }
    auto begin = packet.buffer->begin() + packet.startOffset;
    result.assign(begin, begin + packet.bytesDone);
  }
  if (auto delegate = theDelegate.lock()) delegate->onSocketDidReadData(*this, result, packet.tag);
  if (theCurrentRead == current) endCurrentRead();
}

void RlSocket::endCurrentRead() {
  if (!theCurrentRead) inconsistency("Trying to end current read when there is no current read.");
  if (theReadTimer) theReadTimer->invalidate();
  theReadTimer.reset();
  theCurrentRead.reset();
}

void RlSocket::doReadTimeout() {
  if (!theCurrentRead || theCurrentRead->kind != RlPacket::Kind::Read) return;
  auto self = shared_from_this();
  auto current = theCurrentRead;
  auto& packet = asRead(current);
  double extension = 0.0;
  if (auto delegate = theDelegate.lock()) {
    extension = delegate->onSocketShouldTimeoutReadWithTag(*this, packet.tag, packet.timeout,
                                                           static_cast<std::size_t>(packet.bytesDone));
  }
  if (theCurrentRead != current) return;  // the delegate moved on
  if (extension > 0.0) {
    packet.timeout += extension;
    std::weak_ptr<RlSocket> weak = weak_from_this();
    theReadTimer = pf::Timer::make(extension, false, [weak](pf::Timer&) {
      if (auto self = weak.lock()) self->doReadTimeout();
    });
    runLoopAddTimer(theReadTimer);
  } else {
    closeWithError(getReadTimeoutError());
  }
}

// ======================================================================== writing

void RlSocket::writeData(pf::Bytes data, double timeout, long tag) {
  if (data.empty() || (theFlags & kForbidReadsWrites)) return;
  theWriteQueue.push_back(std::make_shared<RlWritePacket>(std::move(data), timeout, tag));
  scheduleDequeueWrite();
}

float RlSocket::progressOfWriteReturningTag(long* tag, std::int64_t* bytesDone, std::int64_t* total) const {
  if (!theCurrentWrite || theCurrentWrite->kind != RlPacket::Kind::Write) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  const auto& packet = asWrite(theCurrentWrite);
  auto length = static_cast<std::int64_t>(packet.buffer.size());
  if (tag) *tag = packet.tag;
  if (bytesDone) *bytesDone = packet.bytesDone;
  if (total) *total = length;
  return static_cast<float>(packet.bytesDone) / static_cast<float>(length);
}

void RlSocket::scheduleDequeueWrite() {
  if (theFlags & kDequeueWriteScheduled) return;
  theFlags |= kDequeueWriteScheduled;
  defer("maybeDequeueWrite", &RlSocket::maybeDequeueWrite);
}

void RlSocket::maybeDequeueWrite() {
  theFlags &= ~kDequeueWriteScheduled;
  if (theCurrentWrite || !theWriteStream) return;
  if (!theWriteQueue.empty()) {
    theCurrentWrite = theWriteQueue.front();
    theWriteQueue.pop_front();
    if (theCurrentWrite->kind == RlPacket::Kind::Special) {
      theFlags |= kStartingWriteTLS;
      maybeStartTLS();
      return;
    }
    auto& packet = asWrite(theCurrentWrite);
    if (packet.timeout >= 0.0) {
      std::weak_ptr<RlSocket> weak = weak_from_this();
      theWriteTimer = pf::Timer::make(packet.timeout, false, [weak](pf::Timer&) {
        if (auto self = weak.lock()) self->doWriteTimeout();
      });
      runLoopAddTimer(theWriteTimer);
    }
    doSendBytes();
  } else if (theFlags & kDisconnectAfterWrites) {
    if (theFlags & kDisconnectAfterReads) {
      if (theReadQueue.empty() && !theCurrentRead) disconnect();
    } else {
      disconnect();
    }
  }
}

bool RlSocket::canAcceptBytes() const {
  return (theFlags & kSocketCanAcceptBytes) || (theWriteStream && theWriteStream->hasSpaceAvailable());
}

void RlSocket::doSendBytes() {
  if (!theCurrentWrite || theCurrentWrite->kind != RlPacket::Kind::Write || !theWriteStream) return;
  auto self = shared_from_this();
  auto current = theCurrentWrite;
  auto& packet = asWrite(current);
  std::int64_t totalBytesWritten = 0;
  const auto length = static_cast<std::int64_t>(packet.buffer.size());
  while (packet.bytesDone < length) {
    if (!canAcceptBytes()) {
      if (auto delegate = theDelegate.lock()) {
        delegate->onSocketDidWritePartialDataOfLength(*this, static_cast<std::size_t>(totalBytesWritten), packet.tag);
      }
      return;
    }
    std::int64_t step = std::min(length - packet.bytesDone, kWriteChunk);
    long n = theWriteStream->write(packet.buffer.data() + packet.bytesDone, static_cast<std::size_t>(step));
    theFlags &= ~kSocketCanAcceptBytes;
    if (n < 0) {
      closeWithError(getWriteStreamError());
      return;
    }
    packet.bytesDone += n;
    totalBytesWritten += n;
  }
  completeCurrentWrite();
  scheduleDequeueWrite();
}

void RlSocket::completeCurrentWrite() {
  if (!theCurrentWrite) inconsistency("Trying to complete current write when there is no current write.");
  auto current = theCurrentWrite;
  if (auto delegate = theDelegate.lock()) delegate->onSocketDidWriteDataWithTag(*this, asWrite(current).tag);
  if (theCurrentWrite == current) endCurrentWrite();
}

void RlSocket::endCurrentWrite() {
  if (!theCurrentWrite) inconsistency("Trying to end current write when there is no current write.");
  if (theWriteTimer) theWriteTimer->invalidate();
  theWriteTimer.reset();
  theCurrentWrite.reset();
}

void RlSocket::doWriteTimeout() {
  if (!theCurrentWrite || theCurrentWrite->kind != RlPacket::Kind::Write) return;
  auto self = shared_from_this();
  auto current = theCurrentWrite;
  auto& packet = asWrite(current);
  double extension = 0.0;
  if (auto delegate = theDelegate.lock()) {
    extension = delegate->onSocketShouldTimeoutWriteWithTag(*this, packet.tag, packet.timeout,
                                                            static_cast<std::size_t>(packet.bytesDone));
  }
  if (theCurrentWrite != current) return;
  if (extension > 0.0) {
    packet.timeout += extension;
    std::weak_ptr<RlSocket> weak = weak_from_this();
    theWriteTimer = pf::Timer::make(extension, false, [weak](pf::Timer&) {
      if (auto self = weak.lock()) self->doWriteTimeout();
    });
    runLoopAddTimer(theWriteTimer);
  } else {
    closeWithError(getWriteTimeoutError());
  }
}

// ======================================================================== TLS

void RlSocket::startTLS(std::optional<pf::TlsSettings> settings) {
  auto packet = std::make_shared<RlSpecialPacket>(settings ? std::move(*settings) : pf::TlsSettings{});
  theReadQueue.push_back(packet);
  scheduleDequeueRead();
  theWriteQueue.push_back(packet);
  scheduleDequeueWrite();
}

void RlSocket::maybeStartTLS() {
  if (!(theFlags & kStartingReadTLS) || !(theFlags & kStartingWriteTLS)) return;
  // Bytes read ahead in the clear must not pass for bytes that came over TLS.
  if (!partialReadBuffer.empty()) {
    closeWithError(pf::StreamError::ssl(pf::TlsErrorCode::kPlaintextBeforeHandshake).toError());
    return;
  }
  const auto& settings = static_cast<RlSpecialPacket&>(*theCurrentRead).tlsSettings;
  bool readOk = theReadStream->setTlsSettings(settings);
  bool writeOk = theWriteStream->setTlsSettings(settings);
  if (!readOk || !writeOk) closeWithError(getSocketError());
}

void RlSocket::onTLSHandshakeSuccessful() {
  if (!(theFlags & kStartingReadTLS) || !(theFlags & kStartingWriteTLS)) return;
  theFlags &= ~(kStartingReadTLS | kStartingWriteTLS);
  if (auto delegate = theDelegate.lock()) delegate->onSocketDidSecure(*this);
  if (theCurrentRead) endCurrentRead();
  if (theCurrentWrite) endCurrentWrite();
  scheduleDequeueRead();
  scheduleDequeueWrite();
}

// ======================================================================== stream events

void RlSocket::doCFReadStreamCallback(pf::StreamEvent type, pf::SocketStream& stream) {
  if (&stream != theReadStream.get()) inconsistency("Invalid parameter not satisfying: theReadStream != NULL");
  auto self = shared_from_this();
  switch (type) {
    case pf::kStreamEventOpenCompleted:
      theFlags |= kReadStreamOpened;
      doStreamOpen();
      break;
    case pf::kStreamEventHasBytesAvailable:
      if (theFlags & kStartingReadTLS) {
        onTLSHandshakeSuccessful();
      } else {
        theFlags |= kSocketHasBytesAvailable;
        doBytesAvailable();
      }
      break;
    case pf::kStreamEventErrorOccurred:
    case pf::kStreamEventEndEncountered:
      closeWithError(getReadStreamError());
      break;
    default:
      pf::logLine(format("RlSocket %s received unexpected CFReadStream callback, CFStreamEventType %i",
                         pointerText(this).c_str(), static_cast<int>(type)));
  }
}

void RlSocket::doCFWriteStreamCallback(pf::StreamEvent type, pf::SocketStream& stream) {
  if (&stream != theWriteStream.get()) inconsistency("Invalid parameter not satisfying: theWriteStream != NULL");
  auto self = shared_from_this();
  switch (type) {
    case pf::kStreamEventOpenCompleted:
      theFlags |= kWriteStreamOpened;
      doStreamOpen();
      break;
    case pf::kStreamEventCanAcceptBytes:
      if (theFlags & kStartingWriteTLS) {
        onTLSHandshakeSuccessful();
      } else {
        theFlags |= kSocketCanAcceptBytes;
        doSendBytes();
      }
      break;
    case pf::kStreamEventErrorOccurred:
    case pf::kStreamEventEndEncountered:
      closeWithError(getWriteStreamError());
      break;
    default:
      pf::logLine(format("RlSocket %s received unexpected CFWriteStream callback, CFStreamEventType %i",
                         pointerText(this).c_str(), static_cast<int>(type)));
  }
}

// ======================================================================== run-loop control

bool RlSocket::setRunLoopModes(const std::vector<pf::RunLoopMode>& modes) {
  assertOnRunLoop("setRunLoopModes must be called from within the current RunLoop!");
  if (modes.empty()) return false;
  if (modes == theRunLoopModes) return true;
  auto self = shared_from_this();
  cancelDeferred();
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  bool streams = theReadStream && theWriteStream;
  if (streams) {
    runLoopUnscheduleReadStream();
    runLoopUnscheduleWriteStream();
  }
  runLoopRemoveSource(theSource4);
  runLoopRemoveSource(theSource6);
  for (const auto& timer : timers()) runLoopRemoveTimer(timer);
  theRunLoopModes = modes;
  for (const auto& timer : timers()) runLoopAddTimer(timer);
  runLoopAddSource(theSource4);
  runLoopAddSource(theSource6);
  if (streams && !attachStreamsToRunLoop(nullptr, nullptr)) return false;
  defer("maybeDequeueRead", &RlSocket::maybeDequeueRead);
  defer("maybeDequeueWrite", &RlSocket::maybeDequeueWrite);
  defer("maybeScheduleDisconnect", &RlSocket::maybeScheduleDisconnect);
  return true;
}

bool RlSocket::addRunLoopMode(const pf::RunLoopMode& mode) {
  assertOnRunLoop("addRunLoopMode must be called from within the current RunLoop!");
  if (mode.empty()) return false;
  if (std::find(theRunLoopModes.begin(), theRunLoopModes.end(), mode) != theRunLoopModes.end()) return true;
  cancelDeferred();
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  theRunLoopModes.push_back(mode);
  if (theRunLoop) {
    for (const auto& timer : timers()) theRunLoop->addTimer(timer, mode);
    for (const auto& source : {theSource4, theSource6}) {
      if (source) theRunLoop->addSource(source, mode);
    }
  }
  if (theReadStream && theWriteStream) {
    theReadStream->scheduleInRunLoop(theRunLoop, mode);
    theWriteStream->scheduleInRunLoop(theRunLoop, mode);
  }
  defer("maybeDequeueRead", &RlSocket::maybeDequeueRead);
  defer("maybeDequeueWrite", &RlSocket::maybeDequeueWrite);
  defer("maybeScheduleDisconnect", &RlSocket::maybeScheduleDisconnect);
  return true;
}

bool RlSocket::removeRunLoopMode(const pf::RunLoopMode& mode) {
  assertOnRunLoop("removeRunLoopMode must be called from within the current RunLoop!");
  if (mode.empty()) return false;
  auto found = std::find(theRunLoopModes.begin(), theRunLoopModes.end(), mode);
  if (found == theRunLoopModes.end()) return true;
  if (theRunLoopModes.size() == 1) return false;
  cancelDeferred();
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  theRunLoopModes.erase(found);
  if (theRunLoop) {
    for (const auto& timer : timers()) theRunLoop->removeTimer(timer, mode);
    for (const auto& source : {theSource4, theSource6}) {
      if (source) theRunLoop->removeSource(source, mode);
    }
  }
  if (theReadStream && theWriteStream) {
    theReadStream->unscheduleFromRunLoop(theRunLoop, mode);
    theWriteStream->unscheduleFromRunLoop(theRunLoop, mode);
  }
  defer("maybeDequeueRead", &RlSocket::maybeDequeueRead);
  defer("maybeDequeueWrite", &RlSocket::maybeDequeueWrite);
  defer("maybeScheduleDisconnect", &RlSocket::maybeScheduleDisconnect);
  return true;
}

bool RlSocket::moveToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop) {
  assertOnRunLoop("moveToRunLoop must be called from within the current RunLoop!");
  if (!runLoop) return false;
  if (runLoop == theRunLoop) return true;
  auto self = shared_from_this();
  cancelDeferred();
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  bool streams = theReadStream && theWriteStream;
  if (streams && theRunLoop) {
    runLoopUnscheduleReadStream();
    runLoopUnscheduleWriteStream();
  }
  runLoopRemoveSource(theSource4);
  runLoopRemoveSource(theSource6);
  for (const auto& timer : timers()) runLoopRemoveTimer(timer);
  theRunLoop = runLoop;
  for (const auto& timer : timers()) runLoopAddTimer(timer);
  runLoopAddSource(theSource4);
  runLoopAddSource(theSource6);
  if (streams && !attachStreamsToRunLoop(runLoop, nullptr)) return false;
  theDeferLoop = runLoop;
  std::weak_ptr<RlSocket> weak = weak_from_this();
  for (auto [name, operation] : {std::pair{"maybeDequeueRead", &RlSocket::maybeDequeueRead},
                                 std::pair{"maybeDequeueWrite", &RlSocket::maybeDequeueWrite},
                                 std::pair{"maybeScheduleDisconnect", &RlSocket::maybeScheduleDisconnect}}) {
    runLoop->performOrdered(
        this, name, 0,
        [weak, operation = operation] {
          if (auto self = weak.lock()) ((*self).*operation)();
        },
        theRunLoopModes);
  }
  return true;
}

// ======================================================================== description

std::string RlSocket::description() const {
  std::string text;
  text.reserve(150);
  text += "<RlSocket " + pointerText(this);

  std::string local, remote;
  bool v4 = isIPv4(), v6 = isIPv6();
  if (!v4 && !v6) {
    local = remote = "nowhere";
  } else if (v4 && v6) {
    local = hostText(localHost4()) + "/" + hostText(localHost6()) + " " + std::to_string(localPort());
    remote = hostText(connectedHost4()) + "/" + hostText(connectedHost6()) + " " + std::to_string(connectedPort());
  } else if (v4) {
    local = hostText(localHost4()) + " " + std::to_string(localPort4());
    remote = hostText(connectedHost4()) + " " + std::to_string(connectedPort4());
  } else {
    local = hostText(localHost6()) + " " + std::to_string(localPort6());
    remote = hostText(connectedHost6()) + " " + std::to_string(connectedPort6());
  }
  text += " local " + local + " remote " + remote + " ";
  text += format("has queued %u reads %u writes, ", static_cast<unsigned>(theReadQueue.size()),
                 static_cast<unsigned>(theWriteQueue.size()));

  // While TLS starts the current packets are the TLS packet, which has no bytes to show.
  if (!theCurrentRead || theCurrentRead->kind != RlPacket::Kind::Read) {
    text += "no current read, ";
  } else {
    const auto& packet = asRead(theCurrentRead);
    int percent = 100;
    if (packet.bytesDone == 0) {
      percent = 0;
    } else if (packet.readLength > 0) {
      percent = static_cast<int>(static_cast<double>(packet.bytesDone) / static_cast<double>(packet.readLength) * 100.0);
    }
    text += format("currently read %u bytes (%d%% done), ", static_cast<unsigned>(packet.buffer->size()), percent);
  }
  if (!theCurrentWrite || theCurrentWrite->kind != RlPacket::Kind::Write) {
    text += "no current write, ";
  } else {
    const auto& packet = asWrite(theCurrentWrite);
    int percent = packet.bytesDone == 0 ? 0
                                        : static_cast<int>(static_cast<double>(packet.bytesDone) /
                                                           static_cast<double>(packet.buffer.size()) * 100.0);
    text += format("currently written %u (%d%%), ", static_cast<unsigned>(packet.buffer.size()), percent);
  }

  auto readStatus = theReadStream ? theReadStream->status() : pf::StreamStatus::NotOpen;
  auto writeStatus = theWriteStream ? theWriteStream->status() : pf::StreamStatus::NotOpen;
  text += "read stream " + pointerText(theReadStream.get()) + " " + statusName(readStatus) + ", ";
  text += "write stream " + pointerText(theWriteStream.get()) + " " + statusName(writeStatus);

  bool afterReads = theFlags & kDisconnectAfterReads;
  bool afterWrites = theFlags & kDisconnectAfterWrites;
  if (afterReads && afterWrites) {
    text += ", will disconnect after reads & writes";
  } else if (afterReads) {
    text += ", will disconnect after reads";
  } else if (afterWrites) {
    text += ", will disconnect after writes";
  }
  if (!isConnected()) text += ", not connected";
  text += ">";
  return text;
}

}  // namespace container
