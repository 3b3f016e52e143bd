#include <gtest/gtest.h>
#include <poll.h>

#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketStream.h"
#include "platform/net/SocketTestSupport.h"
#include "platform/net/TlsTestCertificates.h"
#include "support/TestSupport.h"

namespace pf {
namespace {

// A TLS echo server from Python's ssl module, serving the test PKI's leaf.
struct PythonTlsPeer {
  fxtest::TempDir dir;
  std::unique_ptr<fxtest::ChildProcess> process;
  std::uint16_t port = 0;

  PythonTlsPeer(const fxtest::TestIdentity& identity, const std::string& greeting = "", bool ipv6 = false,
                bool dropAfterGreeting = false) {
    auto [crt, key] = identity.writePem(dir.path(), "server");
    std::vector<std::string> argv = {fxtest::kPython,
                                     (fxtest::sourceDir() / "tests/platform/net/peers/socket_tls_echo.py").string(),
                                     "--cert", crt, "--key", key};
    if (!greeting.empty()) argv.insert(argv.end(), {"--send", greeting});
    if (ipv6) argv.push_back("--ipv6");
    if (dropAfterGreeting) argv.push_back("--drop");
    process = std::make_unique<fxtest::ChildProcess>(argv);
    auto line = process->readLine();
    if (line) port = static_cast<std::uint16_t>(std::stoi(*line));
  }
};

struct Recorder {
  std::vector<std::string> events;
  std::string received;
  std::function<void()> onReadOpen;

  void attach(const StreamPair& pair, const std::shared_ptr<RunLoop>& loop) {
    pair.input->setClient(31, [this, in = pair.input.get()](SocketStream&, StreamEvent e) {
      events.push_back(e == kStreamEventOpenCompleted     ? "r:open"
                       : e == kStreamEventHasBytesAvailable ? "r:bytes"
                       : e == kStreamEventErrorOccurred     ? "r:error"
                                                            : "r:end");
      if (e == kStreamEventOpenCompleted && onReadOpen) onReadOpen();
      if (e == kStreamEventHasBytesAvailable) {
        while (in->hasBytesAvailable()) {
          std::uint8_t buffer[7];  // small on purpose: decrypted bytes are handed out in pieces
          long n = in->read(buffer, sizeof buffer);
          if (n <= 0) break;
          received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        }
      }
    });
    pair.output->setClient(31, [this](SocketStream&, StreamEvent e) {
      events.push_back(e == kStreamEventOpenCompleted  ? "w:open"
                       : e == kStreamEventCanAcceptBytes ? "w:space"
                       : e == kStreamEventErrorOccurred  ? "w:error"
                                                         : "w:end");
    });
    pair.input->scheduleInRunLoop(loop, kDefaultRunLoopMode);
    pair.output->scheduleInRunLoop(loop, kDefaultRunLoopMode);
  }
  bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
};

class TlsStreamTest : public ::testing::Test {
 protected:
  fxtest::TestPki pki;
  std::shared_ptr<fxtest::TableResolver> resolver = std::make_shared<fxtest::TableResolver>();
  std::shared_ptr<RunLoop> loop = RunLoop::current();
  Recorder recorder;

  TlsSettings trustingTestRoot() const {
    TlsSettings settings;
    settings.anchorCertificates = {pki.ca.certificateDer};
    return settings;
  }
  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }
};

TEST_F(TlsStreamTest, ClientVerifiesPythonServerAndExchangesDecryptedBytes) {
  PythonTlsPeer peer(pki.server, "welcome\n");
  ASSERT_NE(peer.port, 0);
  resolver->add("localhost", {"127.0.0.1"});
  auto pair = SocketStream::pairToHost("localhost", peer.port, resolver);
  ASSERT_TRUE(pair.input->setTlsSettings(trustingTestRoot()));
  recorder.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return recorder.received == "welcome\n" && recorder.has("w:space"); }));
  EXPECT_TRUE(pair.input->isSecure());
  // Open came with the TCP connection, the readiness events only after the handshake.
  EXPECT_EQ(recorder.events.front().substr(2), "open");
  auto chain = pair.input->peerCertificateChain();
  ASSERT_FALSE(chain.empty());
  EXPECT_EQ(chain.front(), pki.server.certificateDer);
  EXPECT_FALSE(pair.input->hasBytesAvailable());

  std::string message = "a message longer than one small read";
  ASSERT_EQ(pair.output->write(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()),
            long(message.size()));
  ASSERT_TRUE(spin([&] { return recorder.received == "welcome\n" + message; }));
}

TEST_F(TlsStreamTest, APeerDroppingTheConnectionWithoutCloseNotifyEndsTheStream) {
  PythonTlsPeer peer(pki.server, "last words", false, true);
  ASSERT_NE(peer.port, 0);
  auto pair = SocketStream::pairToHost("127.0.0.1", peer.port, resolver);
  TlsSettings settings = trustingTestRoot();
  settings.peerName = "localhost";
  ASSERT_TRUE(pair.input->setTlsSettings(settings));
  recorder.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return recorder.has("r:end") || recorder.has("r:error"); }));
  EXPECT_EQ(recorder.received, "last words");
  EXPECT_TRUE(recorder.has("r:end"));
  EXPECT_FALSE(recorder.has("r:error")) << "SSL error " << pair.input->error().code;
  EXPECT_EQ(pair.input->status(), StreamStatus::AtEnd);
}

