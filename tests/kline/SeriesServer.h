#pragma once
// The series peer serving over loopback HTTP and HTTPS (tools/kline_series.py "serve"), started once
// per test executable; its certificate chain ends in ca.der.

#include <fstream>
#include <iterator>
#include <string>

#include "kline/KLineHttpEngine.h"
#include "kline/KLineTestSupport.h"
#include "platform/security/Certificate.h"
#include "support/PeerProcess.h"

namespace klinetest {

class SeriesServer {
 public:
  static constexpr int kRows = 150;
  static SeriesServer& shared() {
    static SeriesServer server;
    return server;
  }
  std::string http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(http_) + path; }
  std::string https(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(https_) + path; }
  // How many series and refresh packets the peer was asked for so far (every test of the run).
  int asked() const {
    const pf::Bytes count = kline::KLineHttpEngine::getToAddr(http("/count"), std::nullopt);
    return std::stoi("0" + std::string(count.begin(), count.end()));
  }
  pf::Certificate anchor() const {
    std::ifstream in(dir_.path() / "ca.der", std::ios::binary);
    pf::Bytes der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return *pf::Certificate::fromDer(der);
  }

 private:
  SeriesServer()
      : peer_({fxtest::kPython, peerScript(), "serve", dir_.path().string(), "5", std::to_string(kRows)},
              {"HTTP", "HTTPS"}, 30000),
        http_(peer_.port("HTTP")),
        https_(peer_.port("HTTPS")) {}

  fxtest::TempDir dir_;
  fxtest::PeerProcess peer_;
  const int http_, https_;
};

}  // namespace klinetest
