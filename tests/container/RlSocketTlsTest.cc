#include <gtest/gtest.h>

#include "container/RlSocket.h"
#include "container/RlSocketTestSupport.h"
#include "platform/net/SocketTestSupport.h"
#include "platform/net/TlsTestCertificates.h"
#include "support/TestSupport.h"

namespace container {
namespace {

class RlSocketTlsTest : public ::testing::Test {
 protected:
  fxtest::TestPki pki;
  std::shared_ptr<RecordingDelegate> serverDelegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<RecordingDelegate> clientDelegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<pf::RunLoop> loop = pf::RunLoop::current();

  bool spin(const std::function<bool()>& done) { return loop->spinUntil(done, 10.0); }

  pf::TlsSettings clientSettings() const {
    pf::TlsSettings settings;
    settings.peerName = "localhost";
    settings.anchorCertificates = {pki.ca.certificateDer};
    return settings;
  }
  pf::TlsSettings serverSettings() const {
    pf::TlsSettings settings;
    settings.isServer = true;
    settings.certificateChain = {pki.server.certificateDer, pki.ca.certificateDer};
    settings.privateKey = pki.server.privateKeyDer;
    return settings;
  }

  // A listening RlSocket and a connected client; the accepted socket is serverDelegate->accepted[0].
  std::pair<std::shared_ptr<RlSocket>, std::shared_ptr<RlSocket>> connectedPair() {
    auto listener = RlSocket::create(serverDelegate);
    EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    auto client = RlSocket::create(clientDelegate);
    EXPECT_TRUE(client->connectToHost("127.0.0.1", listener->localPort()));
    EXPECT_TRUE(spin([&] { return clientDelegate->called("connect") && serverDelegate->called("connect"); }));
    return {listener, client};
  }
};

TEST_F(RlSocketTlsTest, ClientSecuresAgainstPythonsSslServer) {
  fxtest::TempDir dir;
  auto [crt, key] = pki.server.writePem(dir.path(), "server");
  fxtest::ChildProcess peer({fxtest::kPython,
                             (fxtest::sourceDir() / "tests/platform/net/peers/socket_tls_echo.py").string(), "--cert",
                             crt, "--key", key});
  auto port = peer.readLine();
  ASSERT_TRUE(port);
  auto client = RlSocket::create(clientDelegate);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", static_cast<std::uint16_t>(std::stoi(*port)), 5.0));
  client->startTLS(clientSettings());
  client->writeData(pf::toBytes("secret order\n"), 5.0, 1);
  client->readDataToData(RlSocket::LFData(), 5.0, 2);
  ASSERT_TRUE(spin([&] { return clientDelegate->called("read 2"); }));
  auto calls = clientDelegate->snapshot();
  EXPECT_EQ(calls, (std::vector<std::string>{"willConnect", "connect 127.0.0.1", "secure", "wrote 1",
                                             "read 2 secret order\n"}));
  EXPECT_EQ(client->getCFReadStream()->peerCertificateChain().at(0), pki.server.certificateDer);
}

TEST_F(RlSocketTlsTest, ServerAndClientSocketsSecureAfterTheirPendingReadsAndWrites) {
  auto [listener, client] = connectedPair();
  auto accepted = serverDelegate->accepted.at(0);
  // The client's TLS waits behind a write and a read in plain text.
  client->writeData(pf::toBytes("STARTTLS\n"), 5.0, 1);
  client->readDataToData(RlSocket::LFData(), 5.0, 2);
  client->startTLS(clientSettings());
  client->writeData(pf::toBytes("over tls\n"), 5.0, 3);
  accepted->readDataToData(RlSocket::LFData(), 5.0, 10);
  ASSERT_TRUE(spin([&] { return serverDelegate->called("read 10 STARTTLS\n"); }));
  EXPECT_FALSE(clientDelegate->called("secure"));
  // The write side is already at the TLS packet, which the description does not try to show.
  EXPECT_NE(client->description().find("currently read 0 bytes (0% done), no current write, "), std::string::npos)
      << client->description();
  accepted->writeData(pf::toBytes("GO\n"), 5.0, 11);
  accepted->startTLS(serverSettings());
  accepted->readDataToData(RlSocket::LFData(), 5.0, 12);
  ASSERT_TRUE(spin([&] { return serverDelegate->called("read 12"); }));
  EXPECT_EQ(serverDelegate->reads.back(), pf::toBytes("over tls\n"));
  auto calls = clientDelegate->snapshot();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "secure"), 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"willConnect", "connect 127.0.0.1", "wrote 1", "read 2 GO\n", "secure",
                                             "wrote 3"}));
  EXPECT_TRUE(serverDelegate->called("secure"));
  EXPECT_TRUE(client->getCFReadStream()->isSecure());
}

TEST_F(RlSocketTlsTest, UntrustedServerClosesTheClientWithTheSslError) {
  auto [listener, client] = connectedPair();
  auto accepted = serverDelegate->accepted.at(0);
  pf::TlsSettings strict;  // the system's anchors only: the test root is unknown
  client->startTLS(strict);
  accepted->startTLS(serverSettings());
  ASSERT_TRUE(spin([&] { return clientDelegate->didDisconnect && serverDelegate->didDisconnect; }));
  EXPECT_TRUE(clientDelegate->called("willDisconnect kCFStreamErrorDomainSSL " +
                                     std::to_string(pf::TlsErrorCode::kCertificateRejected)));
  EXPECT_FALSE(clientDelegate->called("secure"));
}

TEST_F(RlSocketTlsTest, PlaintextReadAheadWhenTlsStartsClosesInsteadOfPassingAsSecure) {
  auto [listener, client] = connectedPair();
  auto accepted = serverDelegate->accepted.at(0);
  // The server's answer and bytes an attacker slipped in behind it arrive together: the read
  // ahead keeps the extra bytes, which must not later come out as if they had come over TLS.
  client->readDataToData(RlSocket::LFData(), 5.0, 1);
  client->startTLS(clientSettings());
  accepted->writeData(pf::toBytes("GO\ninjected"), 5.0, 1);
  ASSERT_TRUE(spin([&] { return clientDelegate->didDisconnect; }));
  EXPECT_TRUE(clientDelegate->called("read 1 GO\n"));
  EXPECT_TRUE(clientDelegate->called("willDisconnect kCFStreamErrorDomainSSL " +
                                     std::to_string(pf::TlsErrorCode::kPlaintextBeforeHandshake)));
  EXPECT_FALSE(clientDelegate->called("secure"));
}

TEST_F(RlSocketTlsTest, ServerWithoutACertificateFailsToStartTls) {
  auto [listener, client] = connectedPair();
  auto accepted = serverDelegate->accepted.at(0);
  pf::TlsSettings broken;
  broken.isServer = true;
  accepted->startTLS(broken);
  ASSERT_TRUE(spin([&] { return serverDelegate->didDisconnect; }));
  EXPECT_TRUE(serverDelegate->called("willDisconnect RlSocketErrorDomain -1"));
}

}  // namespace
}  // namespace container
