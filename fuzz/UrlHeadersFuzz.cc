// Header values from servers: Set-Cookie, Content-Type, Content-Length, Content-Disposition and
// Location (resolved against the answering URL). Nothing may crash, and what comes out must keep
// its promises: a suggested file name never names a directory.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/Url.h"
#include "platform/net/UrlResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const pf::Url base = *pf::Url::parse("https://www.bank.example/app/page?x=1");

  if (auto cookie = pf::parseSetCookie(text, base, 1767225600.0)) {
    if (cookie->name.empty() || cookie->name.size() + cookie->value.size() > pf::kMaxCookieNameValueBytes) std::abort();
    (void)cookie->matches(base);
    (void)cookie->description();
  }
  // Each line of the input is one more Set-Cookie field of one answer, from a named host and from a
  // bracketed IPv6 one.
  static const pf::Url v6 = *pf::Url::parse("http://[::1]:8080/app/");
  pf::HttpHeaders fields;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    fields.append("Set-Cookie", std::string_view(text).substr(start, end - start));
    start = end + 1;
  }
  for (const pf::Url* url : {&base, &v6}) {
    pf::CookieStorage jar;
    jar.storeFromResponse(fields, *url);
    (void)jar.requestHeaderValue(*url);
    for (const auto& cookie : jar.cookies()) {
      if (cookie.name.empty()) std::abort();
    }
  }

  pf::UrlResponse response(base, 200,
                           pf::HttpHeaders{{"Content-Type", text}, {"Content-Length", text}, {"Content-Disposition", text}});
  std::string name = response.suggestedFilename();
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\\') != std::string::npos) {
    std::abort();
  }
  (void)response.mimeType();
  (void)response.textEncodingName();
  if (response.expectedContentLength() < -1) std::abort();

  if (auto target = pf::Url::parse(text, base)) {
    (void)target->lastPathComponent();
    (void)target->withoutCredentials();
  }
  return 0;
}
