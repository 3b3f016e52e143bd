#pragma once
// The loopback HTTP/HTTPS peer of the URL-loading tests (peers/http_server.py), started once per
// test executable. Its self-signed certificate (localhost, 127.0.0.1) is made at start.

#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/net/Url.h"
#include "platform/net/UrlRequest.h"
#include "platform/security/Certificate.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

namespace fxtest {

class HttpPeer {
 public:
  static HttpPeer& shared() {
    static HttpPeer peer;
    return peer;
  }

  std::string http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(httpPort_) + path; }
  std::string https(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "https://" + host + ":" + std::to_string(httpsPort_) + path;
  }
  // The server that requires a client certificate (the identity clientIdentityPath()).
  std::string httpsClientAuth(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(clientAuthPort_) + path;
  }
  // The client identity: certificate and key in one PEM file, and the certificate alone.
  std::string clientIdentityPath() const { return (dir_ / "peer.pem.client.pem").string(); }
  std::string clientCertificateOnlyPath() const { return (dir_ / "peer.pem.client-cert.pem").string(); }
  pf::UrlRequest request(const std::string& url) const { return pf::UrlRequest(pf::Url::parse(url)); }
  // The server's certificate.
  const pf::Certificate& certificate() const { return *certificate_; }
  int httpPort() const { return httpPort_; }

 private:
  HttpPeer()
      : process_({kPython, (sourceDir() / "tests/platform/net/peers/http_server.py").string(), certPath()},
                 {"HTTP", "HTTPS", "HTTPS_CLIENT"}, 20000),
        httpPort_(process_.port("HTTP")),
        httpsPort_(process_.port("HTTPS")),
        clientAuthPort_(process_.port("HTTPS_CLIENT")) {
    std::ifstream in(certPath());
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    certificate_ = pf::Certificate::fromPem(pem);
    if (!certificate_) throw std::runtime_error("the HTTP peer wrote no certificate");
  }
  std::string certPath() const { return (dir_ / "peer.pem").string(); }

  TempDir dir_;
  PeerProcess process_;
  int httpPort_;
  int httpsPort_;
  int clientAuthPort_;
  std::optional<pf::Certificate> certificate_;
};

}  // namespace fxtest
