#include "platform/net/Loader.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <span>
#include <unordered_map>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/net/BodyDecoder.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/UrlError.h"
#include "platform/security/Certificate.h"
#include "platform/security/Digest.h"
#include "platform/security/Key.h"

namespace pf {

namespace {

constexpr int kMaxRedirects = 16;
// A redirect or 401 answer's body is kept until the client has decided whether it is final.
constexpr std::size_t kMaxCandidateBody = 1u << 20;
constexpr std::size_t kMaxHeadBytes = 256u << 10;
constexpr std::size_t kMaxHeaderFields = 500;
constexpr std::size_t kEasyPoolSize = 64;

std::atomic<std::uint64_t> nextLoadId{1};
// On a loader thread during its pass: the event channels to hand to their executors when the pass
// is over.
thread_local std::vector<std::shared_ptr<LoadEventChannel>>* tLoaderPass = nullptr;
// Evaluator keys live in their own range, apart from load ids and session keys.
std::atomic<std::uint64_t> nextEvaluatorKey{1ull << 62};

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && asciiEqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Whether the Content-Length value agrees with those of the fields before it (a list of equal
// values counts as one).
bool lengthsAgree(const HttpHeaders& earlier, std::string_view value) {
  std::optional<std::string_view> seen;
  auto agrees = [&](std::string_view list) {
    while (!list.empty()) {
      const auto comma = list.find(',');
      const std::string_view one = trimmed(list.substr(0, comma));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      if (seen && *seen != one) return false;
      seen = one;
    }
    return true;
  };
  for (const auto& [name, v] : earlier.fields()) {
    if (asciiEqualsIgnoringCase(name, "Content-Length") && !agrees(v)) return false;
  }
  return agrees(value);
}

bool isRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The strongest HTTP authentication scheme offered (Digest before Basic) and its realm.
struct AuthOffer {
  std::string method;
  long curlAuth = 0;
  std::optional<std::string> realm;
};

std::optional<std::string> realmOf(std::string_view challenge) {
  std::size_t at = 0;
  while ((at = challenge.find('=', at)) != std::string_view::npos) {
    std::size_t nameEnd = at;
    std::size_t nameStart = challenge.find_last_of(" ,\t", nameEnd == 0 ? 0 : nameEnd - 1);
    nameStart = nameStart == std::string_view::npos ? 0 : nameStart + 1;
    if (asciiEqualsIgnoringCase(trimmed(challenge.substr(nameStart, nameEnd - nameStart)), "realm")) {
      std::string_view rest = challenge.substr(at + 1);
      if (!rest.empty() && rest.front() == '"') {
        auto close = rest.find('"', 1);
        return std::string(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      }
      return std::string(trimmed(rest.substr(0, rest.find(','))));
    }
    ++at;
  }
  return std::nullopt;
}

std::optional<AuthOffer> authOffer(const HttpHeaders& headers) {
  std::optional<AuthOffer> basic;
  for (const auto& value : headers.values("WWW-Authenticate")) {
    std::string_view v = trimmed(value);
    if (startsWithIgnoringCase(v, "digest")) {
      return AuthOffer{kAuthenticationMethodHttpDigest, CURLAUTH_DIGEST, realmOf(v)};
    }
    if (startsWithIgnoringCase(v, "basic") && !basic) {
      basic = AuthOffer{kAuthenticationMethodHttpBasic, CURLAUTH_BASIC, realmOf(v)};
    }
  }
  return basic;
}

// The platform's code for libcurl's failure of a hop (whose URL's scheme was checked before it
// began); `headComplete`: the answer's head had ended.
int urlErrorCodeFor(CURLcode code, long osErrno, bool headComplete) {
  using namespace UrlErrorCode;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: return kCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return (osErrno == ENETUNREACH || osErrno == ENETDOWN) ? kNotConnectedToInternet : kCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return kTimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED: return kSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION: return kServerCertificateUntrusted;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return kNetworkConnectionLost;
    case CURLE_URL_MALFORMAT: return kBadUrl;
    // The scheme is known to be HTTP(S): an answer that is no HTTP (no status line, HTTP/0.9).
    case CURLE_UNSUPPORTED_PROTOCOL: return kBadServerResponse;
    // Before the head ended: a header line libcurl refused to keep.
    case CURLE_OUT_OF_MEMORY: return headComplete ? kUnknown : kBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING: return kCannotDecodeContentData;
    case CURLE_WEIRD_SERVER_REPLY: return kBadServerResponse;
    case CURLE_TOO_MANY_REDIRECTS: return kHttpTooManyRedirects;
    case CURLE_READ_ERROR: return kRequestBodyStreamExhausted;
    case CURLE_ABORTED_BY_CALLBACK: return kCancelled;
    default: return kUnknown;
  }
}

// Whether a PEM file is a client identity: a certificate and the private key of its public key.
// A file with a certificate alone (a bundle's CA file, say) is no identity: handing it to libcurl
// would fail every handshake, so it is skipped, with one log line per state of the file.
bool isClientIdentity(const std::string& path) {
  constexpr std::uintmax_t kMaxIdentityFile = 1u << 20;
  static Mutex mutex;
  static std::map<std::string, std::pair<std::string, bool>> known PF_GUARDED_BY(mutex);  // path -> (size and time, verdict)
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  const auto time = error ? std::filesystem::file_time_type{} : std::filesystem::last_write_time(path, error);
  const std::string stamp =
      error ? std::string("missing") : std::to_string(size) + "@" + std::to_string(time.time_since_epoch().count());
  MutexLock lock(mutex);
  auto found = known.find(path);
  if (found != known.end() && found->second.first == stamp) return found->second.second;
  std::string pem;
  if (!error && size <= kMaxIdentityFile) {
    std::ifstream in(path, std::ios::binary);
    pem.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto certificate = Certificate::fromPem(pem);
  auto key = Key::privateKeyFromPem(pem);
  auto certificateKey = certificate ? certificate->publicKey() : std::nullopt;
  const bool identity = certificateKey && key && key->publicKey() == *certificateKey;
  if (!identity) {
    logLine("Client certificate file " + path +
            (certificate ? " holds no matching private key" : " holds no certificate") + "; none is presented");
  }
  known[path] = {stamp, identity};
  return identity;
}

enum class Verdict { Accept, Refuse, Cancel };

Verdict verdictFor(ChallengeDisposition disposition, ServerTrust* trust) {
  switch (disposition) {
    case ChallengeDisposition::UseCredential: return Verdict::Accept;
    case ChallengeDisposition::CancelAuthenticationChallenge: return Verdict::Cancel;
    default: return trust && trust->evaluate().trusted() ? Verdict::Accept : Verdict::Refuse;
  }
}

// What a TLS connection (one SSL object) has been judged: its chain's digest and the verdict of
// every trust key that used it. Lives and dies with the SSL object.
struct ConnectionTrust {
  std::string digest;
  std::map<std::uint64_t, Verdict> verdicts;
};

void freeConnectionTrust(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<ConnectionTrust*>(ptr);
}

int connectionTrustIndex() {
  static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeConnectionTrust);
  return index;
}

ConnectionTrust* connectionTrustOf(SSL* ssl) {
  int index = connectionTrustIndex();
  auto* record = static_cast<ConnectionTrust*>(SSL_get_ex_data(ssl, index));
  if (record) return record;
  record = new ConnectionTrust();
  Bytes all;
  if (STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl)) {
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      unsigned char* der = nullptr;
      int n = i2d_X509(sk_X509_value(chain, i), &der);
      if (n > 0) {
        // Length-prefixed, so that two chains never concatenate to the same bytes.
        for (int shift = 24; shift >= 0; shift -= 8) all.push_back(static_cast<std::uint8_t>(n >> shift));
        all.insert(all.end(), der, der + n);
      }
      OPENSSL_free(der);
    }
  }
  Bytes d = sha256(all);
  record->digest.assign(d.begin(), d.end());
  SSL_set_ex_data(ssl, index, record);
  return record;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Loader

struct Loader::Impl {
  CURLM* multi = nullptr;
  Mutex mutex;
  std::vector<std::function<void()>> commands PF_GUARDED_BY(mutex);
  bool stopping PF_GUARDED_BY(mutex) = false;
  bool polling PF_GUARDED_BY(mutex) = false;  // the loader waits in curl_multi_poll
  // Wakes the loader from its poll: an eventfd among the poll's descriptors costs one write,
  // less than libcurl's own wake-up over a socket pair.
  int wakeFd = -1;

