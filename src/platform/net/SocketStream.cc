#include "platform/net/SocketStream.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/PeerTrust.h"

namespace pf {
namespace detail {
namespace {

// Received (under TLS: decrypted) bytes held at most before the descriptor is left unread.
constexpr std::size_t kInboundSize = 64 * 1024;
// Below this much room at the end of the buffer, waiting bytes move to its front.
constexpr std::size_t kInboundMinRoom = 16 * 1024;

bool retryable(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Blocks until the descriptor is ready for `events` (or fails).
void pollFor(int fd, short events) {
  pollfd p{fd, events, 0};
  while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace

struct Half {
  SocketStream* stream = nullptr;  // null once the stream object is gone
  StreamStatus status = StreamStatus::NotOpen;
  unsigned mask = 0;
  SocketStream::Client client;
  std::vector<RunLoopMode> modes;
  std::shared_ptr<RunLoopSource> signal;  // delivers queued events in `modes`
  unsigned queued = 0;
  bool armed = true;  // the next readiness event may be sent
  // Readiness wake-ups while disarmed. The descriptor stays watched until one comes, so that a
  // client that reads or writes on the next pass does not make the interest flap.
  int idle = 0;
  bool endPosted = false;

  bool gone() const { return stream == nullptr; }
  bool open() const { return status == StreamStatus::Open; }
  bool finished() const { return gone() || status == StreamStatus::Closed; }
  bool scheduledIn(const RunLoopMode& mode) const {
    return std::find(modes.begin(), modes.end(), mode) != modes.end();
  }
};

// The resolver's answer travels through here: the resolver's thread stores it and signals the
// source, which the run loop then runs.
struct ResolveMailbox {
  Mutex mutex;
  std::optional<ResolveResult> result PF_GUARDED_BY(mutex);
  std::shared_ptr<RunLoopSource> source;  // set before the resolver is asked
};

struct StreamCore : std::enable_shared_from_this<StreamCore> {
  // Guards everything below. Held by every call on the pair and every run-loop callback, released
  // while a client callback runs and while a blocking read or write waits, so that a pair driven
  // by one thread's run loop may be read and written from another thread.
  RecursiveMutex mutex;
  using Lock = MutexLock<RecursiveMutex>;

  enum class Phase { Idle, Resolving, Connecting, Connected, Failed };
  enum class Tls { Off, Handshaking, On };

  // Fixed before the pair is handed out.
  std::string host;
  std::uint16_t port = 0;
  std::shared_ptr<HostResolver> resolver PF_GUARDED_BY(mutex);

  int fd PF_GUARDED_BY(mutex) = -1;
  bool ownsFd PF_GUARDED_BY(mutex) = false;
  bool tornDown PF_GUARDED_BY(mutex) = false;
  Phase phase PF_GUARDED_BY(mutex) = Phase::Idle;
  std::vector<SocketAddress> candidates PF_GUARDED_BY(mutex);
  std::size_t nextCandidate PF_GUARDED_BY(mutex) = 0;
  int lastConnectErrno PF_GUARDED_BY(mutex) = 0;
  StreamError error PF_GUARDED_BY(mutex);

  Half halves[2] PF_GUARDED_BY(mutex);  // read, write
  std::shared_ptr<RunLoop> runLoop PF_GUARDED_BY(mutex);
  std::vector<RunLoopMode> sourceModes PF_GUARDED_BY(mutex);  // where the descriptor and resolver sources are
  std::shared_ptr<RunLoopSource> fdSource PF_GUARDED_BY(mutex);
  std::shared_ptr<ResolveMailbox> mailbox PF_GUARDED_BY(mutex);

  std::optional<TlsSettings> tlsSettings PF_GUARDED_BY(mutex);
  std::unique_ptr<TlsSession> tls PF_GUARDED_BY(mutex);
  Tls tlsState PF_GUARDED_BY(mutex) = Tls::Off;
  TlsSession::Want tlsWant PF_GUARDED_BY(mutex) = TlsSession::Want::Nothing;
  bool tlsReadWantsWrite PF_GUARDED_BY(mutex) = false;
  // Bytes taken from the descriptor (under TLS: decrypted) and not yet read: [inBegin, inEnd).
  Bytes inbound PF_GUARDED_BY(mutex);
  std::size_t inBegin PF_GUARDED_BY(mutex) = 0;
  std::size_t inEnd PF_GUARDED_BY(mutex) = 0;
  bool readEof PF_GUARDED_BY(mutex) = false;  // the peer finished sending
  // Inside a run-loop callback: queued events are delivered at its end.
  bool dispatching PF_GUARDED_BY(mutex) = false;

  // Waits for the descriptor without holding the lock.
  void waitFor(int descriptor, short events) PF_REQUIRES(mutex) {
    mutex.unlock();
    pollFor(descriptor, events);
    mutex.lock();
  }

  Half& readHalf() PF_REQUIRES(mutex) { return halves[0]; }
  Half& writeHalf() PF_REQUIRES(mutex) { return halves[1]; }
  Half& half(bool isRead) PF_REQUIRES(mutex) { return halves[isRead ? 0 : 1]; }
  std::size_t plainAvailable() const PF_REQUIRES(mutex) { return inEnd - inBegin; }

  // Room at the end of the inbound buffer (0: full).
  std::size_t makeRoom() PF_REQUIRES(mutex) {
    if (inbound.empty()) inbound.resize(kInboundSize);
    if (inBegin == inEnd) {
      inBegin = inEnd = 0;
    } else if (inBegin > 0 && inbound.size() - inEnd < kInboundMinRoom) {
      std::memmove(inbound.data(), inbound.data() + inBegin, inEnd - inBegin);
      inEnd -= inBegin;
      inBegin = 0;
    }
    return inbound.size() - inEnd;
  }

  // The last reference is gone: no other thread can reach the core.
  ~StreamCore() PF_NO_THREAD_SAFETY_ANALYSIS { teardown(); }

  void init(std::weak_ptr<StreamCore> weak) PF_REQUIRES(mutex) {
    for (int i = 0; i < 2; ++i) {
      halves[i].signal = RunLoopSource::makeSignal([weak, i](RunLoopSource&) {
        if (auto core = weak.lock()) {
          Lock lock(core->mutex);
          core->deliver(core->halves[i]);
          core->updateInterest();
        }
      });
    }
  }

  // ---- events

  void post(Half& h, unsigned event) PF_REQUIRES(mutex) {
    if (h.finished()) return;
    if (!(h.mask & event)) return;
    if (event == kStreamEventHasBytesAvailable || event == kStreamEventCanAcceptBytes) h.armed = false;
    if (event == kStreamEventEndEncountered) h.endPosted = true;
    h.queued |= event;
    if (!dispatching) h.signal->signal();
  }

  void deliver(Half& h) PF_REQUIRES(mutex) {
    auto self = shared_from_this();
    static constexpr unsigned kOrder[] = {kStreamEventOpenCompleted, kStreamEventHasBytesAvailable,
                                          kStreamEventCanAcceptBytes, kStreamEventErrorOccurred,
                                          kStreamEventEndEncountered};
    for (unsigned event : kOrder) {
      if (!(h.queued & event)) continue;
      h.queued &= ~event;
      if (h.finished() || !(h.mask & event) || !h.client) continue;
      // A readiness event that went stale while queued (the owner read or wrote meanwhile) is
      // dropped, so that it never sends the owner into a blocking call.
      bool stale = (event == kStreamEventHasBytesAvailable && !hasBytesAvailable()) ||
                   (event == kStreamEventCanAcceptBytes && !hasSpaceAvailable());
      if (stale) {
        h.armed = true;
        h.idle = 0;
        continue;
      }
      auto client = h.client;
      mutex.unlock();
      client(*h.stream, static_cast<StreamEvent>(event));
      mutex.lock();
    }
  }

  // Ends a run-loop callback: delivers what it queued where the loop's mode allows, else later.
  void flush() PF_REQUIRES(mutex) {
    dispatching = false;
    std::optional<RunLoopMode> mode = runLoop ? runLoop->currentMode() : std::nullopt;
    for (Half& h : halves) {
      if (!h.queued || h.finished()) continue;
      if (mode && h.scheduledIn(*mode)) {
        deliver(h);
      } else {
        h.signal->signal();
      }
    }
  }

  // `work` requires the lock, which the analysis cannot match to this object's here.
  template <class F>
  void dispatch(F&& work) PF_REQUIRES(mutex) PF_NO_THREAD_SAFETY_ANALYSIS {
    auto self = shared_from_this();
    bool outer = !dispatching;
    dispatching = true;
    work();
    if (outer) {
      flush();
      // Only now: the clients' reads and writes during delivery re-arm what the events disarmed,
      // so the descriptor's interest does not flap with every event.
      updateInterest();
    }
  }

  void fail(StreamError reason) PF_REQUIRES(mutex) {
    if (phase == Phase::Failed) return;
    error = reason;
    phase = Phase::Failed;
    for (Half& h : halves) {
      if (h.finished() || h.status == StreamStatus::NotOpen) continue;
      h.status = StreamStatus::Error;
      post(h, kStreamEventErrorOccurred);
    }
    updateInterest();
  }

  // ---- run loop

  std::uint32_t interest() PF_REQUIRES(mutex) {
    if (fd < 0 || tornDown) return 0;
    if (phase == Phase::Connecting) return kRunLoopWrite;
    if (phase != Phase::Connected) return 0;
    if (tlsState == Tls::Handshaking) {
      return tlsWant == TlsSession::Want::Write ? kRunLoopWrite : kRunLoopRead;
    }
    std::uint32_t events = 0;
    Half& r = readHalf();
    if (r.open() && (r.armed || r.idle == 0) && !readEof &&
        (r.mask & (kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred))) {
      if (plainAvailable() < kInboundSize) events |= kRunLoopRead;
    }
    Half& w = writeHalf();
    if (w.open() && (w.armed || w.idle == 0) && (w.mask & kStreamEventCanAcceptBytes)) events |= kRunLoopWrite;
    if (tlsReadWantsWrite) events |= kRunLoopWrite;
    return events;
  }

  void updateInterest() PF_REQUIRES(mutex) {
    if (fdSource) fdSource->setEvents(interest());
  }

  void addSources(const RunLoopMode& mode) PF_REQUIRES(mutex) {
    if (fdSource) runLoop->addSource(fdSource, mode);
    if (mailbox) runLoop->addSource(mailbox->source, mode);
  }

  void removeSources(const RunLoopMode& mode) PF_REQUIRES(mutex) {
    if (fdSource) runLoop->removeSource(fdSource, mode);
    if (mailbox) runLoop->removeSource(mailbox->source, mode);
  }

  void schedule(Half& h, const std::shared_ptr<RunLoop>& loop, const RunLoopMode& mode) PF_REQUIRES(mutex) {
    if (!loop) return;
    if (runLoop && runLoop != loop) {
      throw Exception(kInternalInconsistencyException, "A socket stream pair is scheduled on one run loop at a time");
    }
    runLoop = loop;
    if (h.scheduledIn(mode)) return;
    h.modes.push_back(mode);
    runLoop->addSource(h.signal, mode);
    if (std::find(sourceModes.begin(), sourceModes.end(), mode) == sourceModes.end()) {
      sourceModes.push_back(mode);
      addSources(mode);
    }
    if (h.queued) h.signal->signal();
    if (mailbox) {
      MutexLock lock(mailbox->mutex);
      if (mailbox->result) mailbox->source->signal();
    }
  }

  void unschedule(Half& h, const std::shared_ptr<RunLoop>& loop, const RunLoopMode& mode) PF_REQUIRES(mutex) {
    if (!loop || loop != runLoop || !h.scheduledIn(mode)) return;
    h.modes.erase(std::find(h.modes.begin(), h.modes.end(), mode));
    runLoop->removeSource(h.signal, mode);
    Half& other = &h == &halves[0] ? halves[1] : halves[0];
    if (!other.scheduledIn(mode)) {
      removeSources(mode);
      sourceModes.erase(std::find(sourceModes.begin(), sourceModes.end(), mode));
    }
    if (halves[0].modes.empty() && halves[1].modes.empty()) runLoop.reset();
  }

  void setFd(int newFd) PF_REQUIRES(mutex) {
    if (fdSource) fdSource->invalidate();
    fdSource.reset();
    fd = newFd;
    if (fd < 0) return;
    std::weak_ptr<StreamCore> weak = weak_from_this();
    fdSource = RunLoopSource::makeFd(fd, 0, [weak](RunLoopSource&, std::uint32_t events) {
      if (auto core = weak.lock()) {
        Lock lock(core->mutex);
        core->dispatch([&]() PF_REQUIRES(core->mutex) { core->onDescriptor(events); });
      }
    });
    for (const auto& mode : sourceModes) runLoop->addSource(fdSource, mode);
  }

  // ---- connecting

  void start() PF_REQUIRES(mutex) {
    if (fd >= 0) {
      setFd(fd);
      connected();
      return;
    }
    phase = Phase::Resolving;
    mailbox = std::make_shared<ResolveMailbox>();
    std::weak_ptr<StreamCore> weak = weak_from_this();
    mailbox->source = RunLoopSource::makeSignal([weak](RunLoopSource&) {
      if (auto core = weak.lock()) {
        Lock lock(core->mutex);
        core->dispatch([&]() PF_REQUIRES(core->mutex) { core->onResolved(); });
      }
    });
    for (const auto& mode : sourceModes) runLoop->addSource(mailbox->source, mode);
    if (!resolver) resolver = HostResolver::shared();
    resolver->resolve(host, port, ResolveHints{}, [box = mailbox](ResolveResult result) {
      MutexLock lock(box->mutex);
      box->result = std::move(result);
      box->source->signal();
    });
  }

  void onResolved() PF_REQUIRES(mutex) {
    std::optional<ResolveResult> result;
    {
      MutexLock lock(mailbox->mutex);
      result.swap(mailbox->result);
    }
    if (!result || phase != Phase::Resolving) return;
    if (!result->ok()) {
      fail(result->status == EAI_SYSTEM && result->systemErrno ? StreamError::posix(result->systemErrno)
                                                               : StreamError::netdb(result->status));
      return;
    }
    candidates = std::move(result->addresses);
    nextCandidate = 0;
    tryNextCandidate();
  }

  void tryNextCandidate() PF_REQUIRES(mutex) {
    while (nextCandidate < candidates.size()) {
      const SocketAddress& address = candidates[nextCandidate++];
      int s = ::socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
      if (s < 0) {
        lastConnectErrno = errno;
        continue;
      }
      if (::connect(s, address.sockaddrPointer(), address.length()) == 0) {
        setFd(s);
        connected();
        return;
      }
      if (errno == EINPROGRESS) {
        setFd(s);
        phase = Phase::Connecting;
        updateInterest();
        return;
      }
      lastConnectErrno = errno;
      ::close(s);
    }
    fail(StreamError::posix(lastConnectErrno ? lastConnectErrno : ECONNREFUSED));
  }

  void finishConnect() PF_REQUIRES(mutex) {
    int socketError = 0;
    socklen_t length = sizeof socketError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0) socketError = errno;
    if (socketError == 0) {
      connected();
      return;
    }
    if (socketError == EINPROGRESS || socketError == EALREADY) return;
    lastConnectErrno = socketError;
    int old = fd;
    setFd(-1);
    ::close(old);
    tryNextCandidate();
  }

  void connected() PF_REQUIRES(mutex) {
    phase = Phase::Connected;
    for (Half& h : halves) {
      if (h.status != StreamStatus::Opening) continue;
      h.status = StreamStatus::Open;
      post(h, kStreamEventOpenCompleted);
    }
    if (tlsSettings && tlsState == Tls::Off) {
      StreamError reason;
      if (!startTls(&reason)) {
        fail(reason);
        return;
      }
    }
    updateInterest();
  }

  // ---- TLS

  bool startTls(StreamError* reason) PF_REQUIRES(mutex) {
    std::string name = tlsSettings->peerName.value_or(host);
    // Bytes already read ahead belong to the TLS conversation (a client's hello that came with the
    // last clear-text bytes); anything else fails the handshake rather than pass for secure.
    Bytes received(inbound.begin() + static_cast<std::ptrdiff_t>(inBegin),
                   inbound.begin() + static_cast<std::ptrdiff_t>(inEnd));
    tls = TlsSession::create(
        fd, *tlsSettings, name,
        [anchors = tlsSettings->anchorCertificates](const std::vector<Bytes>& chain, const std::string& peerName) {
          return evaluatePeerTrust(chain, peerName, anchors);
        },
        reason, std::move(received));
    if (!tls) return false;
    inBegin = inEnd = 0;
    tlsState = Tls::Handshaking;
    for (Half& h : halves) {
      h.armed = true;
      h.idle = 0;
      h.queued &= ~(kStreamEventHasBytesAvailable | kStreamEventCanAcceptBytes);
    }
    driveHandshake();
    return true;
  }

  void driveHandshake() PF_REQUIRES(mutex) {
    StreamError reason;
    if (tls->handshake(&tlsWant, &reason)) {
      tlsState = Tls::On;
      tlsWant = TlsSession::Want::Nothing;
      pump();
      updateInterest();
      return;
    }
    if (tlsWant == TlsSession::Want::Nothing) {
      fail(reason);
      return;
    }
    updateInterest();
  }

  // Blocks until the handshake is over; false when it failed.
  bool finishHandshake() PF_REQUIRES(mutex) {
    while (tlsState == Tls::Handshaking && phase == Phase::Connected) {
      waitFor(fd, tlsWant == TlsSession::Want::Write ? POLLOUT : POLLIN);
      if (tornDown) return false;
      driveHandshake();
    }
    return tlsState == Tls::On && phase == Phase::Connected;
  }

  // Takes what the descriptor holds (decrypted under TLS) into the inbound buffer, then posts what
  // follows from it.
  void pump() PF_REQUIRES(mutex) {
    if (tornDown) return;
    tlsReadWantsWrite = false;
    while (!readEof) {
      std::size_t room = makeRoom();
      if (room == 0) break;
      if (tlsState == Tls::On) {
        TlsSession::Want want;
        StreamError reason;
        long n = tls->read(inbound.data() + inEnd, room, &want, &reason);
        if (n > 0) {
          inEnd += static_cast<std::size_t>(n);
          continue;
        }
        if (n < 0) {
          fail(reason);
          return;
        }
        if (want == TlsSession::Want::Nothing) readEof = true;
        if (want == TlsSession::Want::Write) tlsReadWantsWrite = true;
        break;
      }
      ssize_t n = ::recv(fd, inbound.data() + inEnd, room, MSG_DONTWAIT);
      if (n > 0) {
        inEnd += static_cast<std::size_t>(n);
      } else if (n == 0) {
        readEof = true;
      } else if (errno != EINTR && !retryable(errno)) {
        fail(StreamError::posix(errno));
        return;
      }
      break;  // one system call per pass: the descriptor says when there is more
    }
    postReadState();
  }

  void postReadState() PF_REQUIRES(mutex) {
    Half& r = readHalf();
    if (!r.open()) return;
    if (plainAvailable() > 0) {
      if (r.armed) post(r, kStreamEventHasBytesAvailable);
    } else if (readEof && !r.endPosted) {
      r.status = StreamStatus::AtEnd;
      post(r, kStreamEventEndEncountered);
    }
  }

  // ---- readiness

  void onDescriptor(std::uint32_t events) PF_REQUIRES(mutex) {
    if (tornDown) return;
    if (phase == Phase::Connecting) {
      finishConnect();
      return;
    }
    if (phase != Phase::Connected) return;
    if (tlsState == Tls::Handshaking) {
      driveHandshake();
      return;
    }
    bool trouble = events & (kRunLoopError | kRunLoopHangUp);
    if ((events & kRunLoopRead) || trouble) onReadable();
    if (phase == Phase::Connected && ((events & kRunLoopWrite) || trouble)) onWritable();
  }

  void onReadable() PF_REQUIRES(mutex) {
    Half& r = readHalf();
    if (!r.armed) ++r.idle;
    if (r.open()) pump();
  }

  void onWritable() PF_REQUIRES(mutex) {
    if (tlsReadWantsWrite) pump();
    Half& w = writeHalf();
    if (!w.armed) ++w.idle;
    if (w.open() && w.armed) post(w, kStreamEventCanAcceptBytes);
  }

  // ---- reading and writing (called by the stream's owner, never from inside an event)

  long read(std::uint8_t* buffer, std::size_t length) PF_REQUIRES(mutex) {
    auto self = shared_from_this();
    Half& r = readHalf();
    if (r.status == StreamStatus::AtEnd) return 0;
    if (!r.open() || phase != Phase::Connected) return -1;
    if (length == 0) return 0;
    r.armed = true;
    r.idle = 0;
    if (tlsState == Tls::Handshaking && !finishHandshake()) return -1;
    long result = readBuffered(buffer, length);
    updateInterest();
    return result;
  }

  long readBuffered(std::uint8_t* buffer, std::size_t length) PF_REQUIRES(mutex) {
    for (;;) {
      if (plainAvailable() > 0) {
        std::size_t n = std::min(length, plainAvailable());
        std::memcpy(buffer, inbound.data() + inBegin, n);
        inBegin += n;
        if (inBegin == inEnd && tlsState == Tls::On) {
          pump();  // OpenSSL may hold more than the descriptor shows
        } else {
          postReadState();
        }
        return static_cast<long>(n);
      }
      if (readEof) {
        postReadState();
        return 0;
      }
      pump();
      if (phase != Phase::Connected || tornDown) return -1;
      if (plainAvailable() == 0 && !readEof) waitFor(fd, tlsReadWantsWrite ? POLLOUT : POLLIN);
      if (tornDown) return -1;
    }
  }

  long write(const std::uint8_t* buffer, std::size_t length) PF_REQUIRES(mutex) {
    auto self = shared_from_this();
    Half& w = writeHalf();
    if (!w.open() || phase != Phase::Connected) return -1;
    if (length == 0) return 0;
    w.armed = true;
    w.idle = 0;
    if (tlsState == Tls::Handshaking && !finishHandshake()) return -1;
    long result = -1;
    for (;;) {
      if (tlsState == Tls::On) {
        TlsSession::Want want;
        StreamError reason;
        long n = tls->write(buffer, length, &want, &reason);
        if (n > 0) {
          result = n;
          break;
        }
        if (n < 0) {
          fail(reason);
          break;
        }
        waitFor(fd, want == TlsSession::Want::Read ? POLLIN : POLLOUT);
        if (tornDown) break;
        continue;
      }
      ssize_t n = ::send(fd, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        result = static_cast<long>(n);
        break;
      }
      if (errno == EINTR) continue;
      if (retryable(errno)) {
        waitFor(fd, POLLOUT);
        if (tornDown) break;
        continue;
      }
      fail(StreamError::posix(errno));
      break;
    }
    updateInterest();
    return result;
  }

  bool hasBytesAvailable() PF_REQUIRES(mutex) {
    Half& r = readHalf();
    if (!r.open() || phase != Phase::Connected || tlsState == Tls::Handshaking) return false;
    if (plainAvailable() == 0 && !readEof) pump();
    return plainAvailable() > 0;
  }

  bool hasSpaceAvailable() PF_REQUIRES(mutex) {
    Half& w = writeHalf();
    if (!w.open() || phase != Phase::Connected || tlsState == Tls::Handshaking) return false;
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
  }

  // ---- opening and closing

  bool open(Half& h) PF_REQUIRES(mutex) {
    if (h.status != StreamStatus::NotOpen || tornDown) return false;
    h.status = StreamStatus::Opening;
    switch (phase) {
      case Phase::Idle:
        start();
        break;
      case Phase::Connected:
        h.status = StreamStatus::Open;
        post(h, kStreamEventOpenCompleted);
        updateInterest();
        break;
      case Phase::Failed:
        h.status = StreamStatus::Error;
        post(h, kStreamEventErrorOccurred);
        break;
      case Phase::Resolving:
      case Phase::Connecting:
        break;
    }
    return true;
  }

  void close(Half& h) PF_REQUIRES(mutex) {
    if (h.status == StreamStatus::Closed) return;
    h.status = StreamStatus::Closed;
    h.queued = 0;
    if (halves[0].finished() && halves[1].finished()) {
      teardown();
    } else {
      updateInterest();
    }
  }

  void gone(Half& h) PF_REQUIRES(mutex) {
    close(h);
    h.stream = nullptr;
    h.client = nullptr;
    if (h.signal) h.signal->invalidate();
  }

  void teardown() PF_REQUIRES(mutex) {
    if (tornDown) return;
    tornDown = true;
    if (tls) {
      tls->shutdown();
      tls.reset();
    }
    if (fdSource) fdSource->invalidate();
    fdSource.reset();
    if (mailbox) mailbox->source->invalidate();
    if (fd >= 0 && ownsFd) ::close(fd);
    fd = -1;
    Bytes().swap(inbound);
    inBegin = inEnd = 0;
  }

  bool setTlsSettings(const TlsSettings& settings) PF_REQUIRES(mutex) {
    if (tlsSettings) return *tlsSettings == settings;
    if (tornDown || phase == Phase::Failed) return false;
    tlsSettings = settings;
    if (phase != Phase::Connected) return true;
    auto self = shared_from_this();
    StreamError reason;
    if (!startTls(&reason)) {
      tlsSettings.reset();
      return false;
    }
    return true;
  }
};

}  // namespace detail

// ---- SocketStream

SocketStream::SocketStream(std::shared_ptr<detail::StreamCore> core, bool isRead)
    : core_(std::move(core)), isRead_(isRead) {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->half(isRead_).stream = this;
}

SocketStream::~SocketStream() {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->gone(core_->half(isRead_));
}

StreamPair SocketStream::makePair(const std::shared_ptr<detail::StreamCore>& core) {
  {
    detail::StreamCore::Lock lock(core->mutex);
    core->init(core);
  }
  StreamPair pair;
  pair.input.reset(new ReadStream(core, true));
  pair.output.reset(new WriteStream(core, false));
  return pair;
}

StreamPair SocketStream::pairToHost(const std::string& host, std::uint16_t port,
                                    std::shared_ptr<HostResolver> resolver) {
  auto core = std::make_shared<detail::StreamCore>();
  core->host = host;
  core->port = port;
  {
    detail::StreamCore::Lock lock(core->mutex);
    core->resolver = std::move(resolver);
    core->ownsFd = true;
  }
  return makePair(core);
}

StreamPair SocketStream::pairWithSocket(int fd) {
  auto core = std::make_shared<detail::StreamCore>();
  {
    detail::StreamCore::Lock lock(core->mutex);
    if (fd >= 0) {
      int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
      core->fd = fd;
    } else {
      core->phase = detail::StreamCore::Phase::Failed;
      core->error = StreamError::posix(EBADF);
    }
    core->ownsFd = false;
  }
  return makePair(core);
}

bool SocketStream::open() {
  auto self = core_;
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->open(core_->half(isRead_));
}

void SocketStream::close() {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->close(core_->half(isRead_));
}

StreamStatus SocketStream::status() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->half(isRead_).status;
}

StreamError SocketStream::error() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->half(isRead_).status == StreamStatus::Error ? core_->error : StreamError{};
}

bool SocketStream::setClient(unsigned events, Client client) {
  detail::StreamCore::Lock lock(core_->mutex);
  auto& h = core_->half(isRead_);
  if (h.status == StreamStatus::Closed) return false;
  if (!client || events == 0) {
    h.client = nullptr;
    h.mask = 0;
  } else {
    h.client = std::move(client);
    h.mask = events;
  }
  core_->updateInterest();
  return true;
}

void SocketStream::scheduleInRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->schedule(core_->half(isRead_), runLoop, mode);
}

