#pragma once
// The loopback peer that answers as a server gone bad would (peers/hostile_http_server.py): bodies
// made as they are sent (endless, gzip-compressed, cut short), raw status lines, long header
// lines and redirects. Started once per test executable.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Text.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

namespace fxtest {

class HostileHttpPeer {
 public:
  static HostileHttpPeer& shared() {
    static HostileHttpPeer peer;
    return peer;
  }

  // "http://127.0.0.1:<port>" (no trailing "/").
  std::string base() const { return "http://127.0.0.1:" + std::to_string(http_); }
  std::string http(const std::string& path) const { return base() + path; }
  std::string https(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(https_) + path; }

  // The query value of bytes for /answer and /raw.
  static std::string encode(const std::string& bytes) { return pf::addPercentEscapes(pf::base64Encode(bytes), {}, "+/="); }
  // Paths (with their query) of the peer's answers.
  // gzip: how many times the body is gzip-compressed (2: "Content-Encoding: gzip, gzip"); noise:
  // random digits, which compress to about 45% (not 1,000:1).
  static std::string generated(long long size, const std::string& framing = "chunked", int gzip = 0,
                               int status = 200, bool noise = false) {
    return "/gen?size=" + std::to_string(size) + "&framing=" + framing +
           (gzip > 0 ? "&gzip=" + std::to_string(gzip) : "") +
           (status != 200 ? "&status=" + std::to_string(status) : "") + (noise ? "&noise=1" : "");
  }
  // The body, then `pad` spaces, announced `extra` bytes longer than that (a cut answer).
  static std::string answer(const std::string& body, int extra = 0, std::size_t pad = 0) {
    return "/answer?b64=" + encode(body) + "&extra=" + std::to_string(extra) + "&pad=" + std::to_string(pad);
  }
  static std::string raw(const std::string& bytes) { return "/raw?b64=" + encode(bytes); }
  // An answer written as it stands: the status line ("200 OK"), the Content-Encoding field's value
  // and the body, announced by its length (or `announced`).
  static std::string coded(const std::string& status, const std::string& coding, const std::string& body,
                           std::optional<std::size_t> announced = std::nullopt) {
    return raw("HTTP/1.1 " + status + "\r\nContent-Encoding: " + coding + "\r\nContent-Length: " +
               std::to_string(announced.value_or(body.size())) + "\r\n\r\n" + body);
  }
  // Digits that compress to about half their length (a cut stream loses real data), short enough
  // for /packed's query.
  static std::string digits(std::size_t n = 30000) {
    std::string text;
    std::uint32_t x = 12345;
    while (text.size() < n) {
      x = x * 1103515245u + 12345u;
      text += static_cast<char>('0' + (x >> 16) % 10);
    }
    return text;
  }
  // The body compressed as `coding` ("gzip", "deflate" or "raw" deflate) by the peer, the last `cut`
  // bytes of the stream left out or, with badTrailer, its last byte changed; announced by the
  // length sent.
  static std::string packed(const std::string& body, const std::string& coding, int cut = 0, bool badTrailer = false) {
    return "/packed?b64=" + encode(body) + "&coding=" + coding + "&cut=" + std::to_string(cut) +
           (badTrailer ? "&trailer=bad" : "");
  }
  // The body gzip-compressed in `members` members one after another, and an empty member after
  // them with emptyAfter.
  static std::string members(const std::string& body, int members, bool emptyAfter = false) {
    return packed(body, "gzip") + "&members=" + std::to_string(members) + (emptyAfter ? "&empty=1" : "");
  }

 private:
  HostileHttpPeer()
      : process_({kPython, (sourceDir() / "tests/support/peers/hostile_http_server.py").string(), dir_.path().string()},
                 {"HTTP", "HTTPS"}, 20000),
        http_(process_.port("HTTP")),
        https_(process_.port("HTTPS")) {}

  TempDir dir_;
  PeerProcess process_;
  int http_;
  int https_;
};

}  // namespace fxtest
