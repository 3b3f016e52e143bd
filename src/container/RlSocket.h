#pragma once
// RlSocket: a TCP client and listening socket that does all its work on one run loop, with no
// thread of its own. Connecting, accepting, reading and writing go through run-loop sources,
// stream events, timers and deferred calls; results reach a delegate through optional callbacks.
//
// Reads and writes are queued packets processed strictly in order, one current packet per
// direction: reads of what is available, of a fixed length, or up to a terminator (with a
// read-ahead "pre-buffer"), each with a time-out the delegate may extend. startTLS() queues a
// packet that holds both directions until the TLS handshake has completed.
//
// The socket is used from the thread of the run loop it is attached to. Delegate callbacks may
// disconnect the socket, queue the next read or write, or drop the last reference to it.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/net/Socket.h"
#include "platform/net/SocketStream.h"

namespace container {

class RlSocket;

// The delegate's operations; each has a do-nothing default (for those with a result: connect
// goes on, the current run loop, no time-out extension).
class RlSocketDelegate {
 public:
  virtual ~RlSocketDelegate() = default;
  // A listening socket accepted a connection; `newSocket` has its streams, not yet attached. Keep
  // a reference to it, or it closes when the accept callback ends.
  virtual void onSocketDidAcceptNewSocket(RlSocket& sock, const std::shared_ptr<RlSocket>& newSocket) {}
  // The run loop the new socket is to live on; null: the listening socket's.
  virtual std::shared_ptr<pf::RunLoop> onSocketWantsRunLoopForNewSocket(RlSocket& sock, RlSocket& newSocket) {
    return nullptr;
  }
  // After the streams (or the connecting socket) are attached, before they open; false cancels.
  virtual bool onSocketWillConnect(RlSocket& sock) { return true; }
  virtual void onSocketDidConnectToHost(RlSocket& sock, const std::string& host, std::uint16_t port) {}
  virtual void onSocketDidReadData(RlSocket& sock, const pf::Bytes& data, long tag) {}
  virtual void onSocketDidReadPartialDataOfLength(RlSocket& sock, std::size_t partialLength, long tag) {}
  virtual void onSocketDidWriteDataWithTag(RlSocket& sock, long tag) {}
  virtual void onSocketDidWritePartialDataOfLength(RlSocket& sock, std::size_t partialLength, long tag) {}
  // The current read's (write's) timer fired: seconds to extend it by (> 0 extends), else it
  // times out.
  virtual double onSocketShouldTimeoutReadWithTag(RlSocket& sock, long tag, double elapsed, std::size_t bytesDone) {
    return 0.0;
  }
  virtual double onSocketShouldTimeoutWriteWithTag(RlSocket& sock, long tag, double elapsed,
                                                   std::size_t bytesDone) {
    return 0.0;
  }
  virtual void onSocketDidSecure(RlSocket& sock) {}
  // The socket is closing because of an error (or nothing: the remote end closed); unreadData()
  // may be called here.
  virtual void onSocketWillDisconnectWithError(RlSocket& sock, const std::optional<pf::Error>& error) {}
  // Last call of a connection.
  virtual void onSocketDidDisconnect(RlSocket& sock) {}
};

inline constexpr const char* kRlSocketErrorDomain = "RlSocketErrorDomain";
inline constexpr const char* kRlSocketException = "RlSocketException";

enum RlSocketError : int {
  kRlSocketCFSocketError = -1,
  kRlSocketNoError = 0,
  kRlSocketCanceledError = 1,
  kRlSocketConnectTimeoutError = 2,
  kRlSocketReadMaxedOutError = 3,
  kRlSocketReadTimeoutError = 4,
  kRlSocketWriteTimeoutError = 5,
};

// A queued packet: a read, a write, or the TLS packet that stands in both queues.
struct RlPacket {
  enum class Kind { Read, Write, Special };
  explicit RlPacket(Kind kind) : kind(kind) {}
  virtual ~RlPacket() = default;
  const Kind kind;
};

struct RlReadPacket final : RlPacket {
  // With a caller's buffer (shared: the bytes land in it) or without one (own buffer).
  RlReadPacket(std::shared_ptr<pf::Bytes> data, std::int64_t startOffset, std::int64_t maxLength, double timeout,
               std::int64_t readLength, const pf::Bytes* terminator, long tag);

