#pragma once
// URLs: parsed once (by libcurl's URL parser), kept as their absolute text and their parts.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pf {

class Url {
 public:
  // An absolute URL ("scheme://..."), or nullopt when the text is not one (spaces and other
  // characters that may not stand in a URL must be percent-escaped first).
  static std::optional<Url> parse(std::string_view text);
  // The text resolved against a base URL (an absolute text ignores the base).
  static std::optional<Url> parse(std::string_view text, const Url& base);
  // "file://" URL of an absolute path.
  static Url fileUrl(const std::filesystem::path& path);

  const std::string& absoluteString() const { return text_; }
  const std::string& scheme() const { return scheme_; }  // lower case
  // Host as written, IPv6 literals without brackets; empty for file URLs.
  const std::string& host() const { return host_; }
  std::optional<int> port() const { return port_; }
  // The port, or the scheme's default (80 http/ws, 443 https/wss, 0 otherwise).
  int effectivePort() const;
  // Path with percent escapes decoded ("/" at least for http URLs).
  std::string path() const;
  const std::string& percentEncodedPath() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  const std::optional<std::string>& user() const { return user_; }          // decoded
  const std::optional<std::string>& password() const { return password_; }  // decoded
  // The last component of the decoded path ("" for "/" or an empty path).
  std::string lastPathComponent() const;

  bool isFileUrl() const { return scheme_ == "file"; }
  bool isHttp() const { return scheme_ == "http" || scheme_ == "https"; }
  std::filesystem::path filePath() const { return path(); }

  // The URL without user, password and fragment: what goes on the wire and into logs.
  std::string withoutCredentials() const;

  bool operator==(const Url& other) const { return text_ == other.text_; }

 private:
  Url() = default;
  static std::optional<Url> fromHandle(void* handle, bool emptyQuery);

  std::string text_;
  std::string scheme_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
  std::optional<std::string> user_;
  std::optional<std::string> password_;
};

// Percent-decoding ("%41" -> "A"); invalid escapes are kept as they are.
std::string percentDecode(std::string_view text);
// Percent-encoding of every byte but the unreserved characters and those in `keep`.
std::string percentEncode(std::string_view text, std::string_view keep = "");

}  // namespace pf
