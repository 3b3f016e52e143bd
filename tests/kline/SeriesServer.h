#pragma once
// The series peer serving over loopback HTTP and HTTPS (tools/kline_series.py "serve"), started once
// per test executable; its certificate chain ends in ca.der.

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "kline/KLineHttpEngine.h"
#include "kline/KLineTestSupport.h"
#include "platform/security/Certificate.h"

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
  SeriesServer() {
    child_ = std::make_unique<fxtest::ChildProcess>(std::vector<std::string>{
        fxtest::kPython, peerScript(), "serve", dir_.path().string(), "5", std::to_string(kRows)});
    for (int i = 0; i < 2; ++i) {
      auto line = child_->readLine(30000);
      if (!line) throw std::runtime_error("the series peer did not start");
      if (line->rfind("HTTP ", 0) == 0) http_ = std::stoi(line->substr(5));
      if (line->rfind("HTTPS ", 0) == 0) https_ = std::stoi(line->substr(6));
    }
  }

  fxtest::TempDir dir_;
  std::unique_ptr<fxtest::ChildProcess> child_;
  int http_ = 0, https_ = 0;
};

}  // namespace klinetest