  std::int64_t readLengthForNonTerm() const;
  std::int64_t readLengthForTerm() const;
  std::int64_t prebufferReadLengthForTerm() const;
  // Bytes read past the terminator after a pre-buffering step of `numBytes`; -1: not found.
  std::int64_t searchForTermAfterPreBuffering(std::int64_t numBytes) const;

  std::shared_ptr<pf::Bytes> buffer;
  std::int64_t startOffset = 0;
  std::int64_t bytesDone = 0;
  std::int64_t maxLength = -1;
  double timeout = -1.0;
  std::int64_t readLength = 0;
  std::optional<pf::Bytes> term;
  bool bufferOwner = true;
  std::uint64_t originalBufferLength = 0;
  long tag = 0;

 private:
  std::int64_t applyRoom(std::int64_t length) const;
};

struct RlWritePacket final : RlPacket {
  RlWritePacket(pf::Bytes data, double timeout, long tag)
      : RlPacket(Kind::Write), buffer(std::move(data)), tag(tag), timeout(timeout) {}
  pf::Bytes buffer;
  std::int64_t bytesDone = 0;
  long tag = 0;
  double timeout = -1.0;
};

struct RlSpecialPacket final : RlPacket {
  explicit RlSpecialPacket(pf::TlsSettings settings) : RlPacket(Kind::Special), tlsSettings(std::move(settings)) {}
  pf::TlsSettings tlsSettings;
};

class RlSocket final : public std::enable_shared_from_this<RlSocket> {
 public:
  // State bits.
  enum Flags : std::uint16_t {
    kPreBuffering = 0x0001,
    kDidStartDelegate = 0x0002,
    kReadStreamOpened = 0x0004,
    kWriteStreamOpened = 0x0008,
    kStartingReadTLS = 0x0010,
    kStartingWriteTLS = 0x0020,
    kForbidReadsWrites = 0x0040,
    kDisconnectAfterReads = 0x0080,
    kDisconnectAfterWrites = 0x0100,
    kClosingWithError = 0x0200,
    kDequeueReadScheduled = 0x0400,
    kDequeueWriteScheduled = 0x0800,
    kSocketCanAcceptBytes = 0x1000,
    kSocketHasBytesAvailable = 0x2000,
  };

  static std::shared_ptr<RlSocket> create();
  static std::shared_ptr<RlSocket> create(std::weak_ptr<RlSocketDelegate> delegate, long userData = 0);
  // Closes the socket (which may call onSocketDidDisconnect).
  ~RlSocket();
  RlSocket(const RlSocket&) = delete;
  RlSocket& operator=(const RlSocket&) = delete;

  long userData() const { return theUserData; }
  void setUserData(long userData) { theUserData = userData; }
  std::shared_ptr<RlSocketDelegate> delegate() const { return theDelegate.lock(); }
  void setDelegate(std::weak_ptr<RlSocketDelegate> delegate) { theDelegate = std::move(delegate); }
  // True only with both queues empty and neither a current read nor a current write.
  bool canSafelySetDelegate() const;
  std::shared_ptr<pf::Socket> getCFSocket() const { return theSocket4 ? theSocket4 : theSocket6; }
  std::shared_ptr<pf::ReadStream> getCFReadStream() const { return theReadStream; }
  std::shared_ptr<pf::WriteStream> getCFWriteStream() const { return theWriteStream; }

  // ---- connecting (raise kRlSocketException without a delegate or while not disconnected).
  // Return at once; the outcome arrives later on the calling thread's run loop. A negative time-out
  // means no connect timer. `error` (optional) receives the reason of a false result.
  bool connectToHost(const std::string& host, std::uint16_t port, pf::Error* error = nullptr);
  bool connectToHost(const std::string& host, std::uint16_t port, double timeout, pf::Error* error = nullptr);
  // `address`: a socket-address record (SocketAddress::bytes()).
  bool connectToAddress(const pf::Bytes& address, pf::Error* error = nullptr);
  bool connectToAddress(const pf::Bytes& address, double timeout, pf::Error* error = nullptr);

  // ---- listening (raise kRlSocketException without a delegate or while a socket exists).
  bool acceptOnPort(std::uint16_t port, pf::Error* error = nullptr);
  // interface: nothing or empty for every address; "localhost" or "loopback"; else a name or
  // numeric address to resolve.
  bool acceptOnInterface(const std::optional<std::string>& interface, std::uint16_t port, pf::Error* error = nullptr);