  void wake() const {
    if (wakeFd < 0) {
      curl_multi_wakeup(multi);  // no eventfd to be had
      return;
    }
    std::uint64_t one = 1;
    ssize_t n = ::write(wakeFd, &one, sizeof one);
    (void)n;
  }
  std::thread::id threadId;
  std::vector<CURL*> easyPool;
  // Handles of loads that ended in this pass: made ready for reuse once the pass's events are
  // handed over, so that the work does not stand between an answer and its delivery.
  std::vector<CURL*> retired;

  void recycleRetired() {
    for (CURL* easy : retired) {
      if (easyPool.size() < kEasyPoolSize) {
        curl_easy_reset(easy);
        easyPool.push_back(easy);
      } else {
        curl_easy_cleanup(easy);
      }
    }
    retired.clear();
  }
  // Loads started and not yet ended (their handle in the multi or not).
  std::unordered_map<Load*, std::shared_ptr<Load>> live;
  // When the next idle or total time-out may fall due (real time; see Load::checkTimeout).
  double nextTimeoutScan = kForever;

  void scanTimeouts() {
    double now = Clock::monotonic();
    if (now < nextTimeoutScan) return;
    nextTimeoutScan = kForever;
    std::vector<std::shared_ptr<Load>> loads;
    loads.reserve(live.size());
    for (auto& [load, keep] : live) loads.push_back(keep);
    for (auto& load : loads) nextTimeoutScan = std::min(nextTimeoutScan, load->checkTimeout());
  }

  struct TrustEntry {
    std::uint64_t key;
    std::string host;
    int port;
    std::string digest;
    Verdict verdict;
  };
  std::list<TrustEntry> decisions;  // most recent first

