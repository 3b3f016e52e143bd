#include "platform/net/Url.h"

#include <curl/curl.h>

#include <memory>

#include "platform/foundation/Base64.h"

namespace pf {

namespace {

struct UrlHandleDeleter {
  void operator()(CURLU* h) const { curl_url_cleanup(h); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

std::optional<std::string> part(CURLU* h, CURLUPart which, unsigned flags = 0) {
  char* out = nullptr;
  if (curl_url_get(h, which, &out, flags) != CURLUE_OK || out == nullptr) return std::nullopt;
  std::string s(out);
  curl_free(out);
  return s;
}

constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME;

}  // namespace

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = hexDigit(text[i + 1]);
      int lo = hexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string percentEncode(std::string_view text, std::string_view keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved || (c < 0x80 && keep.find(ch) != std::string_view::npos)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

namespace {

// Whether the text's query is present and empty ("...?" or "...?#frag"): libcurl drops such a query,
// but "path?" and "path" are different URLs.
bool hasEmptyQuery(std::string_view text) {
  text = text.substr(0, text.find('#'));
  auto mark = text.find('?');
  return mark != std::string_view::npos && mark + 1 == text.size();
}

}  // namespace

std::optional<Url> Url::fromHandle(void* handle, bool emptyQuery) {
  auto* h = static_cast<CURLU*>(handle);
  auto text = part(h, CURLUPART_URL);
  auto scheme = part(h, CURLUPART_SCHEME);
  if (!text || !scheme) return std::nullopt;
  Url url;
  url.text_ = std::move(*text);
  url.scheme_ = std::move(*scheme);
  for (auto& c : url.scheme_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (auto host = part(h, CURLUPART_HOST)) {
    url.host_ = std::move(*host);
    if (url.host_.size() >= 2 && url.host_.front() == '[' && url.host_.back() == ']') {
      url.host_ = url.host_.substr(1, url.host_.size() - 2);
    }
  }
  if (url.isHttp() && url.host_.empty()) return std::nullopt;
  if (auto port = part(h, CURLUPART_PORT)) url.port_ = std::atoi(port->c_str());
  url.path_ = part(h, CURLUPART_PATH).value_or("");
  url.query_ = part(h, CURLUPART_QUERY);
  url.fragment_ = part(h, CURLUPART_FRAGMENT);
  if (emptyQuery && (!url.query_ || url.query_->empty())) {
    url.query_ = std::string();
    auto end = url.text_.find('#');
    if (url.text_.substr(0, end).find('?') == std::string::npos) {
      url.text_.insert(end == std::string::npos ? url.text_.size() : end, "?");
    }
  }
  if (auto user = part(h, CURLUPART_USER)) url.user_ = percentDecode(*user);
  if (auto password = part(h, CURLUPART_PASSWORD)) url.password_ = percentDecode(*password);
  return url;
}

std::optional<Url> Url::parse(std::string_view text) {
  UrlHandle h(curl_url());
  if (!h) return std::nullopt;
  std::string s(text);
  if (s.empty() || s.find('\0') != std::string::npos) return std::nullopt;
  if (curl_url_set(h.get(), CURLUPART_URL, s.c_str(), kParseFlags) != CURLUE_OK) return std::nullopt;
  return fromHandle(h.get(), hasEmptyQuery(s));
}

std::optional<Url> Url::parse(std::string_view text, const Url& base) {
  UrlHandle h(curl_url());
  if (!h) return std::nullopt;
  if (curl_url_set(h.get(), CURLUPART_URL, base.text_.c_str(), kParseFlags) != CURLUE_OK) return std::nullopt;
  std::string s(text);
  if (s.find('\0') != std::string::npos) return std::nullopt;
  if (s.empty()) return base;
  if (curl_url_set(h.get(), CURLUPART_URL, s.c_str(), kParseFlags) != CURLUE_OK) return std::nullopt;
  return fromHandle(h.get(), hasEmptyQuery(s));
}

Url Url::fileUrl(const std::filesystem::path& path) {
  Url url;
  url.scheme_ = "file";
  url.path_ = percentEncode(path.lexically_normal().string(), "/!$&'()*+,;=:@");
  url.text_ = "file://" + url.path_;
  return url;
}

int Url::effectivePort() const {
  if (port_) return *port_;
  if (scheme_ == "http" || scheme_ == "ws") return 80;
  if (scheme_ == "https" || scheme_ == "wss") return 443;
  return 0;
}

std::string Url::path() const { return percentDecode(path_); }

std::string Url::lastPathComponent() const {
  std::string p = path();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
  return last;
}

std::string Url::withoutCredentials() const {
  std::string out = scheme_ + "://";
  if (host_.find(':') != std::string::npos) {
    out += "[" + host_ + "]";
  } else {
    out += host_;
  }
  if (port_) out += ":" + std::to_string(*port_);
  out += path_.empty() ? "/" : path_;
  if (query_) out += "?" + *query_;
  return out;
}

}  // namespace pf
