#include "platform/net/Reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/foundation/Dispatch.h"
#include "platform/net/HttpHeaders.h"

namespace pf {

namespace {

bool isZeroAddress(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr == 0;
  if (a.ss_family == AF_INET6) {
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr);
  }
  return false;
}

std::optional<sockaddr_storage> numericAddress(const std::string& text) {
  sockaddr_storage out{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    return out;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
  std::string bare = text;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  if (inet_pton(AF_INET6, bare.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    return out;
  }
  return std::nullopt;
}

bool isHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == ':' || c == '[' || c == ']';
  });
}

// ---- the kernel's routes

class NetlinkSocket {
 public:
  NetlinkSocket() { fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE); }
  ~NetlinkSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool send(nlmsghdr* message) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd_, message, message->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
           static_cast<ssize_t>(message->nlmsg_len);
  }

  // Calls `each` for every route message of the answer; false when the answer is an error or
  // cannot be read. Bounded: a dump answer beyond 4 MiB is cut.
  bool receive(std::uint32_t seq, const std::function<void(const nlmsghdr*)>& each) {
    std::vector<char> buffer(64 * 1024);
    std::size_t total = 0;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return false;
      ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (n <= 0) return false;
      total += static_cast<std::size_t>(n);
      int left = static_cast<int>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, static_cast<unsigned>(left));
           h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_seq != seq) continue;
        if (h->nlmsg_type == NLMSG_DONE) return true;
        if (h->nlmsg_type == NLMSG_ERROR) {
          auto* err = static_cast<nlmsgerr*>(NLMSG_DATA(h));
          return err->error == 0;
        }
        each(h);
        if (!(h->nlmsg_flags & NLM_F_MULTI)) return true;
      }
      if (total > (4u << 20)) return true;
    }
  }

 private:
  int fd_ = -1;
};

std::atomic<std::uint32_t> netlinkSeq{1};

struct RouteInfo {
  unsigned char type = RTN_UNSPEC;
  bool gateway = false;
  int outputInterface = 0;
};

void readRoute(const nlmsghdr* h, RouteInfo& info) {
  auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
  info.type = rt->rtm_type;
  int len = static_cast<int>(RTM_PAYLOAD(h));
  for (auto* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
    if (a->rta_type == RTA_GATEWAY) info.gateway = true;
    if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(int)) std::memcpy(&info.outputInterface, RTA_DATA(a), sizeof(int));
  }
}

ReachabilityFlags flagsForRoute(const RouteInfo& route) {
  if (route.type != RTN_UNICAST && route.type != RTN_LOCAL) return 0;
  ReachabilityFlags flags = kReachabilityReachable;
  char name[IF_NAMESIZE + 1] = {};
  bool named = route.outputInterface > 0 && if_indextoname(static_cast<unsigned>(route.outputInterface), name);
  if (route.type == RTN_LOCAL || (named && std::strcmp(name, "lo") == 0)) {
    flags |= kReachabilityIsLocalAddress | kReachabilityIsDirect;
  } else if (!route.gateway) {
    flags |= kReachabilityIsDirect;
  }
  if (named && std::strncmp(name, "wwan", 4) == 0) flags |= kReachabilityIsWWAN;
  return flags;
}

// The route the kernel would take to `address`.
std::optional<ReachabilityFlags> routeFlags(const sockaddr_storage& address) {
  NetlinkSocket socket;
  if (!socket.ok()) return std::nullopt;
  struct {
    nlmsghdr header;
    rtmsg route;
    char attributes[64];
  } request{};
  bool v4 = address.ss_family == AF_INET;
  std::size_t addressLength = v4 ? 4 : 16;
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = netlinkSeq++;
  request.route.rtm_family = static_cast<unsigned char>(address.ss_family);
  request.route.rtm_dst_len = static_cast<unsigned char>(addressLength * 8);
  auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
  attribute->rta_type = RTA_DST;
  attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(addressLength));
  const void* raw = v4 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in&>(address).sin_addr)
                       : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
  std::memcpy(RTA_DATA(attribute), raw, addressLength);
  request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
  if (!socket.send(&request.header)) return std::nullopt;
  RouteInfo route;
  bool found = false;
  if (!socket.receive(request.header.nlmsg_seq, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWROUTE) return;
        readRoute(h, route);
        found = true;
      })) {
    return ReachabilityFlags{0};  // no route (the kernel answers "network unreachable")
  }
  return found ? flagsForRoute(route) : ReachabilityFlags{0};
}