  std::optional<Verdict> rememberedVerdict(std::uint64_t key, const std::string& host, int port,
                                           const std::string& digest) {
    for (auto it = decisions.begin(); it != decisions.end(); ++it) {
      if (it->key == key && it->port == port && it->host == host && it->digest == digest) {
        decisions.splice(decisions.begin(), decisions, it);
        return it->verdict;
      }
    }
    return std::nullopt;
  }
  void remember(std::uint64_t key, const std::string& host, int port, const std::string& digest, Verdict v) {
    decisions.push_front({key, host, port, digest, v});
    if (decisions.size() > kMaxRememberedTrustDecisions) decisions.pop_back();
  }
};

Loader& Loader::shared() {
  static Loader* loader = new Loader();
  return *loader;
}

Loader::Loader() : impl_(std::make_unique<Impl>()) {
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  impl_->multi = curl_multi_init();
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  curl_multi_setopt(impl_->multi, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
  // Keep idle connections for reuse even when few transfers are running at the moment.
  curl_multi_setopt(impl_->multi, CURLMOPT_MAXCONNECTS, 64L);
  thread_ = std::thread([this] { run(); });
}

Loader::~Loader() {
  {
    MutexLock lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake();
  thread_.join();
  for (auto& [load, keep] : impl_->live) {
    if (load->active_) curl_multi_remove_handle(impl_->multi, static_cast<CURL*>(load->easy_));
    load->active_ = false;
  }
  impl_->live.clear();
  impl_->recycleRetired();
  for (CURL* easy : impl_->easyPool) curl_easy_cleanup(easy);
  curl_multi_cleanup(impl_->multi);
  if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
}

void Loader::post(std::function<void()> command) {
  bool wake;
  {
    MutexLock lock(impl_->mutex);
    if (impl_->stopping) return;
    impl_->commands.push_back(std::move(command));
    wake = impl_->polling;
  }
  // A loader that is not waiting looks at its commands before it waits again.
  if (wake) impl_->wake();
}

void Loader::flushChannels(std::vector<std::shared_ptr<LoadEventChannel>>& channels) {
  // An executor that runs its block at once may push again meanwhile: those are handed over too.
  std::vector<std::shared_ptr<LoadEventChannel>> handing;
  while (!channels.empty()) {
    handing.swap(channels);
    for (auto& channel : handing) {
      try {
        channel->schedule();
      } catch (...) {
        logCurrentException("handing URL loading events over");
      }
    }
    handing.clear();
  }
}

bool Loader::isLoaderThread() const { return std::this_thread::get_id() == impl_->threadId; }

void* Loader::acquireEasy() {
  if (impl_->easyPool.empty()) impl_->recycleRetired();
  if (!impl_->easyPool.empty()) {
    CURL* easy = impl_->easyPool.back();
    impl_->easyPool.pop_back();
    return easy;
  }
  return curl_easy_init();
}

void Loader::recycleEasy(void* easy) {
  if (!easy) return;
  impl_->retired.push_back(static_cast<CURL*>(easy));
}

void Loader::run() {
  impl_->threadId = std::this_thread::get_id();
  std::vector<std::function<void()>> batch;
  std::vector<std::shared_ptr<LoadEventChannel>> channels;
  tLoaderPass = &channels;
  for (;;) {
    {
      MutexLock lock(impl_->mutex);
      if (impl_->stopping) return;
      batch.swap(impl_->commands);
    }
    for (auto& command : batch) command();
    batch.clear();

    int running = 0;
    curl_multi_perform(impl_->multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(impl_->multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Load* load = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&load));
      CURLcode result = msg->data.result;
      curl_multi_remove_handle(impl_->multi, msg->easy_handle);
      auto it = impl_->live.find(load);
      if (it == impl_->live.end()) continue;
      std::shared_ptr<Load> keep = it->second;
      load->active_ = false;
      load->onHopDone(static_cast<int>(result));
    }
    flushChannels(channels);
    impl_->recycleRetired();
    int timeoutMs = 1000;
    if (!impl_->live.empty() && !Clock::isVirtual()) {
      impl_->scanTimeouts();
      double wait = impl_->nextTimeoutScan - Clock::monotonic();
      timeoutMs = static_cast<int>(std::clamp(wait * 1000.0 + 1.0, 0.0, 1000.0));
    }
    {
      MutexLock lock(impl_->mutex);
      if (!impl_->commands.empty() || impl_->stopping) continue;
      impl_->polling = true;
    }
    curl_waitfd wakeUp{impl_->wakeFd, CURL_WAIT_POLLIN, 0};
    curl_multi_poll(impl_->multi, &wakeUp, impl_->wakeFd < 0 ? 0 : 1, timeoutMs, nullptr);
    if (wakeUp.revents) {
      std::uint64_t count;
      ssize_t n = ::read(impl_->wakeFd, &count, sizeof count);
      (void)n;
    }
    MutexLock lock(impl_->mutex);
    impl_->polling = false;
  }
}

// ---------------------------------------------------------------------------------------------
// LoadClient defaults

void LoadClient::loadNeedsServerTrustDecision(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) {
  challenge->performDefaultHandling();
}

void LoadClient::loadNeedsAuthentication(Load&, std::shared_ptr<UrlAuthenticationChallenge> challenge) {
  challenge->performDefaultHandling();
}

void LoadClient::loadWillRedirect(Load& load, const UrlResponse&, UrlRequest proposed) {
  load.continueRedirect(std::move(proposed));
}

void LoadClient::loadNeedsNewBodyStream(Load& load) { load.provideBodyStream(nullptr); }

// ---------------------------------------------------------------------------------------------
// Load

struct Load::Hop {
  explicit Hop(Url u) : url(std::move(u)) {}
  ~Hop() { curl_slist_free_all(headerList); }

  Url url;
  curl_slist* headerList = nullptr;
  std::string method;
  std::shared_ptr<HttpBodyStream> stream;
  bool bodyRead = false;
  std::int64_t bodyLength = -1;

  int status = 0;
  HttpHeaders headers;
  std::size_t headBytes = 0;
  bool headStarted = false;
  bool headComplete = false;
  enum class Kind { Final, Redirect, Auth } kind = Kind::Final;
  std::optional<UrlResponse> response;
  Bytes candidateBody;
  bool candidateOverflow = false;
  // The client took this redirect's or challenge's answer as the final one: its kept body goes
  // over piece by piece as the client reads on (bodyBytes of it so far), then the load finishes.
  bool candidateTakenAsFinal = false;
  // Body bytes of the final answer handed to the client so far (decoded).
  std::int64_t bodyBytes = 0;
  // Undoes the answer's Content-Encoding (none without one).
  std::unique_ptr<BodyDecoder> decoder;
  // The transfer ended while received bytes still waited in the decoder for the client to read on.
  bool transferEnded = false;

  enum class Abort {
    None,
    TrustPending,
    TrustRefused,
    TrustCancelled,
    HeadTooLarge,
    ConflictingLength,
    FoldedLength,
    BodyTooLarge,
    Undecodable,
    Client
  } abort = Abort::None;
  std::shared_ptr<ServerTrust> pendingTrust;
  std::string pendingDigest;
};

// The libcurl callbacks of a load (a friend of Load).
// libcurl's callbacks. Nothing may unwind through libcurl: an exception (from a body stream, a
// client, an evaluator) is logged and fails the transfer.
struct LoadCallbacks {
  static std::size_t header(char* data, std::size_t size, std::size_t count, void* user) {
    return callGuarded("a URL load's header callback", std::size_t{0}, [&] {
      auto& load = *static_cast<Load*>(user);
      std::size_t length = size * count;
      load.onHeadLine(data, length);
      return load.hop_->abort == Load::Hop::Abort::None ? length : 0;
    });
  }
  static std::size_t write(char* data, std::size_t size, std::size_t count, void* user) {
    return callGuarded("a URL load's body callback", std::size_t{0},
                       [&] { return static_cast<Load*>(user)->onBody(data, size * count); });
  }
  static std::size_t read(char* data, std::size_t size, std::size_t count, void* user) {
    return callGuarded("a URL load's body stream", std::size_t{CURL_READFUNC_ABORT}, [&]() -> std::size_t {
      auto& hop = *static_cast<Load*>(user)->hop_;
      hop.bodyRead = true;
      if (!hop.stream) return 0;
      std::ptrdiff_t n =
          hop.stream->read(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(data), size * count));
      return n < 0 ? CURL_READFUNC_ABORT : static_cast<std::size_t>(n);
    });
  }
  static int seek(void* user, curl_off_t offset, int origin) {
    return callGuarded("a URL load's body stream", int{CURL_SEEKFUNC_CANTSEEK}, [&] {
      auto& hop = *static_cast<Load*>(user)->hop_;
      if (offset != 0 || origin != SEEK_SET || !hop.stream) return int{CURL_SEEKFUNC_CANTSEEK};
      return hop.stream->rewind() ? int{CURL_SEEKFUNC_OK} : int{CURL_SEEKFUNC_CANTSEEK};
    });
  }
  static int progress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    return callGuarded("a URL load's progress callback", 1,
                       [&] { return static_cast<Load*>(user)->onProgress(ulnow, ultotal, dlnow) ? 0 : 1; });
  }
  static int prerequest(void* user, char*, char*, int, int) {
    auto& load = *static_cast<Load*>(user);
    return callGuarded("a URL load's server trust check", int{CURL_PREREQFUNC_ABORT}, [&] {
      try {
        return load.onPrerequest();
      } catch (...) {
        load.hop_->abort = Load::Hop::Abort::TrustRefused;  // a judge that raised trusts nothing
        throw;
      }
    });
  }
};

KeyedServerTrustEvaluator::KeyedServerTrustEvaluator(ServerTrustEvaluator evaluate)
    : evaluate_(std::move(evaluate)), key_(nextEvaluatorKey++) {}

std::shared_ptr<Load> Load::make(UrlRequest request, LoadOptions options, std::shared_ptr<LoadClient> client,
                                 Loader* loader) {
  return std::shared_ptr<Load>(
      new Load(std::move(request), std::move(options), std::move(client), loader ? *loader : Loader::shared()));
}

Load::Load(UrlRequest request, LoadOptions options, std::shared_ptr<LoadClient> client, Loader& loader)
    : id_(nextLoadId++),
      loader_(loader),
      original_(request),
      options_(std::move(options)),
      client_(std::move(client)),
      request_(std::move(request)) {}

Load::~Load() {
  if (easy_) curl_easy_cleanup(static_cast<CURL*>(easy_));
}

std::shared_ptr<LoadClient> Load::clientIfLive() const {
  MutexLock lock(clientMutex_);
  return client_;
}

void Load::detachClient() {
  std::shared_ptr<LoadClient> dropped;
  MutexLock lock(clientMutex_);
  dropped.swap(client_);
}

void Load::start() {
  if (started_.exchange(true) || cancelled_) return;
  loader_.post([self = shared_from_this()] {
    self->startedAt_ = Clock::monotonic();
    self->beginHop();
  });
}

void Load::cancel() {
  if (cancelled_.exchange(true)) return;
  detachClient();
  // An ended load has let go of its transfer already: nothing to wake the loader for.
  if (ended_.load(std::memory_order_acquire)) return;
  loader_.post([self = shared_from_this()] {
    self->finished_ = true;
    self->releaseHandle();
  });
}

void Load::suspend() {
  loader_.post([self = shared_from_this()] {
    if (self->suspended_ || self->finished_) return;
    self->suspended_ = true;
    if (self->active_) curl_easy_pause(static_cast<CURL*>(self->easy_), CURLPAUSE_ALL);
  });
}

void Load::resume() {
  loader_.post([self = shared_from_this()] {
    if (!self->suspended_ || self->finished_) return;
    self->suspended_ = false;
    self->markActivity();
    if (self->active_) {
      // Sending goes on; receiving waits until readOn() finds nothing held.
      self->curlPausedReceiving_ = true;
      curl_easy_pause(static_cast<CURL*>(self->easy_), CURLPAUSE_RECV);
    }
    self->readOn();
  });
}

void Load::resumeReceiving() {
  loader_.post([self = shared_from_this()] {
    if (self->holdReceiving_) {
      auto client = self->clientIfLive();
      if (client && !client->loadMayReadOn(*self)) return;
    }
    self->holdReceiving_ = false;
    self->readOn();
  });
}

void Load::readOn() {
  if (finished_ || cancelled_ || suspended_ || holdReceiving_ || !hop_) return;
  Hop& hop = *hop_;
  if (hop.candidateTakenAsFinal) {
    handOverKeptBody();
    return;
  }
  // (A redirect's or a challenge's body is never held for the client: its decoder holds only what
  // is no longer kept.)
  if (hop.kind == Hop::Kind::Final && hop.decoder && hop.decoder->holding()) {
    // What the decoder kept comes first, one piece after another, for as long as the client takes them.
    markActivity();
    if (!decodeBody({})) {
      endAbortedHop();
      return;
    }
    if (finished_ || holdReceiving_ || hop.decoder->holding()) return;
  }
  if (hop.transferEnded) {
    if (!failIfBodyCut()) finish();
    return;
  }
  if (curlPausedReceiving_ && active_) {
    curlPausedReceiving_ = false;
    // libcurl hands the bytes it kept to onBody inside this call. Where they end the hop there (the
    // limit passed, bytes that do not decode), libcurl may go on with the transfer all the same: the
    // hop ends here.
    curl_easy_pause(static_cast<CURL*>(easy_), CURLPAUSE_CONT);
    if (!finished_ && hop_->abort != Hop::Abort::None) endAbortedHop();
  }
}

void Load::continueRedirect(std::optional<UrlRequest> request) {
  loader_.post([self = shared_from_this(), request = std::move(request)]() mutable {
    if (self->finished_ || !self->waitingForClient_ || !self->hop_ || self->hop_->kind != Hop::Kind::Redirect) return;
    self->waitingForClient_ = false;
    self->markActivity();
    if (request) {
      self->followRedirect(std::move(*request));
    } else {
      self->deliverCandidateAsFinal();
    }
  });
}

void Load::provideBodyStream(std::shared_ptr<HttpBodyStream> stream) {
  loader_.post([self = shared_from_this(), stream = std::move(stream)] {
    if (self->finished_ || !self->waitingForClient_) return;
    self->waitingForClient_ = false;
    if (!stream) {
      self->failWithCode(UrlErrorCode::kRequestBodyStreamExhausted);
      return;
    }
    self->request_.setHttpBodyStream(stream);
    self->markActivity();
    self->beginHop();
  });
}

void Load::markActivity() { lastActivity_ = Clock::monotonic(); }

void Load::scheduleTimeoutCheck(double delay) {
  if (delay == kForever) return;
  if (!Clock::isVirtual()) {
    // Real time: the loader's own scan (its poll waits no longer than the next due date).
    loader_.impl_->nextTimeoutScan = std::min(loader_.impl_->nextTimeoutScan, Clock::monotonic() + delay);
    return;
  }
  // Virtual time: a delayed block on the clock wakes the loader when a test advances it.
  if (timeoutCheckScheduled_) return;
  timeoutCheckScheduled_ = true;
  std::weak_ptr<Load> weak = weak_from_this();
  static auto* timers = new std::shared_ptr<DispatchQueue>(DispatchQueue::makeSerial("url-loading.timeouts"));
  Loader* loader = &loader_;
  (*timers)->after(std::max(delay, 0.001), [weak, loader] {
    auto self = weak.lock();
    if (!self) return;  // finished_ belongs to the loader thread: checkTimeout reads it there
    loader->post([self] {
      self->timeoutCheckScheduled_ = false;
      self->checkTimeout();
    });
  });
}

double Load::checkTimeout() {
  if (finished_ || cancelled_) return kForever;
  double now = Clock::monotonic();
  double idle = request_.timeoutInterval();
  double next = kForever;
  if (idle > 0 && !suspended_) {
    if (now - lastActivity_ >= idle) {
      failWithCode(UrlErrorCode::kTimedOut);
      return kForever;
    }
    next = lastActivity_ + idle - now;
  } else if (idle > 0) {
    next = idle;
  }
  if (options_.resourceTimeout > 0) {
    if (now - startedAt_ >= options_.resourceTimeout) {
      failWithCode(UrlErrorCode::kTimedOut);
      return kForever;
    }
    next = std::min(next, startedAt_ + options_.resourceTimeout - now);
  }
  if (Clock::isVirtual()) scheduleTimeoutCheck(next);
  return next == kForever ? kForever : now + next;
}

void Load::beginHop() {
  if (finished_ || cancelled_) return;
  const auto& url = request_.url();
  if (!url) {
    failWithCode(UrlErrorCode::kBadUrl);
    return;
  }
  if (!url->isHttp()) {
    failWithCode(UrlErrorCode::kUnsupportedUrl);
    return;
  }
  auto* easy = static_cast<CURL*>(easy_);
  if (easy) {
    curl_easy_reset(easy);
  } else {
    easy = static_cast<CURL*>(loader_.acquireEasy());
    easy_ = easy;
  }
  if (!easy) {
    failWithCode(UrlErrorCode::kUnknown, "cannot make a transfer");
    return;
  }
  hop_ = std::make_unique<Hop>(*url);
  Hop& hop = *hop_;
  hop.method = request_.httpMethod();
  lastUploaded_ = -1;

  std::string wire = url->withoutCredentials();
  curl_easy_setopt(easy, CURLOPT_URL, wire.c_str());
  curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  // The codings are offered, and undone here (BodyDecoder), not by libcurl.
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, LoadCallbacks::header);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, LoadCallbacks::write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, LoadCallbacks::prerequest);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);

  // Method and body.
  const bool hasBody = request_.httpBody().has_value() || request_.httpBodyStream() != nullptr;
  const std::string& method = hop.method;
  bool chunked = false;
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (hasBody || method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    if (const auto& stream = request_.httpBodyStream()) {
      hop.stream = stream;
      auto length = stream->length();
      hop.bodyLength = length.value_or(-1);
      chunked = !length;
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, LoadCallbacks::read);
      curl_easy_setopt(easy, CURLOPT_READDATA, this);
      curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, LoadCallbacks::seek);
      curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length.value_or(-1)));
    } else {
      static const Bytes kEmpty;
      const Bytes& body = request_.httpBody() ? *request_.httpBody() : kEmpty;
      hop.bodyLength = static_cast<std::int64_t>(body.size());
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.empty() ? "" : reinterpret_cast<const char*>(body.data()));
    }
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  // Upload progress (and upload activity for the idle time-out) and the received bytes a limit
  // counts; a load with neither needs no progress calls.
  if (hasBody || method == "POST" || options_.maximumBodyLength > 0) {
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, LoadCallbacks::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  }

  // Header fields.
  auto addField = [&](std::string_view name, std::string_view value) {
    if (name.empty() || hasLineBreak(name) || hasLineBreak(value) || name.find(':') != std::string_view::npos) return;
    std::string line(name);
    if (value.empty()) {
      line += ';';  // libcurl's way of sending a field with an empty value
    } else {
      line += ": ";
      line += value;
    }
    hop.headerList = curl_slist_append(hop.headerList, line.c_str());
  };
  const HttpHeaders& fields = request_.allHttpHeaderFields();
  for (const auto& [name, value] : fields.fields()) addField(name, value);
  for (const auto& [name, value] : options_.additionalHeaders.fields()) {
    if (!fields.contains(name)) addField(name, value);
  }
  auto has = [&](std::string_view name) { return fields.contains(name) || options_.additionalHeaders.contains(name); };
  if (hasBody && !has("Content-Type")) addField("Content-Type", "application/x-www-form-urlencoded");
  if (chunked && !has("Transfer-Encoding")) addField("Transfer-Encoding", "chunked");
  if (!has("Expect")) hop.headerList = curl_slist_append(hop.headerList, "Expect:");
  if (options_.handleCookies && request_.httpShouldHandleCookies() && !has("Cookie")) {
    if (auto cookies = CookieStorage::shared().requestHeaderValue(*url)) addField("Cookie", *cookies);
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, hop.headerList);

  // Server trust.
  if (url->scheme() == "https") {
    // A deployment adds its own CA the way OpenSSL is configured everywhere else (SSL_CERT_FILE,
    // SSL_CERT_DIR), so libcurl's chain check and the platform's trust evaluation agree.
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) curl_easy_setopt(easy, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir) curl_easy_setopt(easy, CURLOPT_CAPATH, dir);
    if (options_.trust != LoadOptions::Trust::System) {
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    if (options_.clientCertificatePath && isClientIdentity(*options_.clientCertificatePath)) {
      curl_easy_setopt(easy, CURLOPT_SSLCERT, options_.clientCertificatePath->c_str());
      curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
      curl_easy_setopt(easy, CURLOPT_SSLKEY, options_.clientCertificatePath->c_str());
    }
  }

  // HTTP authentication.
  if (credential_) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, credential_->user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, credential_->password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                     credentialScheme_ == kAuthenticationMethodHttpDigest ? CURLAUTH_DIGEST : CURLAUTH_BASIC);
  }

  if (suspended_) curl_easy_pause(easy, CURLPAUSE_ALL);
  CURLMcode added = curl_multi_add_handle(loader_.impl_->multi, easy);
  if (added != CURLM_OK) {
    failWithCode(UrlErrorCode::kUnknown, curl_multi_strerror(added));
    return;
  }
  active_ = true;
  loader_.impl_->live.emplace(this, shared_from_this());
  markActivity();
  if (request_.timeoutInterval() > 0 || options_.resourceTimeout > 0) {
    double first = request_.timeoutInterval() > 0 ? request_.timeoutInterval() : options_.resourceTimeout;
    if (options_.resourceTimeout > 0) first = std::min(first, options_.resourceTimeout);
    scheduleTimeoutCheck(first);
  }
}

