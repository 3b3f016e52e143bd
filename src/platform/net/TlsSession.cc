#include "platform/net/TlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>

#include "platform/foundation/Log.h"

namespace pf {
namespace {

Bytes derOf(X509* certificate) {
  int length = i2d_X509(certificate, nullptr);
  if (length <= 0) return {};
  Bytes der(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  i2d_X509(certificate, &out);
  return der;
}

bool isAddressLiteral(const std::string& name) {
  unsigned char scratch[16];
  return inet_pton(AF_INET, name.c_str(), scratch) == 1 || inet_pton(AF_INET6, name.c_str(), scratch) == 1;
}

// Leaf first, then the rest of `chain` without a second copy of the leaf.
std::vector<Bytes> chainOf(X509* leaf, STACK_OF(X509) * chain) {
  std::vector<Bytes> result;
  if (leaf) result.push_back(derOf(leaf));
  if (chain) {
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      X509* certificate = sk_X509_value(chain, i);
      if (leaf && X509_cmp(certificate, leaf) == 0) continue;
      result.push_back(derOf(certificate));
    }
  }
  return result;
}

// A socket BIO that sends with MSG_NOSIGNAL (a peer that has gone away gives EPIPE, not SIGPIPE)
// and reads the bytes received before TLS started ahead of the descriptor.
TlsSession::Transport& transportOf(BIO* bio) { return *static_cast<TlsSession::Transport*>(BIO_get_data(bio)); }

int socketFd(BIO* bio) { return transportOf(bio).fd; }

bool retryable(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int bioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t sent = ::send(socketFd(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  if (sent < 0 && retryable(errno)) BIO_set_retry_write(bio);
  return static_cast<int>(sent);
}

int bioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  auto& transport = transportOf(bio);
  if (transport.offset < transport.received.size()) {
    std::size_t n = std::min(static_cast<std::size_t>(length), transport.received.size() - transport.offset);
    std::memcpy(data, transport.received.data() + transport.offset, n);
    transport.offset += n;
    if (transport.offset == transport.received.size()) Bytes().swap(transport.received);
    return static_cast<int>(n);
  }
  ssize_t received = ::recv(socketFd(bio), data, static_cast<std::size_t>(length), 0);
  if (received < 0 && retryable(errno)) BIO_set_retry_read(bio);
  if (received == 0) transport.ended = true;
  return static_cast<int>(received);
}

// OpenSSL asks BIO_CTRL_EOF when a read gives nothing: only a BIO that says the peer has gone lets
// a connection closed without close_notify end the stream (SSL_OP_IGNORE_UNEXPECTED_EOF) instead
// of failing it.
long bioControl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return transportOf(bio).ended ? 1 : 0;
    default: return 0;
  }
}

int bioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO* newSocketBio(TlsSession::Transport* transport) {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pf socket");
    BIO_meth_set_write(m, bioWrite);
    BIO_meth_set_read(m, bioRead);
    BIO_meth_set_ctrl(m, bioControl);
    BIO_meth_set_create(m, bioCreate);
    return m;
  }();
  BIO* bio = BIO_new(method);
  if (bio) BIO_set_data(bio, transport);
  return bio;
}

}  // namespace

std::unique_ptr<TlsSession> TlsSession::create(int fd, const TlsSettings& settings, const std::string& peerName,
                                               Verifier verifier, StreamError* error, Bytes alreadyReceived) {
  auto fail = [&](std::int32_t code) {
    ERR_clear_error();
    if (error) *error = StreamError::ssl(code);
    return std::unique_ptr<TlsSession>();
  };
  if (fd < 0) return fail(TlsErrorCode::kBadSettings);
  if (settings.isServer && (settings.certificateChain.empty() || settings.privateKey.empty())) {
    return fail(TlsErrorCode::kBadSettings);
  }
  std::unique_ptr<TlsSession> session(new TlsSession());
  session->peerName_ = peerName;
  session->transport_.fd = fd;
  session->transport_.received = std::move(alreadyReceived);
  session->verifier_ = std::move(verifier);
  session->context_ = SSL_CTX_new(settings.isServer ? TLS_server_method() : TLS_client_method());
  if (!session->context_) return fail(TlsErrorCode::kBadSettings);
  SSL_CTX* context = session->context_;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // A peer that drops the connection without close_notify ends the stream like a plain socket would.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);

  if (!settings.certificateChain.empty()) {
    for (std::size_t i = 0; i < settings.certificateChain.size(); ++i) {
      const unsigned char* in = settings.certificateChain[i].data();
      X509* certificate = d2i_X509(nullptr, &in, static_cast<long>(settings.certificateChain[i].size()));
      if (!certificate) return fail(TlsErrorCode::kBadSettings);
      int ok = i == 0 ? SSL_CTX_use_certificate(context, certificate) : SSL_CTX_add1_chain_cert(context, certificate);
      X509_free(certificate);
      if (ok != 1) return fail(TlsErrorCode::kBadSettings);
    }
    const unsigned char* in = settings.privateKey.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(settings.privateKey.size()));
    if (!key) return fail(TlsErrorCode::kBadSettings);
    int ok = SSL_CTX_use_PrivateKey(context, key);
    EVP_PKEY_free(key);
    if (ok != 1 || SSL_CTX_check_private_key(context) != 1) return fail(TlsErrorCode::kBadSettings);
  }

  if (!settings.isServer && settings.validatesCertificateChain) {
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, &TlsSession::verifyCallback, session.get());
  } else {
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  }

  session->ssl_ = SSL_new(context);
  if (!session->ssl_) return fail(TlsErrorCode::kBadSettings);
  BIO* bio = newSocketBio(&session->transport_);
  if (!bio) return fail(TlsErrorCode::kBadSettings);
  SSL_set_bio(session->ssl_, bio, bio);
  if (settings.isServer) {
    SSL_set_accept_state(session->ssl_);
  } else {
    SSL_set_connect_state(session->ssl_);
    if (!peerName.empty() && !isAddressLiteral(peerName)) {
      SSL_set_tlsext_host_name(session->ssl_, peerName.c_str());
    }
  }
  return session;
}

