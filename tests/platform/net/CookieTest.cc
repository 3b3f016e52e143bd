// Cookies: parsing Set-Cookie for a URL, matching, and the shared jar's rules.

#include <gtest/gtest.h>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"

namespace {

using pf::Cookie;
using pf::Url;

constexpr double kNow = 1767225600.0;

Url url(const char* text) { return *Url::parse(text); }

TEST(Cookie, ParsesAttributesForTheAnsweringUrl) {
  auto c = pf::parseSetCookie("SESSIONID=abc:1; Path=/app; Secure; HttpOnly; Max-Age=60", url("https://bank.example/app/x"), kNow);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->name, "SESSIONID");
  EXPECT_EQ(c->value, "abc:1");
  EXPECT_EQ(c->domain, "bank.example");
  EXPECT_TRUE(c->hostOnly);
  EXPECT_EQ(c->path, "/app");
  EXPECT_TRUE(c->secure && c->httpOnly);
  EXPECT_EQ(c->expiresDate, kNow + 60);

  // Default path: the directory of the request path.
  EXPECT_EQ(pf::parseSetCookie("a=1", url("http://h/dir/page"), kNow)->path, "/dir");
  // Max-Age wins over Expires; Expires parses HTTP dates.
  auto e = pf::parseSetCookie("a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT", url("http://h/"), kNow);
  EXPECT_EQ(e->expiresDate, 1445412480.0);
  EXPECT_TRUE(e->isExpired(kNow));
}

TEST(Cookie, RefusesDomainsTheUrlMayNotSet) {
  auto page = url("http://www.bank.example/");
  EXPECT_TRUE(pf::parseSetCookie("a=1; Domain=.bank.example", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("a=1; Domain=other.example", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("a=1; Domain=example", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("a=1; Domain=0.0.1", url("http://127.0.0.1/"), kNow));
  EXPECT_FALSE(pf::parseSetCookie("novalue", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("=x", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("a=b\nc", page, kNow));
  EXPECT_FALSE(pf::parseSetCookie("a=" + std::string(5000, 'x'), page, kNow));
}

TEST(Cookie, MatchesHostPathAndScheme) {
  auto domainWide = *pf::parseSetCookie("a=1; Domain=bank.example; Path=/app", url("http://bank.example/"), kNow);
  EXPECT_TRUE(domainWide.matches(url("http://www.bank.example/app/x")));
  EXPECT_TRUE(domainWide.matches(url("http://bank.example/app")));
  EXPECT_FALSE(domainWide.matches(url("http://bank.example/apple")));
  EXPECT_FALSE(domainWide.matches(url("http://evilbank.example/app")));
  auto hostOnly = *pf::parseSetCookie("a=1; Secure", url("https://bank.example/"), kNow);
  EXPECT_FALSE(hostOnly.matches(url("https://www.bank.example/")));
  EXPECT_FALSE(hostOnly.matches(url("http://bank.example/")));
}

TEST(CookieStorage, ReplacesDeletesExpiresAndBoundsPerDomain) {
  pf::CookieStorage jar;
  auto from = url("http://h.example/");
  jar.storeFromResponse(pf::HttpHeaders{{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2; Path=/deep"}}, from);
  jar.storeFromResponse(pf::HttpHeaders{{"Set-Cookie", "a=3"}}, from);
  EXPECT_EQ(jar.requestHeaderValue(url("http://h.example/deep/x")), "b=2; a=3");
  EXPECT_EQ(jar.requestHeaderValue(url("http://h.example/")), "a=3");
  jar.storeFromResponse(pf::HttpHeaders{{"Set-Cookie", "a=gone; Max-Age=0"}}, from);
  EXPECT_EQ(jar.requestHeaderValue(url("http://h.example/")), std::nullopt);

  for (int i = 0; i < 60; ++i) {
    jar.storeFromResponse(pf::HttpHeaders{{"Set-Cookie", "k" + std::to_string(i) + "=v"}}, url("http://many.example/"));
  }
  auto all = jar.cookies();
  std::size_t many = std::count_if(all.begin(), all.end(), [](const Cookie& c) { return c.domain == "many.example"; });
  EXPECT_EQ(many, pf::CookieStorage::kMaxCookiesPerDomain);
  EXPECT_EQ(all.back().name, "k59");  // the oldest went first
  jar.deleteAllCookies();
  EXPECT_TRUE(jar.cookies().empty());
}

}  // namespace