void Load::onHeadLine(const char* data, std::size_t length) {
  Hop& hop = *hop_;
  markActivity();
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    // A new answer: an interim one, or one after libcurl's own authentication round trip.
    hop.headers.clear();
    hop.headBytes = length;
    hop.headStarted = true;
    hop.headComplete = false;
    hop.kind = Hop::Kind::Final;
    hop.candidateBody.clear();
    hop.candidateOverflow = false;
    hop.decoder.reset();
    hop.status = 0;
    auto space = line.find(' ');
    if (space != std::string_view::npos && line.size() >= space + 4) {
      std::string_view code = line.substr(space + 1, 3);
      if (std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        hop.status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
      }
    }
    return;
  }
  if (!hop.headStarted || hop.headComplete) return;  // trailers after a chunked body
  hop.headBytes += length;
  if (hop.headBytes > kMaxHeadBytes || hop.headers.size() >= kMaxHeaderFields) {
    hop.abort = Hop::Abort::HeadTooLarge;
    return;
  }
  if (line.empty()) {
    onHeadComplete();
    return;
  }
  if ((line.front() == ' ' || line.front() == '\t') && !hop.headers.empty()) {
    // A folded continuation line. One of a length would end the body elsewhere than the length
    // libcurl reads from the first line.
    if (asciiEqualsIgnoringCase(hop.headers.fields().back().first, "Content-Length")) {
      hop.abort = Hop::Abort::FoldedLength;
      return;
    }
    auto fields = hop.headers.fields();
    hop.headers.clear();
    fields.back().second += " ";
    fields.back().second += trimmed(line);
    for (auto& [n, v] : fields) hop.headers.append(n, v);
    return;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  const std::string_view name = trimmed(line.substr(0, colon));
  const std::string_view value = trimmed(line.substr(colon + 1));
  if (asciiEqualsIgnoringCase(name, "Content-Length") && !lengthsAgree(hop.headers, value)) {
    // Two lengths for one body: which one ends it is anybody's guess (a smuggling trick).
    hop.abort = Hop::Abort::ConflictingLength;
    return;
  }
  hop.headers.append(name, value);
}

