#pragma once
// The shared cookie jar of URL loading. Thread-safe. Expired cookies are never answered and are
// dropped as they are met; the jar holds at most kMaxCookies cookies, kMaxCookiesPerDomain per
// domain (the oldest go first).

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Cookie.h"

namespace pf {

class CookieStorage {
 public:
  static constexpr std::size_t kMaxCookies = 3000;
  static constexpr std::size_t kMaxCookiesPerDomain = 50;

  // The one process-wide jar.
  static CookieStorage& shared();

  CookieStorage() = default;
  CookieStorage(const CookieStorage&) = delete;
  CookieStorage& operator=(const CookieStorage&) = delete;

  // Every live cookie, oldest first.
  std::vector<Cookie> cookies() const;
  // The cookies for a request to the URL: longest path first, then oldest first.
  std::vector<Cookie> cookiesForUrl(const Url& url) const;
  // Stores (replacing one of the same name, domain and path); an expired cookie deletes that one.
  void setCookie(const Cookie& cookie);
  void deleteCookie(const Cookie& cookie);
  void deleteAllCookies();

  // Stores what the Set-Cookie fields of a response from the URL set.
  void storeFromResponse(const HttpHeaders& headers, const Url& url);
  // The Cookie header value for a request to the URL, nullopt when no cookie matches.
  std::optional<std::string> requestHeaderValue(const Url& url) const;

 private:
  static double now();
  void setLocked(const Cookie& cookie, double now) PF_REQUIRES(mutex_);

  struct Entry {
    Cookie cookie;
    std::uint64_t order;
  };
  mutable Mutex mutex_;
  mutable std::vector<Entry> entries_ PF_GUARDED_BY(mutex_);
  std::uint64_t nextOrder_ PF_GUARDED_BY(mutex_) = 0;
};

}  // namespace pf