// Whether a default route exists (IPv4 or IPv6), and its flags.
std::optional<ReachabilityFlags> defaultRouteFlags() {
  NetlinkSocket socket;
  if (!socket.ok()) return std::nullopt;
  ReachabilityFlags best = 0;
  for (int family : {AF_INET, AF_INET6}) {
    struct {
      nlmsghdr header;
      rtmsg route;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = netlinkSeq++;
    request.route.rtm_family = static_cast<unsigned char>(family);
    if (!socket.send(&request.header)) return std::nullopt;
    socket.receive(request.header.nlmsg_seq, [&](const nlmsghdr* h) {
      if (h->nlmsg_type != RTM_NEWROUTE) return;
      auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
      if (rt->rtm_dst_len != 0 || rt->rtm_table != RT_TABLE_MAIN || rt->rtm_type != RTN_UNICAST) return;
      RouteInfo route;
      readRoute(h, route);
      ReachabilityFlags f = flagsForRoute(route);
      if (!(best & kReachabilityReachable) || ((best & kReachabilityIsWWAN) && !(f & kReachabilityIsWWAN))) best = f;
    });
  }
  return best;
}

// The thread that waits for routing changes, with the pipe that stops it.
class RouteWatcher {
 public:
  RouteWatcher() = default;
  RouteWatcher(RouteWatcher&& other) noexcept
      : thread_(std::move(other.thread_)), stopPipe_{std::exchange(other.stopPipe_[0], -1), std::exchange(other.stopPipe_[1], -1)} {}
  RouteWatcher& operator=(RouteWatcher&& other) noexcept {
    std::swap(thread_, other.thread_);
    std::swap(stopPipe_, other.stopPipe_);
    return *this;
  }
  ~RouteWatcher() { stop(); }

  // An empty watcher when the routing socket cannot be opened.
  static RouteWatcher start(std::function<void()> changed) {
    RouteWatcher w;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return w;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::pipe2(w.stopPipe_, O_CLOEXEC) != 0) {
      ::close(fd);
      return w;
    }
    w.thread_ = std::thread([fd, stopFd = w.stopPipe_[0], changed = std::move(changed)] {
      std::vector<char> buffer(16 * 1024);
      for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        if (fds[0].revents & POLLIN) {
          // Drain what is there, then announce once.
          while (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
          }
          changed();
        }
      }
      ::close(fd);
    });
    return w;
  }

  void stop() {
    if (!thread_.joinable()) return;
    char byte = 1;
    (void)!::write(stopPipe_[1], &byte, 1);
    if (thread_.get_id() == std::this_thread::get_id()) {
      // Stopped from its own change handler: the thread sees the byte once the handler returns
      // (the pipe is left open for it).
      thread_.detach();
      return;
    }
    thread_.join();
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    stopPipe_[0] = stopPipe_[1] = -1;
  }

 private:
  std::thread thread_;
  int stopPipe_[2] = {-1, -1};
};

// Handlers are set from any thread (a test's tear-down on a pool thread, the main thread...): the
// watcher is swapped under the lock and stopped outside it, since its thread may be inside the
// handler, which may set the handler again.
class KernelReachabilityProvider final : public ReachabilityProvider {
 public:
  ~KernelReachabilityProvider() override { take().stop(); }

  std::optional<ReachabilityFlags> flags(const ReachabilityTarget& target) override {
    if (target.isGeneral()) return defaultRouteFlags();
    return routeFlags(*target.address);
  }

  void setChangeHandler(std::function<void()> changed) override {
    take().stop();
    if (!changed) return;
    RouteWatcher next = RouteWatcher::start(std::move(changed));
    {
      MutexLock lock(mutex_);
      std::swap(watcher_, next);
    }
    next.stop();  // one another caller started meanwhile
  }