void Load::onHeadComplete() {
  Hop& hop = *hop_;
  if (hop.status >= 100 && hop.status < 200) {
    hop.headers.clear();
    hop.headStarted = false;
    return;
  }
  hop.headComplete = true;
  if (hop.status == 0) return;
  if (options_.handleCookies && request_.httpShouldHandleCookies()) {
    CookieStorage::shared().storeFromResponse(hop.headers, hop.url);
  }
  hop.response.emplace(hop.url, hop.status, hop.headers);
  hop.kind = Hop::Kind::Final;
  hop.decoder = BodyDecoder::forAnswer(hop.headers);
  // An answer that has no body (to a HEAD, a 204 or 304) may announce any length.
  const bool bodyless = hop.method == "HEAD" || hop.status == 204 || hop.status == 304;
  if (!bodyless && beyondBodyLimit(hop.response->expectedContentLength())) {
    hop.abort = Hop::Abort::BodyTooLarge;
    return;
  }
  if (isRedirectStatus(hop.status)) {
    if (auto location = hop.headers.value("Location")) {
      if (Url::parse(*location, hop.url)) hop.kind = Hop::Kind::Redirect;
    }
  } else if (hop.status == 401 && authOffer(hop.headers)) {
    hop.kind = Hop::Kind::Auth;
  }
  if (hop.kind == Hop::Kind::Final) deliverResponse(*hop.response);
}

