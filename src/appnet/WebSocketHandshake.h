#pragma once
// The WebSocket opening handshake's pure parts: the URL the socket is made from, the origin, the
// HTTP/1.1 upgrade request, a bounded parser of the server's answer and the accept value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace appnet {

// A ws, wss, http or https URL split into its parts (user and password percent-decoded).
struct WsURL {
  std::string scheme;  // lower-cased
  std::string user;
  std::string password;
  std::string host;    // without the brackets of an IPv6 literal
  std::optional<std::uint16_t> port;  // as written; 0 counts as none
  std::string resource;  // path (at least "/") and query
  std::string text;      // the URL as given

  // Nothing when the text is not an absolute URL with one of the four schemes and a host.
  static std::optional<WsURL> parse(std::string_view text);

  bool secure() const { return scheme == "wss" || scheme == "https"; }
  // The port to connect to: the URL's, else 443 when secure and 80 otherwise.
  std::uint16_t effectivePort() const;
  // The host as written in a header ("[::1]" for an IPv6 literal).
  std::string hostForHeader() const;
  // "http(s)://host" with ":port" unless the port is the scheme's default.
  std::string origin() const;
};

// Base64 of the SHA-1 digest of the bytes.
std::string stringBySHA1ThenBase64Encoding(std::string_view bytes);
// The accept value a server must answer for `key`.
std::string webSocketAcceptFor(std::string_view key);

// An ordered list of header fields; setting a name again (any case) replaces the earlier value.
class WsHeaderFields {
 public:
  void set(const std::string& name, const std::string& value);
  std::optional<std::string> get(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& fields() const { return fields_; }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// The serialised "GET <resource> HTTP/1.1" request with the fields.
std::string serializeUpgradeRequest(const WsURL& url, const WsHeaderFields& fields);

// The server's answer header. parse() takes the bytes up to and including the blank line.
struct WsHandshakeResponse {
  int statusCode = 0;
  std::string reason;
  WsHeaderFields headers;

  // Nothing when the bytes are not an HTTP/1.x status line followed by well-formed fields.
  static std::optional<WsHandshakeResponse> parse(std::span<const std::uint8_t> bytes);
};

// Where the answer header ends: the length through CR LF CR LF, or 0 when it has not arrived.
std::size_t scanHeaderEnd(std::span<const std::uint8_t> bytes);

// The largest answer header accepted (bytes up to the blank line).
inline constexpr std::size_t kMaxHandshakeResponse = 16 * 1024;

}  // namespace appnet
