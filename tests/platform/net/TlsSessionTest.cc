#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net/TlsSession.h"
#include "platform/net/TlsTestCertificates.h"

namespace pf {
namespace {

using Want = TlsSession::Want;

struct SocketPair {
  int fds[2] = {-1, -1};
  SocketPair() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  }
  ~SocketPair() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
};

// Runs both handshakes in turn until neither makes progress; answers whether both completed.
bool handshakeBoth(TlsSession& client, TlsSession& server, StreamError* clientError, StreamError* serverError) {
  for (int round = 0; round < 100; ++round) {
    Want want;
    bool c = client.handshake(&want, clientError);
    if (!c && want == Want::Nothing) return false;
    bool s = server.handshake(&want, serverError);
    if (!s && want == Want::Nothing) return false;
    if (c && s) return true;
  }
  return false;
}

class TlsSessionTest : public ::testing::Test {
 protected:
  fxtest::TestPki pki;
  SocketPair pair;

  TlsSettings serverSettings() const {
    TlsSettings s;
    s.isServer = true;
    s.certificateChain = {pki.server.certificateDer, pki.ca.certificateDer};
    s.privateKey = pki.server.privateKeyDer;
    return s;
  }
};

TEST_F(TlsSessionTest, ClientAndServerExchangeBytesAfterTheVerifierAcceptsTheChain) {
  std::vector<Bytes> seenChain;
  std::string seenName;
  StreamError error;
  auto client = TlsSession::create(
      pair.fds[0], TlsSettings{}, "localhost",
      [&](const std::vector<Bytes>& chain, const std::string& name) {
        seenChain = chain;
        seenName = name;
        return true;
      },
      &error);
  auto server = TlsSession::create(pair.fds[1], serverSettings(), "", nullptr, &error);
  ASSERT_TRUE(client && server);
  StreamError clientError, serverError;
  ASSERT_TRUE(handshakeBoth(*client, *server, &clientError, &serverError));
  EXPECT_EQ(seenName, "localhost");
  ASSERT_EQ(seenChain.size(), 2u);
  EXPECT_EQ(seenChain[0], pki.server.certificateDer);
  EXPECT_EQ(seenChain[1], pki.ca.certificateDer);
  EXPECT_EQ(client->peerChain(), seenChain);
  EXPECT_TRUE(server->peerChain().empty());

  Want want;
  Bytes message = toBytes("hello over tls");
  ASSERT_EQ(client->write(message.data(), message.size(), &want, &error), long(message.size()));
  Bytes got(64);
  long n = server->read(got.data(), got.size(), &want, &error);
  ASSERT_EQ(n, long(message.size()));
  got.resize(size_t(n));
  EXPECT_EQ(got, message);
  // Nothing more: the session asks for the descriptor.
  EXPECT_EQ(server->read(got.data(), got.size(), &want, &error), 0);
  EXPECT_EQ(want, Want::Read);

  // A clean close reads as 0 with nothing wanted.
  client->shutdown();
  EXPECT_EQ(server->read(got.data(), got.size(), &want, &error), 0);
  EXPECT_EQ(want, Want::Nothing);
}

TEST_F(TlsSessionTest, RejectedChainFailsTheClientHandshakeWithCertificateRejected) {
  StreamError error;
  auto client = TlsSession::create(
      pair.fds[0], TlsSettings{}, "localhost", [](const std::vector<Bytes>&, const std::string&) { return false; },
      &error);
  auto server = TlsSession::create(pair.fds[1], serverSettings(), "", nullptr, &error);
  ASSERT_TRUE(client && server);
  StreamError clientError, serverError;
  EXPECT_FALSE(handshakeBoth(*client, *server, &clientError, &serverError));
  EXPECT_EQ(clientError, StreamError::ssl(TlsErrorCode::kCertificateRejected));
  // The server learns of it through the client's alert.
  Want want;
  EXPECT_FALSE(server->handshake(&want, &serverError));
  EXPECT_EQ(serverError.domain, StreamErrorDomain::SSL);
}

TEST_F(TlsSessionTest, WithoutValidationTheVerifierIsNeverAsked) {
  TlsSettings settings;
  settings.validatesCertificateChain = false;
  bool asked = false;
  StreamError error;
  auto client = TlsSession::create(
      pair.fds[0], settings, "other.example",
      [&](const std::vector<Bytes>&, const std::string&) { return asked = true, false; }, &error);
  auto server = TlsSession::create(pair.fds[1], serverSettings(), "", nullptr, &error);
  StreamError clientError, serverError;
  ASSERT_TRUE(handshakeBoth(*client, *server, &clientError, &serverError));
  EXPECT_FALSE(asked);
  EXPECT_EQ(client->peerChain().at(0), pki.server.certificateDer);
}

TEST_F(TlsSessionTest, UnusableSettingsMakeNoSession) {
  StreamError error;
  TlsSettings noCertificate;
  noCertificate.isServer = true;
  EXPECT_FALSE(TlsSession::create(pair.fds[1], noCertificate, "", nullptr, &error));
  EXPECT_EQ(error, StreamError::ssl(TlsErrorCode::kBadSettings));

  TlsSettings wrongKey = serverSettings();
  wrongKey.privateKey = pki.ca.privateKeyDer;
  error = {};
  EXPECT_FALSE(TlsSession::create(pair.fds[1], wrongKey, "", nullptr, &error));
  EXPECT_EQ(error, StreamError::ssl(TlsErrorCode::kBadSettings));

  TlsSettings garbage = serverSettings();
  garbage.certificateChain = {toBytes("not a certificate")};
  error = {};
  EXPECT_FALSE(TlsSession::create(pair.fds[1], garbage, "", nullptr, &error));
  EXPECT_EQ(error, StreamError::ssl(TlsErrorCode::kBadSettings));
}

TEST_F(TlsSessionTest, PeerGoingAwayDuringTheHandshakeIsAnAbort) {
  StreamError error;
  auto client = TlsSession::create(
      pair.fds[0], TlsSettings{}, "localhost", [](const std::vector<Bytes>&, const std::string&) { return true; },
      &error);
  Want want;
  EXPECT_FALSE(client->handshake(&want, &error));
  EXPECT_EQ(want, Want::Read);
  close(pair.fds[1]);
  pair.fds[1] = -1;
  EXPECT_FALSE(client->handshake(&want, &error));
  EXPECT_EQ(want, Want::Nothing);
  EXPECT_TRUE(error.isError());  // a reset (POSIX) or an abort (SSL), as the kernel tells it
}

}  // namespace
}  // namespace pf