std::size_t Load::onBody(const char* data, std::size_t length) {
  Hop& hop = *hop_;
  markActivity();
  if (cancelled_) return 0;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data), length);
  if (hop.kind != Hop::Kind::Final) {
    if (hop.candidateOverflow) return length;  // not kept, nor decoded any further
    auto keep = [&hop](std::span<const std::uint8_t> piece) {
      if (hop.candidateBody.size() + piece.size() > kMaxCandidateBody) {
        hop.candidateOverflow = true;
        return false;
      }
      hop.candidateBody.insert(hop.candidateBody.end(), piece.begin(), piece.end());
      return true;
    };
    if (!hop.decoder) {
      keep(bytes);
    } else if (!hop.decoder->decode(bytes, [&](Bytes&& piece) { return keep(piece); })) {
      hop.abort = Hop::Abort::Undecodable;
      return 0;
    }
    return length;
  }
  if (hop.abort != Hop::Abort::None) return 0;  // the hop ends: nothing more is read
  if (!holdReceiving_ && !(hop.decoder && hop.decoder->holding())) {
    auto client = clientIfLive();
    if (client && !client->loadMayReadOn(*this)) holdReceiving_ = true;
  }
  if (holdReceiving_ || (hop.decoder && hop.decoder->holding())) {
    // libcurl keeps these bytes and hands them over again when receiving is resumed (readOn).
    curlPausedReceiving_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (!hop.decoder) {
    auto client = clientIfLive();
    if (!client) return 0;
    handOver(*client, Bytes(bytes.begin(), bytes.end()));
    return hop.abort == Hop::Abort::None ? length : 0;
  }
  return decodeBody(bytes) ? length : 0;
}

bool Load::handOver(LoadClient& client, Bytes&& piece) {
  Hop& hop = *hop_;
  if (beyondBodyLimit(hop.bodyBytes + static_cast<std::int64_t>(piece.size()))) {
    hop.abort = Hop::Abort::BodyTooLarge;
    return false;
  }
  hop.bodyBytes += static_cast<std::int64_t>(piece.size());
  if (!client.loadDidReceiveData(*this, std::move(piece))) holdReceiving_ = true;
  return !holdReceiving_ && !cancelled_;
}

bool Load::decodeBody(std::span<const std::uint8_t> received) {
  Hop& hop = *hop_;
  auto client = clientIfLive();
  if (!client) return false;
  // One received piece may decode to any number of pieces: the client's wish to hold, the limit or
  // a cancel takes effect after the piece that asked for it, and the rest waits in the decoder.
  const bool decoded = hop.decoder->decode(received, [&](Bytes&& piece) { return handOver(*client, std::move(piece)); });
  if (hop.abort != Hop::Abort::None) return false;
  if (!decoded) {
    hop.abort = Hop::Abort::Undecodable;
    return false;
  }
  return true;
}

bool Load::onProgress(std::int64_t uploaded, std::int64_t, std::int64_t downloaded) {
  if (!hop_) return true;
  // The bytes as received, before any decoding: a compressed body that inflates to little (or to
  // nothing) is held to the limit as well, and so is the body of a redirect or a challenge, which is
  // not kept but would be read for as long as it comes.
  if (beyondBodyLimit(downloaded)) {
    hop_->abort = Hop::Abort::BodyTooLarge;
    return false;
  }
  if (uploaded <= 0 || uploaded == lastUploaded_) return true;
  std::int64_t sent = uploaded - std::max<std::int64_t>(lastUploaded_, 0);
  lastUploaded_ = uploaded;
  markActivity();
  if (auto client = clientIfLive()) client->loadDidSendBodyData(*this, sent, uploaded, hop_->bodyLength);
  return true;
}

int Load::onPrerequest() {
  Hop& hop = *hop_;
  if (options_.trust == LoadOptions::Trust::System || hop.url.scheme() != "https") return CURL_PREREQFUNC_OK;
  curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
      info->backend != CURLSSLBACKEND_OPENSSL || !info->internals) {
    hop.abort = Hop::Abort::TrustRefused;
    return CURL_PREREQFUNC_ABORT;
  }
  auto* ssl = static_cast<SSL*>(info->internals);
  ConnectionTrust* record = connectionTrustOf(ssl);
  const std::uint64_t key = options_.trust == LoadOptions::Trust::Evaluator
                                ? (options_.evaluator ? options_.evaluator->key() : (id_ | (1ull << 63)))
                                : (options_.trustKey ? options_.trustKey : (id_ | (1ull << 63)));
  const std::string& host = hop.url.host();
  const int port = hop.url.effectivePort();
  auto known = record->verdicts.find(key);
  Verdict verdict;
  if (known != record->verdicts.end()) {
    verdict = known->second;
  } else {
    auto trust = std::make_shared<ServerTrust>(
        ServerTrust::fromNativeChain(SSL_get_peer_cert_chain(ssl), TrustPolicy::sslServer(host)));
    if (options_.trust == LoadOptions::Trust::Evaluator) {
      ChallengeDisposition d = options_.evaluator && *options_.evaluator
                                   ? (*options_.evaluator)(*trust, host)
                                   : ChallengeDisposition::PerformDefaultHandling;
      verdict = verdictFor(d, trust.get());
    } else if (auto remembered = loader_.impl_->rememberedVerdict(key, host, port, record->digest)) {
      verdict = *remembered;
    } else {
      hop.abort = Hop::Abort::TrustPending;
      hop.pendingTrust = std::move(trust);
      hop.pendingDigest = record->digest;
      return CURL_PREREQFUNC_ABORT;
    }
    if (verdict != Verdict::Cancel) record->verdicts[key] = verdict;
  }
  if (verdict == Verdict::Accept) return CURL_PREREQFUNC_OK;
  hop.abort = verdict == Verdict::Refuse ? Hop::Abort::TrustRefused : Hop::Abort::TrustCancelled;
  return CURL_PREREQFUNC_ABORT;
}

bool Load::endAbortedHop() {
  Hop& hop = *hop_;
  switch (hop.abort) {
    case Hop::Abort::TrustPending: askTrust(hop.pendingTrust); return true;
    case Hop::Abort::TrustRefused: failWithCode(UrlErrorCode::kServerCertificateUntrusted); return true;
    case Hop::Abort::TrustCancelled: failWithCode(options_.challengeCancelCode); return true;
    case Hop::Abort::HeadTooLarge: failWithCode(UrlErrorCode::kBadServerResponse, "header too large"); return true;
    case Hop::Abort::ConflictingLength:
      failWithCode(UrlErrorCode::kBadServerResponse, "conflicting Content-Length fields");
      return true;
    case Hop::Abort::FoldedLength:
      failWithCode(UrlErrorCode::kBadServerResponse, "a Content-Length folded over two lines");
      return true;
    case Hop::Abort::Undecodable:
      failWithCode(UrlErrorCode::kCannotDecodeContentData, "the body does not decode in its Content-Encoding");
      return true;
    case Hop::Abort::BodyTooLarge:
      failWithCode(UrlErrorCode::kDataLengthExceedsMaximum,
                   "the answer is longer than " + std::to_string(options_.maximumBodyLength) + " bytes");
      return true;
    case Hop::Abort::Client: return true;
    case Hop::Abort::None: return false;
  }
  return false;
}

