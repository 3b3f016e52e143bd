#pragma once
// HTTP cookies (RFC 6265 without a public-suffix list): parsing Set-Cookie fields for a URL,
// matching a URL, and the Cookie request header.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/HttpHeaders.h"
#include "platform/net/Url.h"

namespace pf {

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // lower case, without a leading "."
  bool hostOnly = true;  // sent only to `domain` itself, not to its subdomains
  std::string path = "/";
  std::optional<double> expiresDate;  // seconds since 1970; nullopt for a session cookie
  bool secure = false;
  bool httpOnly = false;

  bool isSessionOnly() const { return !expiresDate; }
  bool isExpired(double now) const { return expiresDate && *expiresDate <= now; }
  // Whether the cookie goes with a request to the URL.
  bool matches(const Url& url) const;
  // One line for logs: "<name=value; domain=...; path=...; expires=...; secure; HttpOnly>".
  std::string description() const;
  // Same name, domain and path: one replaces the other in a jar.
  bool sameIdentity(const Cookie& other) const {
    return name == other.name && domain == other.domain && path == other.path;
  }
};

// Bounds on what one Set-Cookie field may set.
inline constexpr std::size_t kMaxCookieNameValueBytes = 4096;

// The cookie one Set-Cookie value sets for a response from `url`, or nullopt when it is malformed,
// too large or for a domain the URL may not set. `now` dates Max-Age.
std::optional<Cookie> parseSetCookie(std::string_view value, const Url& url, double now);
// Every cookie that the Set-Cookie fields of a response from `url` set.
std::vector<Cookie> cookiesFromResponseHeaders(const HttpHeaders& headers, const Url& url, double now);
// "a=1; b=2" for a Cookie request header (empty for no cookies).
std::string cookieHeaderValue(const std::vector<Cookie>& cookies);

}  // namespace pf