  // ---- disconnecting
  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();
  // Inside onSocketWillDisconnectWithError: a copy of the unfinished read's bytes followed by what
  // the stream still held; elsewhere nothing.
  std::optional<pf::Bytes> unreadData();

  // ---- state and endpoints
  bool isConnected() const;
  bool isDisconnected() const;
  bool isIPv4() const;
  bool isIPv6() const;
  std::optional<std::string> connectedHost() const;
  std::uint16_t connectedPort() const;
  std::optional<std::string> localHost() const;
  std::uint16_t localPort() const;
  std::optional<std::string> connectedHost4() const;
  std::optional<std::string> connectedHost6() const;
  std::uint16_t connectedPort4() const;
  std::uint16_t connectedPort6() const;
  std::optional<std::string> localHost4() const;
  std::optional<std::string> localHost6() const;
  std::uint16_t localPort4() const;
  std::uint16_t localPort6() const;
  std::optional<pf::Bytes> connectedAddress() const;
  std::optional<pf::Bytes> localAddress() const;

  void enablePreBuffering() { theFlags |= kPreBuffering; }

  // ---- reading (ignored after a disconnect-after operation or when their conditions fail).
  // A caller's buffer is shared: the read's bytes land in it at `offset` (it grows when they do not
  // fit), and a copy of them is also delivered to onSocketDidReadData. Without one the socket reads
  // into a buffer of its own and hands that over.
  void readDataWithTimeout(double timeout, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset, long tag);
  void readDataWithTimeout(double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset, std::int64_t maxLength,
                           long tag);
  void readDataToLength(std::size_t length, double timeout, long tag);
  void readDataToLength(std::size_t length, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset, long tag);
  void readDataToData(const pf::Bytes& data, double timeout, long tag);
  void readDataToData(const pf::Bytes& data, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset, long tag);
  void readDataToData(const pf::Bytes& data, double timeout, std::int64_t maxLength, long tag);
  void readDataToData(const pf::Bytes& data, double timeout, std::shared_ptr<pf::Bytes> buffer, std::size_t offset,
                      std::int64_t maxLength, long tag);
  // NaN without a current read (or while TLS starts); else the fraction done (1.0 for a read of
  // what is available).
  float progressOfReadReturningTag(long* tag, std::int64_t* bytesDone, std::int64_t* total) const;

  // ---- writing (the bytes are the socket's own from here on)
  void writeData(pf::Bytes data, double timeout, long tag);
  float progressOfWriteReturningTag(long* tag, std::int64_t* bytesDone, std::int64_t* total) const;

  // ---- TLS: queued behind the pending reads and writes; nothing means the default settings.
  void startTLS(std::optional<pf::TlsSettings> settings);

  // ---- run-loop control (on the socket's run loop only)
  std::vector<pf::RunLoopMode> runLoopModes() const { return theRunLoopModes; }
  bool setRunLoopModes(const std::vector<pf::RunLoopMode>& modes);
  bool addRunLoopMode(const pf::RunLoopMode& mode);
  bool removeRunLoopMode(const pf::RunLoopMode& mode);
  bool moveToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop);

  std::string description() const;

  static pf::Bytes CRLFData() { return {0x0D, 0x0A}; }
  static pf::Bytes CRData() { return {0x0D}; }
  static pf::Bytes LFData() { return {0x0A}; }
  static pf::Bytes ZeroData() { return {0x00}; }

  std::uint16_t flags() const { return theFlags; }

 private:
  struct Private {};

 public:
  RlSocket(Private, std::weak_ptr<RlSocketDelegate> delegate, long userData);

