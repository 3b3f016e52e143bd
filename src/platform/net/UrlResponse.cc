#include "platform/net/UrlResponse.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace pf {

namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string unquote(std::string_view s) {
  s = trim(s);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    std::string out;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      if (s[i] == '\\' && i + 2 < s.size()) ++i;
      out.push_back(s[i]);
    }
    return out;
  }
  return std::string(s);
}

// Splits "a; b=c; d="e;f"" at semicolons outside quotes.
std::vector<std::string_view> splitParameters(std::string_view value) {
  std::vector<std::string_view> out;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') quoted = !quoted;
    if (value[i] == ';' && !quoted) {
      out.push_back(trim(value.substr(start, i - start)));
      start = i + 1;
    }
  }
  out.push_back(trim(value.substr(start)));
  return out;
}

std::string safeFileName(std::string name) {
  auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  name.erase(std::remove_if(name.begin(), name.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
             name.end());
  if (name == "." || name == "..") name.clear();
  return name;
}

}  // namespace

std::optional<std::string> contentDispositionFilename(std::string_view value) {
  std::optional<std::string> plain;
  std::optional<std::string> extended;
  auto params = splitParameters(value);
  for (std::size_t i = 1; i < params.size(); ++i) {
    auto eq = params[i].find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = lowered(trim(params[i].substr(0, eq)));
    std::string_view raw = trim(params[i].substr(eq + 1));
    if (key == "filename") {
      plain = unquote(raw);
    } else if (key == "filename*") {
      // charset'language'percent-encoded
      auto first = raw.find('\'');
      auto second = first == std::string_view::npos ? first : raw.find('\'', first + 1);
      if (second != std::string_view::npos) extended = percentDecode(raw.substr(second + 1));
    }
  }
  if (extended && !extended->empty()) return extended;
  if (plain && !plain->empty()) return plain;
  return std::nullopt;
}

UrlResponse::UrlResponse(Url url, int statusCode, HttpHeaders headers)
    : url_(std::move(url)), statusCode_(statusCode), headers_(std::move(headers)) {
  if (auto type = headers_.value("Content-Type")) {
    auto params = splitParameters(*type);
    std::string mime = lowered(params.front());
    if (!mime.empty()) mimeType_ = mime;
    for (std::size_t i = 1; i < params.size(); ++i) {
      auto eq = params[i].find('=');
      if (eq == std::string_view::npos) continue;
      if (lowered(trim(params[i].substr(0, eq))) == "charset") {
        std::string charset = lowered(unquote(params[i].substr(eq + 1)));
        if (!charset.empty()) textEncodingName_ = charset;
      }
    }
  }
  if (auto length = headers_.value("Content-Length")) {
    std::string_view text = trim(*length);
    std::int64_t n = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec == std::errc() && end == text.data() + text.size() && n >= 0) expectedContentLength_ = n;
  }
}

std::int64_t UrlResponse::expectedIdentityContentLength() const {
  for (const auto& coding : headers_.listValues("Content-Encoding")) {
    if (!asciiEqualsIgnoringCase(coding, "identity")) return -1;
  }
  return expectedContentLength_;
}

std::string UrlResponse::suggestedFilename() const {
  if (auto disposition = headers_.value("Content-Disposition")) {
    if (auto name = contentDispositionFilename(*disposition)) {
      std::string safe = safeFileName(*name);
      if (!safe.empty()) return safe;
    }
  }
  std::string last = safeFileName(url_.lastPathComponent());
  if (!last.empty()) return last;
  std::string host = safeFileName(url_.host());
  if (!host.empty()) return host;
  return "Unknown";
}

}  // namespace pf
