#include "platform/net/Cookie.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <charconv>
#include <cmath>
#include <ctime>

namespace pf {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isIpAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool domainMatches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  if (isIpAddress(host)) return false;
  return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

// RFC 6265 5.1.4: the directory of the request path.
std::string defaultPath(const Url& url) {
  const std::string& path = url.percentEncodedPath();
  if (path.empty() || path[0] != '/') return "/";
  auto slash = path.rfind('/');
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool pathMatches(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

bool hasControlCharacters(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7f) return true;
  }
  return false;
}

std::string httpDate(double seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

}  // namespace

bool Cookie::matches(const Url& url) const {
  std::string host = lowered(url.host());
  if (hostOnly ? host != domain : !domainMatches(host, domain)) return false;
  if (secure && url.scheme() != "https" && url.scheme() != "wss") return false;
  std::string requestPath = url.percentEncodedPath().empty() ? "/" : url.percentEncodedPath();
  return pathMatches(requestPath, path);
}

std::string Cookie::description() const {
  std::string out = "<" + name + "=" + value + "; domain=" + (hostOnly ? "" : ".") + domain + "; path=" + path;
  if (expiresDate) out += "; expires=" + httpDate(*expiresDate);
  if (secure) out += "; secure";
  if (httpOnly) out += "; HttpOnly";
  return out + ">";
}

std::optional<Cookie> parseSetCookie(std::string_view value, const Url& url, double now) {
  if (hasControlCharacters(value)) return std::nullopt;
  auto semicolon = value.find(';');
  std::string_view pair = value.substr(0, semicolon);
  auto eq = pair.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  Cookie cookie;
  cookie.name = std::string(trim(pair.substr(0, eq)));
  cookie.value = std::string(trim(pair.substr(eq + 1)));
  if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieNameValueBytes) {
    return std::nullopt;
  }
  std::string host = lowered(url.host());
  if (host.empty()) return std::nullopt;
  cookie.domain = host;
  cookie.path = defaultPath(url);

  std::optional<double> maxAgeExpiry;
  std::optional<double> expires;
  std::string_view rest = semicolon == std::string_view::npos ? std::string_view{} : value.substr(semicolon + 1);
  while (!rest.empty()) {
    auto next = rest.find(';');
    std::string_view attribute = trim(rest.substr(0, next));
    rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
    auto aeq = attribute.find('=');
    std::string key = lowered(trim(attribute.substr(0, aeq)));
    std::string_view attrValue = aeq == std::string_view::npos ? std::string_view{} : trim(attribute.substr(aeq + 1));
    if (key == "domain") {
      std::string domain = lowered(attrValue);
      while (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      if (!domainMatches(host, domain)) return std::nullopt;
      // Without a public-suffix list, refuse a bare top-level name unless it is the host itself.
      if (domain.find('.') == std::string::npos && domain != host) return std::nullopt;
      cookie.domain = domain;
      cookie.hostOnly = false;
    } else if (key == "path") {
      if (!attrValue.empty() && attrValue.front() == '/') cookie.path = std::string(attrValue);
    } else if (key == "max-age") {
      std::int64_t seconds = 0;
      auto [end, ec] = std::from_chars(attrValue.data(), attrValue.data() + attrValue.size(), seconds);
      if (ec == std::errc() && end == attrValue.data() + attrValue.size()) {
        maxAgeExpiry = seconds <= 0 ? 0.0 : now + static_cast<double>(seconds);
      }
    } else if (key == "expires") {
      std::string text(attrValue);
      time_t t = curl_getdate(text.c_str(), nullptr);
      if (t != -1) expires = static_cast<double>(t);
    } else if (key == "secure") {
      cookie.secure = true;
    } else if (key == "httponly") {
      cookie.httpOnly = true;
    }
  }
  if (maxAgeExpiry) {
    cookie.expiresDate = maxAgeExpiry;
  } else if (expires) {
    cookie.expiresDate = expires;
  }
  return cookie;
}

std::vector<Cookie> cookiesFromResponseHeaders(const HttpHeaders& headers, const Url& url, double now) {
  std::vector<Cookie> out;
  for (const auto& field : headers.fields()) {
    if (!asciiEqualsIgnoringCase(field.first, "Set-Cookie")) continue;
    if (auto cookie = parseSetCookie(field.second, url, now)) out.push_back(std::move(*cookie));
  }
  return out;
}

std::string cookieHeaderValue(const std::vector<Cookie>& cookies) {
  std::string out;
  for (const auto& c : cookies) {
    if (!out.empty()) out += "; ";
    out += c.name;
    out += '=';
    out += c.value;
  }
  return out;
}

}  // namespace pf
