#include "appnet/WebSocketHandshake.h"

#include <algorithm>
#include <charconv>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Text.h"
#include "platform/security/Digest.h"

namespace appnet {

namespace {

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isTokenChar(char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

std::optional<WsURL> WsURL::parse(std::string_view text) {
  WsURL url;
  url.text = std::string(text);
  const auto colon = text.find("://");
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  url.scheme = asciiLower(text.substr(0, colon));
  if (url.scheme != "ws" && url.scheme != "wss" && url.scheme != "http" && url.scheme != "https") return std::nullopt;
  std::string_view rest = text.substr(colon + 3);
  const auto authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
  if (const auto hash = tail.find('#'); hash != std::string_view::npos) tail = tail.substr(0, hash);
  for (char c : tail)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return std::nullopt;
  url.resource = tail.empty() || tail.front() != '/' ? "/" + std::string(tail) : std::string(tail);

  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const auto sep = userInfo.find(':');
    auto user = pf::removePercentEscapes(userInfo.substr(0, sep));
    auto password = sep == std::string_view::npos ? std::optional<std::string>("")
                                                   : pf::removePercentEscapes(userInfo.substr(sep + 1));
    if (!user || !password) return std::nullopt;
    url.user = *user;
    url.password = *password;
  }
  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    url.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      portText = after.substr(1);
    }
  } else {
    const auto sep = authority.rfind(':');
    url.host = std::string(authority.substr(0, sep));
    if (sep != std::string_view::npos) portText = authority.substr(sep + 1);
  }
  if (url.host.empty()) return std::nullopt;
  for (char c : url.host)
    if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '@' || c == '[' || c == ']') return std::nullopt;
  if (!portText.empty()) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc{} || end != portText.data() + portText.size() || value > 65535) return std::nullopt;
    if (value != 0) url.port = static_cast<std::uint16_t>(value);
  }
  return url;
}

std::uint16_t WsURL::effectivePort() const { return port ? *port : (secure() ? 443 : 80); }

std::string WsURL::hostForHeader() const {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string WsURL::origin() const {
  const std::string originScheme = scheme == "wss" ? "https" : scheme == "ws" ? "http" : scheme;
  const bool defaultPort = !port || (*port == 80 && originScheme == "http") || (*port == 443 && originScheme == "https");
  if (defaultPort) return originScheme + "://" + hostForHeader();
  return originScheme + "://" + hostForHeader() + ":" + std::to_string(*port);
}

std::string stringBySHA1ThenBase64Encoding(std::string_view bytes) { return pf::base64Encode(pf::sha1(bytes)); }

std::string webSocketAcceptFor(std::string_view key) {
  return stringBySHA1ThenBase64Encoding(std::string(key) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11");
}

void WsHeaderFields::set(const std::string& name, const std::string& value) {
  for (auto& field : fields_) {
    if (asciiEqualsIgnoringCase(field.first, name)) {
      field.second = value;
      return;
    }
  }
  fields_.emplace_back(name, value);
}

std::optional<std::string> WsHeaderFields::get(std::string_view name) const {
  for (const auto& field : fields_)
    if (asciiEqualsIgnoringCase(field.first, name)) return field.second;
  return std::nullopt;
}

std::string serializeUpgradeRequest(const WsURL& url, const WsHeaderFields& fields) {
  std::string out = "GET " + url.resource + " HTTP/1.1\r\n";
  for (const auto& [name, value] : fields.fields()) {
    // Header text never carries line breaks into the request.
    auto clean = [](const std::string& text) {
      std::string result;
      for (char c : text)
        if (c != '\r' && c != '\n') result.push_back(c);
      return result;
    };
    out += clean(name) + ": " + clean(value) + "\r\n";
  }
  out += "\r\n";
  return out;
}

std::optional<WsHandshakeResponse> WsHandshakeResponse::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxHandshakeResponse) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  WsHandshakeResponse response;
  bool first = true;
  while (!text.empty()) {
    const auto eol = text.find("\r\n");
    if (eol == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 2);
    if (first) {
      first = false;
      // "HTTP/1.1 101 Switching Protocols"
      if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[8] != ' ') return std::nullopt;
      int code = 0;
      const auto [end, ec] = std::from_chars(line.data() + 9, line.data() + 12, code);
      if (ec != std::errc{} || end != line.data() + 12 || code < 100) return std::nullopt;
      if (line.size() > 12 && line[12] != ' ') return std::nullopt;
      response.statusCode = code;
      response.reason = std::string(line.size() > 13 ? line.substr(13) : std::string_view{});
      continue;
    }
    if (line.empty()) return text.empty() ? std::optional(response) : std::nullopt;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar)) return std::nullopt;
    const std::string_view value = trimSpaces(line.substr(colon + 1));
    // A repeated field joins its values with ", " as HTTP allows.
    if (auto existing = response.headers.get(name))
      response.headers.set(std::string(name), *existing + ", " + std::string(value));
    else
      response.headers.set(std::string(name), std::string(value));
  }
  return std::nullopt;
}

std::size_t scanHeaderEnd(std::span<const std::uint8_t> bytes) {
  int matched = 0;
  static constexpr std::uint8_t kTerminator[4] = {'\r', '\n', '\r', '\n'};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == kTerminator[matched]) {
      if (++matched == 4) return i + 1;
    } else {
      matched = bytes[i] == '\r' ? 1 : 0;
    }
  }
  return 0;
}

}  // namespace appnet
