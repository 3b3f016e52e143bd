#pragma once
// Socket streams: the read and write halves of one TCP connection (optionally under TLS), driven
// by a run loop.
//
// A pair is made to a host and port (resolved off the run loop by a HostResolver, then connected
// without blocking) or over a connected descriptor. Each half is opened, scheduled in run-loop
// modes and given a client callback; events arrive on the run loop, in a mode the half is
// scheduled in, never from inside a call on the stream:
//   OpenCompleted      the connection is up (TCP connected; a TLS handshake may still follow)
//   HasBytesAvailable  read() will return bytes at once; sent again after the next read()
//   CanAcceptBytes     write() will take bytes at once; sent again after the next write()
//   ErrorOccurred      status() is Error, error() says why (POSIX, NetDB or SSL domain)
//   EndEncountered     the peer finished sending (read half) or the connection ended
// Under TLS the two readiness events start once the handshake has completed, and "has bytes"
// means decrypted bytes are waiting. read() and write() block like the platform's streams when
// nothing is ready; callers ask hasBytesAvailable() / hasSpaceAvailable() or wait for the events.
//
// Both halves share the connection: TLS settings and the descriptor are the pair's. The pair is
// used from the thread of the run loop it is scheduled on (one run loop at a time).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/HostResolver.h"
#include "platform/net/StreamError.h"
#include "platform/net/TlsSession.h"

namespace pf {

enum class StreamStatus : int { NotOpen = 0, Opening, Open, Reading, Writing, AtEnd, Closed, Error };

enum StreamEvent : unsigned {
  kStreamEventNone = 0,
  kStreamEventOpenCompleted = 1,
  kStreamEventHasBytesAvailable = 2,
  kStreamEventCanAcceptBytes = 4,
  kStreamEventErrorOccurred = 8,
  kStreamEventEndEncountered = 16,
};

namespace detail {
struct StreamCore;
}

class ReadStream;
class WriteStream;

struct StreamPair {
  std::shared_ptr<ReadStream> input;
  std::shared_ptr<WriteStream> output;
};

class SocketStream {
 public:
  using Client = std::function<void(SocketStream& stream, StreamEvent event)>;

  // A pair to host and port, resolved by `resolver` (the shared one when null) once a half opens.
  // The pair owns the descriptor it connects.
  static StreamPair pairToHost(const std::string& host, std::uint16_t port,
                               std::shared_ptr<HostResolver> resolver = nullptr);
  // A pair over a connected descriptor, which it makes non-blocking. The descriptor stays the
  // caller's unless setShouldCloseNativeSocket(true) is given to either half.
  static StreamPair pairWithSocket(int fd);

  virtual ~SocketStream();
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  bool isReadStream() const { return isRead_; }

  // NotOpen -> Opening (or Open at once over a descriptor). False when already opened.
  bool open();
  // No further events; the connection ends once both halves are closed (or gone).
  void close();
  StreamStatus status() const;
  StreamError error() const;

  // The client receives the events in `events` (a mask of StreamEvent); a null client or mask 0
  // removes it. False when the stream is closed.
  bool setClient(unsigned events, Client client);

  void scheduleInRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);
  void unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);

  // Whether closing both halves closes the descriptor.
  void setShouldCloseNativeSocket(bool close);
  bool shouldCloseNativeSocket() const;
  // The connected descriptor; nothing before the connection is up or after it ended.
  std::optional<int> nativeSocket() const;
  // The host the pair was made for (empty for a pair over a descriptor).
  const std::string& host() const;

  // Switches the connection to TLS: before opening, TLS follows the TCP connection; on an open
  // connection the handshake starts at once. Setting the same settings again is accepted; other
  // settings once TLS has started, or settings that cannot make a session, are refused.
  bool setTlsSettings(const TlsSettings& settings);
  std::optional<TlsSettings> tlsSettings() const;
  bool isSecure() const;  // the handshake has completed
  // The peer's certificate chain (DER, leaf first) once the handshake has completed.
  std::vector<Bytes> peerCertificateChain() const;

 protected:
  SocketStream(std::shared_ptr<detail::StreamCore> core, bool isRead);
  static StreamPair makePair(const std::shared_ptr<detail::StreamCore>& core);

  std::shared_ptr<detail::StreamCore> core_;
  const bool isRead_;
};

class ReadStream final : public SocketStream {
 public:
  // Up to `length` bytes: > 0 a count, 0 at end of stream, -1 on error (see error()). Blocks while
  // nothing is available.
  long read(std::uint8_t* buffer, std::size_t length);
  bool hasBytesAvailable() const;

 private:
  using SocketStream::SocketStream;
  friend class SocketStream;
};

class WriteStream final : public SocketStream {
 public:
  // Writes some of the bytes: > 0 the count taken, -1 on error. Blocks while nothing can be taken.
  long write(const std::uint8_t* buffer, std::size_t length);
  bool hasSpaceAvailable() const;

 private:
  using SocketStream::SocketStream;
  friend class SocketStream;
};

}  // namespace pf
