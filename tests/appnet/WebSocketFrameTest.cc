// The frame codec, UTF-8 checking, close rules and the handshake's pure parts.

#include <gtest/gtest.h>

#include "appnet/WebSocketFrame.h"
#include "appnet/WebSocketHandshake.h"

using namespace appnet;
using pf::Bytes;

namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(WebSocketFrame, ClientFramesAreMaskedWithTheRightLengthCodes) {
  const std::uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
  Bytes out;
  ws::appendClientFrame(out, ws::kOpText, bytesOf("Hel"), key);
  EXPECT_EQ(out, (Bytes{0x81, 0x83, 0x37, 0xfa, 0x21, 0x3d, 'H' ^ 0x37, 'e' ^ 0xfa, 'l' ^ 0x21}));

  struct Case {
    std::size_t length;
    std::size_t headerSize;
    std::uint8_t code;
  };
  for (const Case c : {Case{125, 6, 125}, Case{126, 8, 126}, Case{65535, 8, 126}, Case{65536, 14, 127}}) {
    Bytes payload(c.length);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    Bytes frame;
    ws::appendClientFrame(frame, ws::kOpBinary, payload, key);
    ASSERT_EQ(frame.size(), c.headerSize + c.length) << c.length;
    EXPECT_EQ(frame[1], 0x80 | c.code);
    const ws::FrameHeader header = ws::parseHeaderStart(frame[0], frame[1]);
    ws::FrameHeader full = header;
    ws::parseHeaderRest(full, frame[1], std::span(frame).subspan(2, ws::extraHeaderLength(frame[1])));
    EXPECT_EQ(full.payloadLength, c.length);
    EXPECT_TRUE(full.masked && full.fin);
    // Unmasking with the running offset gives the payload back, also in uneven pieces.
    Bytes body(frame.begin() + static_cast<long>(c.headerSize), frame.end());
    std::uint64_t offset = 0;
    const std::size_t cut = body.size() / 3;
    ws::applyMask(body.data(), cut, full.maskKey, offset);
    ws::applyMask(body.data() + cut, body.size() - cut, full.maskKey, offset);
    EXPECT_EQ(body, payload);
  }
}

TEST(WebSocketFrame, HeaderFlagsAndCloseRules) {
  const ws::FrameHeader h = ws::parseHeaderStart(0x41, 0x05);
  EXPECT_FALSE(h.fin);
  EXPECT_TRUE(h.rsv);
  EXPECT_EQ(h.opcode, 1);
  EXPECT_FALSE(ws::isKnownOpcode(3));
  EXPECT_FALSE(ws::isKnownOpcode(11));
  for (int code : {1000, 1003, 1007, 1011, 3000, 4999}) EXPECT_TRUE(ws::isValidCloseCode(code)) << code;
  for (int code : {0, 999, 1004, 1005, 1006, 1012, 2999, 5000}) EXPECT_FALSE(ws::isValidCloseCode(code)) << code;

  // The reason is cut to 123 bytes, never inside a character.
  std::string reason = std::string(121, 'r') + "\xe2\x82\xac" + "tail";  // euro sign across the limit
  EXPECT_EQ(ws::truncateUtf8(reason), std::string(121, 'r'));
  const Bytes payload = ws::closePayload(1002, reason);
  EXPECT_EQ(payload.size(), 2u + 121u);
  EXPECT_EQ(payload[0], 0x03);
  EXPECT_EQ(payload[1], 0xEA);
  EXPECT_EQ(ws::truncateUtf8("short"), "short");
}