 private:
  // connecting
  bool createStreamsToHost(const std::string& host, std::uint16_t port, pf::Error* error);
  bool createStreamsFromNative(int native, pf::Error* error);
  bool attachStreamsToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, pf::Error* error);
  bool configureStreamsAndReturnError(pf::Error* error);
  bool openStreamsAndReturnError(pf::Error* error);
  bool createSocketForAddress(const pf::Bytes& address, pf::Error* error);
  bool attachSocketsToRunLoop(const std::shared_ptr<pf::RunLoop>& runLoop, pf::Error* error);
  bool connectSocketToAddress(const pf::Bytes& address, pf::Error* error);
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();
  void doSocketOpen(pf::Socket& sock, int socketError);
  void doStreamOpen();
  bool setSocketFromStreamsAndReturnError(pf::Error* error);
  void doCFSocketCallback(pf::Socket::CallbackType type, pf::Socket& sock, int value);
  void doAcceptFromSocket(pf::Socket& parent, int newNative);
  std::shared_ptr<pf::Socket> newAcceptSocketForAddress(const pf::SocketAddress& address);

  // closing
  void closeWithError(const std::optional<pf::Error>& error);
  void recoverUnreadData();
  void emptyQueues();
  void close();
  void maybeScheduleDisconnect();

  // errors
  std::optional<pf::Error> getStreamError() const;
  std::optional<pf::Error> getReadStreamError() const;
  std::optional<pf::Error> getWriteStreamError() const;
  static pf::Error getSocketError();
  static pf::Error getAbortError();
  static pf::Error getConnectTimeoutError();
  static pf::Error getReadMaxedOutError();
  static pf::Error getReadTimeoutError();
  static pf::Error getWriteTimeoutError();

  // run loop
  void runLoopAddSource(const std::shared_ptr<pf::RunLoopSource>& source);
  void runLoopRemoveSource(const std::shared_ptr<pf::RunLoopSource>& source);
  void runLoopAddTimer(const std::shared_ptr<pf::Timer>& timer);
  void runLoopRemoveTimer(const std::shared_ptr<pf::Timer>& timer);
  void runLoopUnscheduleReadStream();
  void runLoopUnscheduleWriteStream();
  void defer(const char* name, void (RlSocket::*operation)());
  void cancelDeferred();
  void cancelDeferred(const char* name);
  void assertOnRunLoop(const char* message) const;
  std::vector<std::shared_ptr<pf::Timer>> timers() const;

  // reading
  void queueRead(std::shared_ptr<RlReadPacket> packet);
  void scheduleDequeueRead();
  void maybeDequeueRead();
  void doBytesAvailable();
  bool hasBytesAvailable() const;
  long readIntoBuffer(std::uint8_t* buffer, std::size_t length);
  void completeCurrentRead();
  void endCurrentRead();
  void doReadTimeout();

  // writing
  void scheduleDequeueWrite();
  void maybeDequeueWrite();
  void doSendBytes();
  bool canAcceptBytes() const;
  void completeCurrentWrite();
  void endCurrentWrite();
  void doWriteTimeout();

  // TLS and stream events
  void maybeStartTLS();
  void onTLSHandshakeSuccessful();
  void doCFReadStreamCallback(pf::StreamEvent type, pf::SocketStream& stream);
  void doCFWriteStreamCallback(pf::StreamEvent type, pf::SocketStream& stream);

  std::optional<pf::SocketAddress> endpoint(bool peer, int family) const;

  int theNativeSocket4 = -1;
  int theNativeSocket6 = -1;
  std::shared_ptr<pf::Socket> theSocket4;
  std::shared_ptr<pf::Socket> theSocket6;
  std::shared_ptr<pf::ReadStream> theReadStream;
  std::shared_ptr<pf::WriteStream> theWriteStream;
  std::shared_ptr<pf::RunLoopSource> theSource4;
  std::shared_ptr<pf::RunLoopSource> theSource6;
  std::shared_ptr<pf::RunLoop> theRunLoop;
  std::vector<pf::RunLoopMode> theRunLoopModes{pf::kDefaultRunLoopMode};
  std::shared_ptr<pf::Timer> theConnectTimer;
  std::deque<std::shared_ptr<RlPacket>> theReadQueue;
  std::shared_ptr<RlPacket> theCurrentRead;
  std::shared_ptr<pf::Timer> theReadTimer;
  pf::Bytes partialReadBuffer;
  std::deque<std::shared_ptr<RlPacket>> theWriteQueue;
  std::shared_ptr<RlPacket> theCurrentWrite;
  std::shared_ptr<pf::Timer> theWriteTimer;
  std::weak_ptr<RlSocketDelegate> theDelegate;
  std::uint16_t theFlags = kPreBuffering;
  long theUserData = 0;
  std::weak_ptr<pf::RunLoop> theDeferLoop;  // where deferred calls were last made
};

}  // namespace container
