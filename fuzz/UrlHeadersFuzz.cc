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
  pf::CookieStorage jar;
  jar.storeFromResponse(pf::HttpHeaders{{"Set-Cookie", text}}, base);
  (void)jar.requestHeaderValue(base);

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