 private:
  RouteWatcher take() PF_EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return std::exchange(watcher_, RouteWatcher());
  }

  Mutex mutex_;
  RouteWatcher watcher_ PF_GUARDED_BY(mutex_);
};

}  // namespace

// ---------------------------------------------------------------------------------------------

bool ReachabilityTarget::isGeneral() const { return !address || isZeroAddress(*address); }

std::string ReachabilityTarget::description() const {
  if (!name.empty()) return name;
  if (!address) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (address->ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(*address).sin_addr, text, sizeof text);
  } else {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(*address).sin6_addr, text, sizeof text);
  }
  return text;
}

void FakeReachabilityProvider::setFlags(const std::string& description, std::optional<ReachabilityFlags> flags) {
  MutexLock lock(mutex_);
  flags_[description] = flags;
}

void FakeReachabilityProvider::change(const std::string& description, std::optional<ReachabilityFlags> flags) {
  setFlags(description, flags);
  notifyChange();
}

void FakeReachabilityProvider::notifyChange() {
  std::function<void()> changed;
  {
    MutexLock lock(mutex_);
    changed = changed_;
  }
  if (changed) changed();
}

std::optional<ReachabilityFlags> FakeReachabilityProvider::flags(const ReachabilityTarget& target) {
  MutexLock lock(mutex_);
  auto it = flags_.find(target.description());
  if (it == flags_.end()) it = flags_.find("*");
  return it == flags_.end() ? std::nullopt : it->second;
}

void FakeReachabilityProvider::setChangeHandler(std::function<void()> changed) {
  MutexLock lock(mutex_);
  changed_ = std::move(changed);
}

// ---------------------------------------------------------------------------------------------
// The process-wide registry of scheduled reachability objects.

struct ReachabilityRegistry {
  Mutex mutex;
  std::shared_ptr<ReachabilityProvider> provider PF_GUARDED_BY(mutex);
  std::vector<std::weak_ptr<NetworkReachability>> scheduled PF_GUARDED_BY(mutex);

  static ReachabilityRegistry& get() {
    static ReachabilityRegistry* registry = new ReachabilityRegistry();
    return *registry;
  }

  std::shared_ptr<ReachabilityProvider> currentProvider() {
    MutexLock lock(mutex);
    if (!provider) provider = std::make_shared<KernelReachabilityProvider>();
    return provider;
  }

  void install(std::shared_ptr<ReachabilityProvider> next) {
    std::shared_ptr<ReachabilityProvider> previous;
    bool watching;
    {
      MutexLock lock(mutex);
      previous = std::move(provider);
      provider = std::move(next);
      watching = !scheduled.empty();
    }
    if (previous) previous->setChangeHandler(nullptr);
    if (watching) watch();
  }

  void watch() { currentProvider()->setChangeHandler([] { get().changed(); }); }

  void add(const std::shared_ptr<NetworkReachability>& r) {
    bool first;
    {
      MutexLock lock(mutex);
      std::erase_if(scheduled, [](const auto& w) { return w.expired(); });
      first = scheduled.empty();
      scheduled.push_back(r);
    }
    if (first) watch();
  }

  void remove(const NetworkReachability* r) {
    std::shared_ptr<ReachabilityProvider> stopping;
    {
      MutexLock lock(mutex);
      std::erase_if(scheduled, [r](const auto& w) {
        auto s = w.lock();
        return !s || s.get() == r;
      });
      if (scheduled.empty()) stopping = provider;
    }
    if (stopping) stopping->setChangeHandler(nullptr);
  }

  void changed() {
    std::vector<std::shared_ptr<NetworkReachability>> targets;
    {
      MutexLock lock(mutex);
      for (auto& w : scheduled) {
        if (auto s = w.lock()) targets.push_back(std::move(s));
      }
    }
    for (auto& t : targets) t->checkForChange(false);
  }
};

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(std::string_view name) {
  if (!isHostName(name)) return nullptr;
  ReachabilityTarget target;
  target.name = std::string(name);
  if (auto numeric = numericAddress(target.name)) {
    target.address = numeric;
  } else if (asciiEqualsIgnoringCase(target.name, "localhost")) {
    target.address = numericAddress("127.0.0.1");
  }
  return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(target)));
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithAddress(const sockaddr* address) {
  if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
  ReachabilityTarget target;
  sockaddr_storage copy{};
  std::memcpy(&copy, address, address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
  target.address = copy;
  return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(target)));
}

