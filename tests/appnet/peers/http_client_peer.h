#pragma once
// The loopback peer of the HTTP client tests (peers/http_client_server.py), started once per test
// executable, with the test PKI it makes (CA, intermediate, leaf, self-signed; DER).

#include <fstream>
#include <iterator>
#include <string>

#include "platform/foundation/Bytes.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

namespace fxtest {

class HttpClientPeer {
 public:
  static HttpClientPeer& shared() {
    static HttpClientPeer peer;
    return peer;
  }
  std::string http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(http_) + path; }
  std::string chain(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(chain_) + path; }
  std::string self(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(self_) + path; }
  pf::Bytes der(const std::string& name) const {
    std::ifstream in(dir_ / (name + ".der"), std::ios::binary);
    return pf::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  HttpClientPeer()
      : process_({kPython, (sourceDir() / "tests/appnet/peers/http_client_server.py").string(), dir_.path().string()},
                 {"HTTP", "CHAIN", "SELF"}, 30000),
        http_(process_.port("HTTP")),
        chain_(process_.port("CHAIN")),
        self_(process_.port("SELF")) {}

  TempDir dir_;
  PeerProcess process_;
  int http_, chain_, self_;
};

}  // namespace fxtest