TlsSession::~TlsSession() {
  if (ssl_) SSL_free(ssl_);  // the descriptor belongs to the stream
  if (context_) SSL_CTX_free(context_);
}

int TlsSession::verifyCallback(X509_STORE_CTX* store, void* arg) {
  auto* self = static_cast<TlsSession*>(arg);
  // Called by OpenSSL: a raising verifier trusts nothing.
  bool trusted = callGuarded("a TLS certificate check", false, [&] {
    std::vector<Bytes> chain = chainOf(X509_STORE_CTX_get0_cert(store), X509_STORE_CTX_get0_untrusted(store));
    return !chain.empty() && self->verifier_ && self->verifier_(chain, self->peerName_);
  });
  if (!trusted) {
    self->rejectedByVerifier_ = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  }
  return trusted ? 1 : 0;
}

StreamError TlsSession::failure(int sslResult, int sslError) {
  int savedErrno = errno;
  ERR_clear_error();
  if (rejectedByVerifier_) return StreamError::ssl(TlsErrorCode::kCertificateRejected);
  if (sslError == SSL_ERROR_SYSCALL) {
    if (savedErrno != 0 && sslResult < 0) return StreamError::posix(savedErrno);
    return StreamError::ssl(established_ ? TlsErrorCode::kProtocol : TlsErrorCode::kClosedAbort);
  }
  return StreamError::ssl(established_ ? TlsErrorCode::kProtocol : TlsErrorCode::kHandshakeFailed);
}

bool TlsSession::handshake(Want* want, StreamError* error) {
  *want = Want::Nothing;
  if (established_) return true;
  errno = 0;
  int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    established_ = true;
    return true;
  }
  int code = SSL_get_error(ssl_, result);
  if (code == SSL_ERROR_WANT_READ) {
    *want = Want::Read;
  } else if (code == SSL_ERROR_WANT_WRITE) {
    *want = Want::Write;
  } else if (code == SSL_ERROR_ZERO_RETURN) {
    *error = StreamError::ssl(TlsErrorCode::kClosedAbort);
  } else {
    *error = failure(result, code);
  }
  return false;
}

long TlsSession::read(std::uint8_t* buffer, std::size_t length, Want* want, StreamError* error) {
  *want = Want::Nothing;
  if (length == 0) return 0;
  std::size_t count = 0;
  errno = 0;
  int result = SSL_read_ex(ssl_, buffer, length, &count);
  if (result == 1) return static_cast<long>(count);
  int code = SSL_get_error(ssl_, result);
  switch (code) {
    case SSL_ERROR_WANT_READ: *want = Want::Read; return 0;
    case SSL_ERROR_WANT_WRITE: *want = Want::Write; return 0;
    case SSL_ERROR_ZERO_RETURN: ERR_clear_error(); return 0;
    default: *error = failure(result, code); return -1;
  }
}

long TlsSession::write(const std::uint8_t* buffer, std::size_t length, Want* want, StreamError* error) {
  *want = Want::Nothing;
  if (length == 0) return 0;
  std::size_t count = 0;
  errno = 0;
  int result = SSL_write_ex(ssl_, buffer, length, &count);
  if (result == 1) return static_cast<long>(count);
  int code = SSL_get_error(ssl_, result);
  switch (code) {
    case SSL_ERROR_WANT_READ: *want = Want::Read; return 0;
    case SSL_ERROR_WANT_WRITE: *want = Want::Write; return 0;
    default: *error = failure(result, code); return -1;
  }
}

std::size_t TlsSession::pending() const { return ssl_ ? static_cast<std::size_t>(SSL_pending(ssl_)) : 0; }

std::vector<Bytes> TlsSession::peerChain() const {
  if (!ssl_) return {};
  X509* leaf = SSL_get1_peer_certificate(ssl_);
  std::vector<Bytes> chain = chainOf(leaf, SSL_get_peer_cert_chain(ssl_));
  if (leaf) X509_free(leaf);
  return chain;
}

void TlsSession::shutdown() {
  if (ssl_ && established_) {
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
}

}  // namespace pf