TEST(WebSocketFrame, Utf8ScanKeepsCutOffCharactersForLaterAndRejectsTheIllFormed) {
  struct Case {
    const char* bytes;
    std::optional<std::size_t> valid;
  };
  const Case cases[] = {
      {"plain ascii text, long enough for the wide path", 47},
      {"caf\xc3\xa9", 5},
      {"caf\xc3", 3},                  // cut after the lead byte
      {"\xe2\x82", 0},                  // three-byte sequence cut after two
      {"\xf0\x9f\x98\x80", 4},          // U+1F600
      {"\xf0\x9f\x98", 0},
      {"ab\xff", std::nullopt},
      {"\xc0\xaf", std::nullopt},       // overlong
      {"\xed\xa0\x80", std::nullopt},   // surrogate
      {"\xf4\x90\x80\x80", std::nullopt},  // above U+10FFFF
      {"\xe0\x80", std::nullopt},       // can never complete
      {"\x80", std::nullopt},
  };
  for (const Case& c : cases) {
    const Bytes b = bytesOf(c.bytes);
    EXPECT_EQ(ws::scanUtf8(b, 0), c.valid) << c.bytes;
  }
  // Growing a message byte by byte: each call resumes where the last one stopped.
  const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
  Bytes growing;
  std::size_t position = 0;
  for (char ch : text) {
    growing.push_back(static_cast<std::uint8_t>(ch));
    auto valid = ws::scanUtf8(growing, position);
    ASSERT_TRUE(valid);
    position = *valid;
  }
  EXPECT_EQ(position, text.size());
  EXPECT_TRUE(ws::isValidUtf8(bytesOf(text)));
  EXPECT_FALSE(ws::isValidUtf8(bytesOf("a\xc3")));
}

TEST(WebSocketHandshake, UrlsPortsAndOrigins) {
  auto plain = WsURL::parse("ws://example.test/chat?x=1");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->effectivePort(), 80);
  EXPECT_EQ(plain->resource, "/chat?x=1");
  EXPECT_EQ(plain->origin(), "http://example.test");

  auto secure = WsURL::parse("WSS://example.test:443");
  ASSERT_TRUE(secure);
  EXPECT_EQ(secure->effectivePort(), 443);
  EXPECT_EQ(secure->resource, "/");
  EXPECT_EQ(secure->origin(), "https://example.test");  // the default port is left out

  auto other = WsURL::parse("http://u:p%40ss@[::1]:8080/ws/A/B");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->host, "::1");
  EXPECT_EQ(other->password, "p@ss");
  EXPECT_EQ(other->origin(), "http://[::1]:8080");

  EXPECT_EQ(WsURL::parse("ws://h:0/")->effectivePort(), 80);  // port 0 counts as none
  EXPECT_EQ(WsURL::parse("wss://h/")->effectivePort(), 443);
  for (const char* bad : {"", "/ws/", "ftp://h/", "ws://", "ws://:80/", "ws://h:99999/", "ws://h/a b", "ws://[::1/"})
    EXPECT_FALSE(WsURL::parse(bad)) << bad;
}

TEST(WebSocketHandshake, AcceptValueRequestAndResponseParsing) {
  EXPECT_EQ(webSocketAcceptFor("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");

  WsHeaderFields fields;
  fields.set("Host", "h");
  fields.set("Origin", "http://h");
  fields.set("origin", "mine\r\nInjected: yes");
  const std::string request = serializeUpgradeRequest(*WsURL::parse("ws://h/p"), fields);
  EXPECT_EQ(request, "GET /p HTTP/1.1\r\nHost: h\r\nOrigin: mineInjected: yes\r\n\r\n");

  const std::string answer =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nsec-websocket-accept:  abc \r\nX: 1\r\nX: 2\r\n\r\n";
  const Bytes raw = bytesOf(answer + "\x81\x01z");
  EXPECT_EQ(scanHeaderEnd(raw), answer.size());
  EXPECT_EQ(scanHeaderEnd(bytesOf("HTTP/1.1 101 OK\r\n\r")), 0u);
  EXPECT_EQ(scanHeaderEnd(bytesOf("\r\r\n\r\n")), 5u);
  auto parsed = WsHandshakeResponse::parse(std::span(raw).first(answer.size()));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->statusCode, 101);
  EXPECT_EQ(parsed->headers.get("Sec-WebSocket-Accept"), "abc");
  EXPECT_EQ(parsed->headers.get("x"), "1, 2");

  for (const char* bad : {"HTTP/1.1 10 OK\r\n\r\n", "SSH-2.0\r\n\r\n", "HTTP/1.1 101 OK\r\nno colon\r\n\r\n",
                          "HTTP/1.1 101 OK\r\nBad Name: x\r\n\r\n", "HTTP/1.1 101 OK\r\n"})
    EXPECT_FALSE(WsHandshakeResponse::parse(bytesOf(bad))) << bad;
  EXPECT_FALSE(WsHandshakeResponse::parse(Bytes(kMaxHandshakeResponse + 1, 'a')));
}
