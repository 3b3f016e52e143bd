#pragma once
// The loopback peer of the HTTP client tests (peers/http_client_server.py), started once per test
// executable, with the test PKI it makes (CA, intermediate, leaf, self-signed; DER).

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/foundation/Bytes.h"
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
  HttpClientPeer() {
    child_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        kPython, (sourceDir() / "tests/appnet/peers/http_client_server.py").string(), dir_.path().string()});
    for (int i = 0; i < 3; ++i) {
      auto line = child_->readLine(30000);
      if (!line) throw std::runtime_error("the HTTP client peer did not start");
      auto port = [&](const char* tag) { return std::stoi(line->substr(std::string(tag).size() + 1)); };
      if (line->rfind("HTTP ", 0) == 0) http_ = port("HTTP");
      if (line->rfind("CHAIN ", 0) == 0) chain_ = port("CHAIN");
      if (line->rfind("SELF ", 0) == 0) self_ = port("SELF");
    }
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> child_;
  int http_ = 0, chain_ = 0, self_ = 0;
};

}  // namespace fxtest