void NetworkReachability::setProvider(std::shared_ptr<ReachabilityProvider> provider) {
  ReachabilityRegistry::get().install(std::move(provider));
}

std::shared_ptr<ReachabilityProvider> NetworkReachability::provider() {
  return ReachabilityRegistry::get().currentProvider();
}

NetworkReachability::NetworkReachability(ReachabilityTarget target) : target_(std::move(target)) {}

NetworkReachability::~NetworkReachability() { ReachabilityRegistry::get().remove(this); }

std::optional<ReachabilityFlags> NetworkReachability::flags() const { return provider()->flags(target_); }

bool NetworkReachability::setCallback(Callback callback) {
  MutexLock lock(mutex_);
  callback_ = callback ? std::make_shared<Callback>(std::move(callback)) : nullptr;
  ++generation_;
  return true;
}

bool NetworkReachability::setDispatchQueue(std::shared_ptr<DispatchQueue> queue) {
  UniqueLock lock(mutex_);
  bool was = queue_ || runLoop_;
  if (!queue) {
    queue_.reset();
    ++generation_;
    bool still = runLoop_ != nullptr;
    lock.unlock();
    if (!still) ReachabilityRegistry::get().remove(this);
    return true;
  }
  if (!callback_) return false;
  queue_ = std::move(queue);
  runLoop_.reset();
  modes_.clear();
  ++generation_;
  lock.unlock();
  scheduled(was);
  return true;
}

bool NetworkReachability::scheduleWithRunLoop(std::shared_ptr<RunLoop> runLoop, const RunLoopMode& mode) {
  UniqueLock lock(mutex_);
  if (!runLoop || !callback_) return false;
  bool was = queue_ || runLoop_;
  if (runLoop_ != runLoop) modes_.clear();
  runLoop_ = std::move(runLoop);
  if (std::find(modes_.begin(), modes_.end(), mode) == modes_.end()) modes_.push_back(mode);
  queue_.reset();
  ++generation_;
  lock.unlock();
  scheduled(was);
  return true;
}

bool NetworkReachability::unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
  UniqueLock lock(mutex_);
  if (!runLoop || runLoop != runLoop_) return false;
  std::erase(modes_, mode);
  if (!modes_.empty()) return true;
  runLoop_.reset();
  ++generation_;
  lock.unlock();
  ReachabilityRegistry::get().remove(this);
  return true;
}

void NetworkReachability::scheduled(bool wasScheduled) {
  if (!wasScheduled) {
    // Changes are measured from the flags at scheduling time.
    auto now = flags();
    {
      MutexLock again(mutex_);
      lastFlags_ = now;
    }
    ReachabilityRegistry::get().add(shared_from_this());
  }
  if (!target_.name.empty() && !wasScheduled) checkForChange(true);
}

void NetworkReachability::checkForChange(bool force) {
  auto now = flags();
  std::shared_ptr<Callback> callback;
  std::shared_ptr<DispatchQueue> queue;
  std::shared_ptr<RunLoop> runLoop;
  std::vector<RunLoopMode> modes;
  std::uint64_t generation;
  {
    MutexLock lock(mutex_);
    if (!force && now == lastFlags_) return;
    lastFlags_ = now;
    callback = callback_;
    queue = queue_;
    runLoop = runLoop_;
    modes = modes_;
    generation = generation_;
  }
  if (!callback || !now) return;
  std::weak_ptr<NetworkReachability> weak = weak_from_this();
  ReachabilityFlags flags = *now;
  auto deliver = [weak, generation, flags] {
    auto self = weak.lock();
    if (!self) return;
    std::shared_ptr<Callback> current;
    {
      MutexLock lock(self->mutex_);
      if (self->generation_ != generation) return;  // unscheduled or given another callback since
      current = self->callback_;
    }
    if (current && *current) (*current)(*self, flags);
  };
  if (queue) {
    queue->async(std::move(deliver));
  } else if (runLoop) {
    runLoop->perform(std::move(deliver), modes);
  }
}

}  // namespace pf