void Load::onHopDone(int curlResult) {
  if (cancelled_ || finished_) return;
  Hop& hop = *hop_;
  if (endAbortedHop()) return;
  auto result = static_cast<CURLcode>(curlResult);
  if (result != CURLE_OK) {
    long osErrno = 0;
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_OS_ERRNO, &osErrno);
    failWithCode(urlErrorCodeFor(result, osErrno, hop.headComplete), curl_easy_strerror(result));
    return;
  }
  if (!hop.response) {
    failWithCode(UrlErrorCode::kBadServerResponse);
    return;
  }
  switch (hop.kind) {
    case Hop::Kind::Final:
      if (hop.decoder && hop.decoder->holding()) {
        // Received bytes wait undecoded for the client: the answer ends once it has read them.
        hop.transferEnded = true;
        return;
      }
      if (failIfBodyCut()) return;
      finish();
      return;
    case Hop::Kind::Auth: askAuthentication(); return;
    case Hop::Kind::Redirect: break;
  }
  // A redirect: the request the platform proposes.
  const UrlResponse& response = *hop.response;
  auto target = Url::parse(*response.valueForHttpHeaderField("Location"), hop.url);
  if (redirects_ >= kMaxRedirects) {
    failWithCode(UrlErrorCode::kHttpTooManyRedirects);
    return;
  }
  if (refuseInsecureRedirect(hop.url, *target)) return;
  UrlRequest next = request_;
  next.setUrl(*target);
  int status = response.statusCode();
  bool toGet = (status == 303 && hop.method != "HEAD") || ((status == 301 || status == 302) && hop.method == "POST");
  if (toGet) {
    next.setHttpMethod("GET");
    next.setHttpBody(std::nullopt);
    next.setHttpBodyStream(nullptr);
    next.setValue(std::nullopt, "Content-Type");
    next.setValue(std::nullopt, "Content-Length");
    next.setValue(std::nullopt, "Transfer-Encoding");
  }
  if (target->host() != hop.url.host() || target->scheme() != hop.url.scheme() ||
      target->effectivePort() != hop.url.effectivePort()) {
    next.setValue(std::nullopt, "Authorization");
  }
  if (options_.clientDecidesRedirects) {
    if (auto client = clientIfLive()) {
      waitingForClient_ = true;
      client->loadWillRedirect(*this, response, std::move(next));
    }
    return;
  }
  followRedirect(std::move(next));
}

void Load::followRedirect(UrlRequest next) {
  if (request_.url() && next.url() && refuseInsecureRedirect(*request_.url(), *next.url())) return;
  ++redirects_;
  bool sameOrigin = next.url() && request_.url() && next.url()->host() == request_.url()->host() &&
                    next.url()->effectivePort() == request_.url()->effectivePort();
  request_ = std::move(next);
  if (!sameOrigin) {
    credential_.reset();
    urlCredentialTried_ = false;
    authFailures_ = 0;
  }
  retryHop();
}

bool Load::refuseInsecureRedirect(const Url& from, const Url& to) {
  if (!asciiEqualsIgnoringCase(from.scheme(), "https") || asciiEqualsIgnoringCase(to.scheme(), "https")) return false;
  failWithCode(UrlErrorCode::kSecureConnectionRequired, "a redirect from https to " + to.scheme());
  return true;
}

bool Load::prepareBodyForRetry() {
  if (!hop_ || !hop_->bodyRead) return true;
  const auto& stream = request_.httpBodyStream();
  if (!stream || stream->rewind()) return true;
  auto client = clientIfLive();
  if (!client) return false;
  waitingForClient_ = true;
  client->loadNeedsNewBodyStream(*this);
  return false;
}

void Load::retryHop() {
  if (prepareBodyForRetry()) beginHop();
}

void Load::askTrust(std::shared_ptr<ServerTrust> trust) {
  auto client = clientIfLive();
  if (!client) return;
  const Url& url = hop_->url;
  UrlProtectionSpace space{url.host(), url.effectivePort(), url.scheme(), std::nullopt,
                           kAuthenticationMethodServerTrust, trust};
  std::weak_ptr<Load> weak = weak_from_this();
  Loader* loader = &loader_;
  std::string digest = hop_->pendingDigest;
  auto challenge = std::make_shared<UrlAuthenticationChallenge>(
      std::move(space), 0, std::nullopt, std::nullopt,
      [weak, loader, trust, digest](ChallengeDisposition d, std::optional<UrlCredential>) {
        if (weak.expired()) return;
        loader->post([weak, trust, digest, d] {
          if (auto self = weak.lock()) self->answerTrust(d, trust, digest);
        });
      });
  waitingForClient_ = true;
  client->loadNeedsServerTrustDecision(*this, std::move(challenge));
}

void Load::answerTrust(ChallengeDisposition disposition, std::shared_ptr<ServerTrust> trust, std::string digest) {
  if (finished_ || cancelled_ || !waitingForClient_) return;
  waitingForClient_ = false;
  markActivity();
  Verdict verdict = verdictFor(disposition, trust.get());
  if (verdict == Verdict::Cancel) {
    failWithCode(options_.challengeCancelCode);
    return;
  }
  const Url& url = hop_->url;
  std::uint64_t key = options_.trustKey ? options_.trustKey : (id_ | (1ull << 63));
  loader_.impl_->remember(key, url.host(), url.effectivePort(), digest, verdict);
  if (verdict == Verdict::Refuse) {
    failWithCode(UrlErrorCode::kServerCertificateUntrusted);
    return;
  }
  beginHop();
}

void Load::askAuthentication() {
  const UrlResponse& response = *hop_->response;
  if (credential_) ++authFailures_;
  auto offer = authOffer(response.allHeaderFields());
  std::optional<UrlCredential> proposed;
  if (const auto& user = hop_->url.user()) {
    proposed = UrlCredential::withUser(*user, hop_->url.password().value_or(""));
  }
  credentialScheme_ = offer->method;
  if (!options_.clientHandlesAuthentication) {
    waitingForClient_ = true;
    answerAuthentication(ChallengeDisposition::PerformDefaultHandling, std::nullopt);
    return;
  }
  auto client = clientIfLive();
  if (!client) return;
  const Url& url = hop_->url;
  UrlProtectionSpace space{url.host(), url.effectivePort(), url.scheme(), offer->realm, offer->method, nullptr};
  std::weak_ptr<Load> weak = weak_from_this();
  Loader* loader = &loader_;
  auto challenge = std::make_shared<UrlAuthenticationChallenge>(
      std::move(space), authFailures_, response, proposed,
      [weak, loader](ChallengeDisposition d, std::optional<UrlCredential> credential) {
        if (weak.expired()) return;
        loader->post([weak, d, credential = std::move(credential)]() mutable {
          if (auto self = weak.lock()) self->answerAuthentication(d, std::move(credential));
        });
      });
  waitingForClient_ = true;
  client->loadNeedsAuthentication(*this, std::move(challenge));
}