TEST_F(TlsStreamTest, UntrustedOrMisnamedServersAreRefusedWithAnSslError) {
  PythonTlsPeer peer(pki.server);
  ASSERT_NE(peer.port, 0);
  // The system's anchors do not know the test root.
  auto untrusted = SocketStream::pairToHost("127.0.0.1", peer.port, resolver);
  untrusted.input->setTlsSettings(TlsSettings{});
  recorder.attach(untrusted, loop);
  untrusted.input->open();
  untrusted.output->open();
  ASSERT_TRUE(spin([&] { return recorder.has("r:error"); }));
  EXPECT_FALSE(recorder.has("w:space"));
  EXPECT_EQ(untrusted.input->error(), StreamError::ssl(TlsErrorCode::kCertificateRejected));
  EXPECT_TRUE(untrusted.input->peerCertificateChain().empty());

  Recorder second;
  auto misnamed = SocketStream::pairToHost("127.0.0.1", peer.port, resolver);
  TlsSettings settings = trustingTestRoot();
  settings.peerName = "bank.example";
  misnamed.output->setTlsSettings(settings);
  second.attach(misnamed, loop);
  misnamed.input->open();
  misnamed.output->open();
  ASSERT_TRUE(spin([&] { return second.has("w:error"); }));
  EXPECT_EQ(misnamed.output->error(), StreamError::ssl(TlsErrorCode::kCertificateRejected));

  // Without validation the same server is accepted, and its chain is there to judge.
  Recorder third;
  auto lenient = SocketStream::pairToHost("127.0.0.1", peer.port, resolver);
  settings.validatesCertificateChain = false;
  lenient.output->setTlsSettings(settings);
  third.attach(lenient, loop);
  lenient.input->open();
  lenient.output->open();
  ASSERT_TRUE(spin([&] { return third.has("w:space") || third.has("w:error"); }));
  EXPECT_TRUE(third.has("w:space"));
  EXPECT_EQ(lenient.input->peerCertificateChain().front(), pki.server.certificateDer);
}

TEST_F(TlsStreamTest, TlsStartsOnAnOpenConnectionAndServesAsServer) {
  // Our server stream over an accepted descriptor, Python's ssl as the client.
  fxtest::LoopbackListener listener;
  fxtest::TempDir dir;
  auto [caPath, unusedKey] = pki.ca.writePem(dir.path(), "ca");
  fxtest::ChildProcess client({fxtest::kPython,
                               (fxtest::sourceDir() / "tests/platform/net/peers/socket_tls_echo.py").string(),
                               "--client", "--ca", caPath, "--port", std::to_string(listener.port()), "--send",
                               "hello from python"});
  int fd = listener.accept();
  ASSERT_GE(fd, 0);
  // The client's hello is on its way at once: whatever the stream has read ahead of it when TLS
  // starts goes to the handshake.
  ASSERT_EQ(fxtest::readSome(fd, 0), "");
  pollfd ready{fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 5000), 1);
  auto pair = SocketStream::pairWithSocket(fd);
  TlsSettings server;
  server.isServer = true;
  server.certificateChain = {pki.server.certificateDer};
  server.privateKey = pki.server.privateKeyDer;
  bool started = false;
  recorder.onReadOpen = [&] {
    ASSERT_TRUE(pair.input->hasBytesAvailable());  // the hello, read ahead in the clear
    started = pair.input->setTlsSettings(server);
    EXPECT_TRUE(pair.output->setTlsSettings(server));  // the same settings again: accepted
    TlsSettings other = server;
    other.isServer = false;
    EXPECT_FALSE(pair.output->setTlsSettings(other));  // different ones once started: refused
    // The hello was handed to the handshake, not left behind as bytes to read (a TLS 1.3 server
    // may already count as secure here: it needs nothing more from the client to send).
    EXPECT_EQ(recorder.received, "");
  };
  recorder.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return started; }));
  ASSERT_TRUE(spin([&] { return recorder.received == "hello from python"; }));
  EXPECT_EQ(client.readLine().value_or("").rfind("secured TLSv1.", 0), 0u);
  std::string reply = "hello from the stream";
  pair.output->write(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
  ASSERT_TRUE(spin([&] { return recorder.received == "hello from python" + reply; }));
}

TEST_F(TlsStreamTest, SettingsThatCannotMakeASessionAreRefused) {
  fxtest::LoopbackListener listener;
  auto pair = SocketStream::pairToHost("127.0.0.1", listener.port(), resolver);
  recorder.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return recorder.has("w:space"); }));
  TlsSettings server;
  server.isServer = true;  // without a certificate
  EXPECT_FALSE(pair.input->setTlsSettings(server));
  EXPECT_FALSE(pair.input->tlsSettings());
  EXPECT_EQ(pair.input->status(), StreamStatus::Open);
}

TEST_F(TlsStreamTest, IPv6LoopbackWhereTheMachineHasIt) {
  if (!fxtest::hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  PythonTlsPeer peer(pki.server, "over six\n", true);
  ASSERT_NE(peer.port, 0);
  auto pair = SocketStream::pairToHost("::1", peer.port, resolver);
  pair.input->setTlsSettings(trustingTestRoot());
  recorder.attach(pair, loop);
  pair.input->open();
  pair.output->open();
  ASSERT_TRUE(spin([&] { return recorder.received == "over six\n"; }));
  EXPECT_TRUE(SocketAddress::peer(*pair.input->nativeSocket())->isIPv6());
}

}  // namespace
}  // namespace pf
