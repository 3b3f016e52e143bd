#pragma once
// TLS over a connected, non-blocking socket descriptor (OpenSSL 3): the engine under the socket
// streams. The session never owns or closes the descriptor.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/net/StreamError.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace pf {

// What a socket stream pair's TLS is to be. A client without settings beyond the defaults checks
// the server's chain and name through the platform's trust evaluation.
struct TlsSettings {
  bool isServer = false;
  // Client: the name sent as server name indication and required of the server's certificate.
  // Absent: the host the stream pair was made for. Empty: no name is sent or required.
  std::optional<std::string> peerName;
  // Client: evaluate the server's chain (and name) before the first byte of data. Off: any server
  // certificate is accepted; the chain is still exposed.
  bool validatesCertificateChain = true;
  // The own certificate chain (DER, leaf first) and the leaf's private key (DER, PKCS#8 or
  // traditional). Required for a server, optional for a client.
  std::vector<Bytes> certificateChain;
  Bytes privateKey;
  // Client: the anchors (DER) the server's chain must lead to, in place of the system's; none
  // means the system's.
  std::vector<Bytes> anchorCertificates;

  bool operator==(const TlsSettings&) const = default;
};

class TlsSession {
 public:
  // Called during the handshake with the peer's chain (DER, leaf first) and the required name
  // (empty: none); answers whether the peer is trusted.
  using Verifier = std::function<bool(const std::vector<Bytes>& chain, const std::string& peerName)>;

  enum class Want { Nothing, Read, Write };

  // A session for the descriptor. peerName is the resolved name (settings' or the pair's host).
  // `alreadyReceived`: bytes taken from the descriptor before TLS started, read before it.
  // Nothing, with *error set, when the settings cannot make a session (a server without a
  // certificate, a key that does not parse or does not match).
  static std::unique_ptr<TlsSession> create(int fd, const TlsSettings& settings, const std::string& peerName,
                                            Verifier verifier, StreamError* error, Bytes alreadyReceived = {});
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Advances the handshake. True when it has completed; false with *want set while it waits for the
  // descriptor, or with *want Nothing and *error set when it failed.
  bool handshake(Want* want, StreamError* error);
  bool established() const { return established_; }

  // Decrypted bytes: > 0 a count; 0 with *want Nothing: the peer closed; 0 with *want set: none
  // yet; -1: failure with *error set.
  long read(std::uint8_t* buffer, std::size_t length, Want* want, StreamError* error);
  // Encrypts and sends: > 0 a count; 0 with *want set: the descriptor is full; -1: *error set.
  long write(const std::uint8_t* buffer, std::size_t length, Want* want, StreamError* error);
  // Decrypted bytes OpenSSL holds that read() returns without touching the descriptor.
  std::size_t pending() const;

  // The peer's certificate chain (DER, leaf first); empty before the handshake or without one.
  std::vector<Bytes> peerChain() const;

  // Sends close_notify if the session is up (best effort; the descriptor is non-blocking).
  void shutdown();

  // What the session's BIO reads from and writes to.
  struct Transport {
    int fd = -1;
    Bytes received;  // taken from the descriptor before TLS started; read first
    std::size_t offset = 0;
    bool ended = false;  // the descriptor gave its end
  };

 private:
  TlsSession() = default;
  StreamError failure(int sslResult, int sslError);
  static int verifyCallback(X509_STORE_CTX* store, void* arg);

  Transport transport_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  bool established_ = false;
  bool rejectedByVerifier_ = false;
  std::string peerName_;
  Verifier verifier_;
};

}  // namespace pf