void Load::answerAuthentication(ChallengeDisposition disposition, std::optional<UrlCredential> credential) {
  if (finished_ || cancelled_ || !waitingForClient_) return;
  waitingForClient_ = false;
  markActivity();
  switch (disposition) {
    case ChallengeDisposition::UseCredential:
      if (credential && credential->serverTrust == nullptr) {
        credential_ = std::move(credential);
        retryHop();
      } else {
        deliverCandidateAsFinal();
      }
      return;
    case ChallengeDisposition::PerformDefaultHandling:
      if (!urlCredentialTried_ && hop_->url.user()) {
        urlCredentialTried_ = true;
        credential_ = UrlCredential::withUser(*hop_->url.user(), hop_->url.password().value_or(""));
        retryHop();
      } else {
        deliverCandidateAsFinal();
      }
      return;
    case ChallengeDisposition::CancelAuthenticationChallenge: failWithCode(options_.challengeCancelCode); return;
    case ChallengeDisposition::RejectProtectionSpace:
    case ChallengeDisposition::ContinueWithoutCredential: deliverCandidateAsFinal(); return;
  }
}

void Load::deliverResponse(const UrlResponse& response) {
  responseDelivered_ = true;
  if (auto client = clientIfLive()) client->loadDidReceiveResponse(*this, response);
}

bool Load::failIfBodyCut() {
  if (!hop_->decoder || hop_->decoder->complete()) return false;
  // The framing ended but the compressed stream did not: the body was cut short, as a body whose
  // connection ends before its length.
  failWithCode(UrlErrorCode::kNetworkConnectionLost, "the compressed body ends before its stream does");
  return true;
}

void Load::deliverCandidateAsFinal() {
  if (hop_->candidateOverflow || beyondBodyLimit(static_cast<std::int64_t>(hop_->candidateBody.size()))) {
    failWithCode(UrlErrorCode::kDataLengthExceedsMaximum);
    return;
  }
  if (failIfBodyCut()) return;
  hop_->candidateTakenAsFinal = true;
  deliverResponse(*hop_->response);
  readOn();
}

void Load::handOverKeptBody() {
  Hop& hop = *hop_;
  auto client = clientIfLive();
  if (!client) {
    finish();
    return;
  }
  markActivity();
  const auto size = static_cast<std::int64_t>(hop.candidateBody.size());
  while (hop.bodyBytes < size) {
    if (!client->loadMayReadOn(*this)) {
      holdReceiving_ = true;
      return;
    }
    const auto from = hop.candidateBody.begin() + hop.bodyBytes;
    const auto piece = std::min(static_cast<std::int64_t>(BodyDecoder::kPiece), size - hop.bodyBytes);
    // The whole body was held to the limit before the response: only a hold or a cancel stops here.
    if (!handOver(*client, Bytes(from, from + piece))) return;
  }
  Bytes().swap(hop.candidateBody);
  finish();
}

void Load::releaseHandle() {
  auto keep = shared_from_this();
  if (active_) {
    curl_multi_remove_handle(loader_.impl_->multi, static_cast<CURL*>(easy_));
    active_ = false;
  }
  loader_.impl_->live.erase(this);
  if (easy_) {
    loader_.recycleEasy(easy_);
    easy_ = nullptr;
  }
}

void Load::finish() {
  if (finished_) return;
  finished_ = true;
  releaseHandle();
  ended_.store(true, std::memory_order_release);
  if (auto client = clientIfLive()) client->loadDidFinish(*this);
  detachClient();
}

void Load::fail(const Error& error) {
  if (finished_) return;
  finished_ = true;
  releaseHandle();
  ended_.store(true, std::memory_order_release);
  if (auto client = clientIfLive()) client->loadDidFail(*this, error);
  detachClient();
}

void Load::failWithCode(int code, std::string detail) {
  fail(makeUrlError(code, hop_ ? std::optional<Url>(hop_->url) : request_.url(), std::move(detail)));
}

void appendBodyBytes(Bytes& body, std::span<const std::uint8_t> bytes, std::size_t limit) {
  const std::size_t needed = body.size() + bytes.size();
  if (needed > body.capacity()) body.reserve(std::max(needed, std::min(std::bit_ceil(needed), limit)));
  body.insert(body.end(), bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------------------------------------
// LoadEventChannel

bool LoadEventChannel::push(std::function<void()> event, std::size_t bytes) {
  bool schedule = false;
  bool below = true;
  {
    MutexLock lock(mutex_);
    if (closed_.load(std::memory_order_relaxed)) return true;
    items_.push_back({std::move(event), bytes});
    pendingBytes_ += bytes;
    if (pendingBytes_ >= kHighWater) throttled_ = true;
    below = pendingBytes_ < kHighWater;
    if (!scheduled_) scheduled_ = schedule = true;
  }
  if (!schedule) return below;
  if (tLoaderPass) {
    // On the loader thread: handed to the executor once the loader's pass is over, with every
    // other event of the pass (one wake-up of the receiving thread, not one per event).
    tLoaderPass->push_back(shared_from_this());
  } else {
    this->schedule();
  }
  return below;
}

void LoadEventChannel::schedule() {
  executor_([self = shared_from_this()] { self->drain(); });
}

void LoadEventChannel::setOnDrained(std::function<void()> onDrained) {
  MutexLock lock(mutex_);
  onDrained_ = std::move(onDrained);
}

void LoadEventChannel::close() {
  std::vector<Item> dropped;
  std::function<void()> drainedHook;
  MutexLock lock(mutex_);
  closed_.store(true, std::memory_order_release);
  dropped.swap(items_);
  pendingBytes_ = 0;
  drainedHook.swap(onDrained_);
}

bool LoadEventChannel::isClosed() const { return closed_.load(std::memory_order_acquire); }

bool LoadEventChannel::isDelivering() const {
  MutexLock lock(mutex_);
  return deliveringThread_ == std::this_thread::get_id();
}

bool LoadEventChannel::isThrottled() const {
  MutexLock lock(mutex_);
  return throttled_;
}

std::size_t LoadEventChannel::pendingBytes() const {
  MutexLock lock(mutex_);
  return pendingBytes_;
}

void LoadEventChannel::drain() {
  // Everything queued so far runs in this call, taken under one lock; what arrives meanwhile gets
  // the next call, so a busy channel cannot hold its executor for ever.
  std::vector<Item> batch;
  {
    MutexLock lock(mutex_);
    if (closed_.load(std::memory_order_relaxed)) {
      scheduled_ = false;
      return;
    }
    batch.swap(items_);
    deliveringThread_ = std::this_thread::get_id();
  }
  std::size_t delivered = 0;
  for (auto& item : batch) {
    if (closed_.load(std::memory_order_acquire)) break;
    try {
      item.event();
    } catch (...) {
      // One raising event must not stop the connection's later ones.
      logCurrentException("a URL loading event");
    }
    delivered += item.bytes;
    item.event = nullptr;  // what the event holds goes now, not with the batch
  }
  std::function<void()> drained;
  bool again = false;
  {
    MutexLock lock(mutex_);
    deliveringThread_ = {};
    if (closed_.load(std::memory_order_relaxed)) {
      scheduled_ = false;
    } else {
      pendingBytes_ -= std::min(pendingBytes_, delivered);
      if (throttled_ && pendingBytes_ <= kHighWater / 4) {
        throttled_ = false;
        drained = onDrained_;
      }
      again = !items_.empty();
      scheduled_ = again;
    }
  }
  if (drained) drained();
  if (again) schedule();
}

}  // namespace pf