void SocketStream::unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->unschedule(core_->half(isRead_), runLoop, mode);
}

void SocketStream::setShouldCloseNativeSocket(bool close) {
  detail::StreamCore::Lock lock(core_->mutex);
  core_->ownsFd = close;
}

bool SocketStream::shouldCloseNativeSocket() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->ownsFd;
}

std::optional<int> SocketStream::nativeSocket() const {
  detail::StreamCore::Lock lock(core_->mutex);
  if (core_->tornDown || core_->fd < 0 || core_->phase != detail::StreamCore::Phase::Connected) return std::nullopt;
  return core_->fd;
}

const std::string& SocketStream::host() const { return core_->host; }

bool SocketStream::setTlsSettings(const TlsSettings& settings) {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->setTlsSettings(settings);
}

std::optional<TlsSettings> SocketStream::tlsSettings() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->tlsSettings;
}

bool SocketStream::isSecure() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->tlsState == detail::StreamCore::Tls::On;
}

std::vector<Bytes> SocketStream::peerCertificateChain() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->tls && core_->tls->established() ? core_->tls->peerChain() : std::vector<Bytes>{};
}

long ReadStream::read(std::uint8_t* buffer, std::size_t length) {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->read(buffer, length);
}

bool ReadStream::hasBytesAvailable() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->hasBytesAvailable();
}

long WriteStream::write(const std::uint8_t* buffer, std::size_t length) {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->write(buffer, length);
}

bool WriteStream::hasSpaceAvailable() const {
  detail::StreamCore::Lock lock(core_->mutex);
  return core_->hasSpaceAvailable();
}

}  // namespace pf
