#include "platform/net/CookieStorage.h"

#include <algorithm>
#include <chrono>

namespace pf {

CookieStorage& CookieStorage::shared() {
  // Never torn down: the loader thread may still use it while the process exits.
  static auto* storage = new CookieStorage();
  return *storage;
}

double CookieStorage::now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::vector<Cookie> CookieStorage::cookies() const {
  double t = now();
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.cookie.isExpired(t); });
  std::vector<Cookie> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.cookie);
  return out;
}

std::vector<Cookie> CookieStorage::cookiesForUrl(const Url& url) const {
  double t = now();
  std::vector<const Entry*> hits;
  std::vector<Cookie> out;
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.cookie.isExpired(t); });
  for (const auto& e : entries_) {
    if (e.cookie.matches(url)) hits.push_back(&e);
  }
  std::stable_sort(hits.begin(), hits.end(), [](const Entry* a, const Entry* b) {
    return a->cookie.path.size() > b->cookie.path.size();
  });
  out.reserve(hits.size());
  for (const auto* e : hits) out.push_back(e->cookie);
  return out;
}

void CookieStorage::setLocked(const Cookie& cookie, double t) {
  auto same = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.cookie.sameIdentity(cookie); });
  if (cookie.isExpired(t)) {
    if (same != entries_.end()) entries_.erase(same);
    return;
  }
  if (same != entries_.end()) {
    // A replacement keeps the place (and so the age) of the cookie it replaces.
    same->cookie = cookie;
    return;
  }
  std::size_t inDomain = std::count_if(entries_.begin(), entries_.end(),
                                       [&](const Entry& e) { return e.cookie.domain == cookie.domain; });
  if (inDomain >= kMaxCookiesPerDomain) {
    auto oldest = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.cookie.domain == cookie.domain; });
    entries_.erase(oldest);
  }
  if (entries_.size() >= kMaxCookies) entries_.erase(entries_.begin());
  entries_.push_back({cookie, nextOrder_++});
}

void CookieStorage::setCookie(const Cookie& cookie) {
  double t = now();
  MutexLock lock(mutex_);
  setLocked(cookie, t);
}

void CookieStorage::deleteCookie(const Cookie& cookie) {
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.cookie.sameIdentity(cookie); });
}

void CookieStorage::deleteAllCookies() {
  MutexLock lock(mutex_);
  entries_.clear();
}

void CookieStorage::storeFromResponse(const HttpHeaders& headers, const Url& url) {
  if (!headers.contains("Set-Cookie")) return;
  double t = now();
  auto cookies = cookiesFromResponseHeaders(headers, url, t);
  MutexLock lock(mutex_);
  for (const auto& c : cookies) setLocked(c, t);
}

std::optional<std::string> CookieStorage::requestHeaderValue(const Url& url) const {
  auto cookies = cookiesForUrl(url);
  if (cookies.empty()) return std::nullopt;
  return cookieHeaderValue(cookies);
}

}  // namespace pf
