#pragma once
// The loopback REST peer of the API layer tests (peers/api_server.py), started once per test
// executable: plain HTTP, HTTPS self-signed, HTTPS under a test CA and plain HTTP on the IPv6
// loopback, with scripted answers and
// a record of every request as Python's form and JSON decoders read it.

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "appnet/TnqHTTPRequestOperation.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"
#include "support/TestSupport.h"

namespace fxtest {

class ApiPeer {
 public:
  enum class Scheme { Http, SelfSigned, Chain, Http6 };

  static ApiPeer& shared() {
    static ApiPeer peer;
    return peer;
  }

  std::string base(Scheme scheme = Scheme::Http) const {
    switch (scheme) {
      case Scheme::SelfSigned: return "https://127.0.0.1:" + std::to_string(self_);
      case Scheme::Chain: return "https://127.0.0.1:" + std::to_string(chain_);
      case Scheme::Http6: return "http://[::1]:" + std::to_string(http6_);
      default: return "http://127.0.0.1:" + std::to_string(http_);
    }
  }
  pf::Bytes der(const std::string& name) const {
    std::ifstream in(dir_ / (name + ".der"), std::ios::binary);
    return pf::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  void reset() { control("/_control/reset"); }
  void release() { control("/_control/release"); }
  // The answer to `method path`: mode "answer", "hold", "drop" or "endless".
  void script(const std::string& method, const std::string& path, int status, const std::string& body,
              const std::string& contentType = "application/json", const std::string& mode = "answer") {
    pf::Value s{{"method", method}, {"path", path}, {"status", status},
                {"body_b64", pf::base64Encode(pf::toBytes(body))}, {"content_type", contentType}, {"mode", mode}};
    control("/_control/script", *pf::writeJson(s));
  }
  // The recorded requests, oldest first.
  pf::Value requests() { return pf::parseJson(control("/_control/requests")).value_or(pf::Value::array()); }

 private:
  ApiPeer() {
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kPython, (sourceDir() / "tests/app/peers/api_server.py").string(), dir_.path().string()});
    for (int i = 0; i < 4; ++i) {
      auto line = child_->readLine(30000);
      if (!line) throw std::runtime_error("the REST peer did not start");
      auto port = [&](const char* tag) { return std::stoi(line->substr(std::string(tag).size() + 1)); };
      if (line->rfind("HTTP ", 0) == 0) http_ = port("HTTP");
      if (line->rfind("SELF ", 0) == 0) self_ = port("SELF");
      if (line->rfind("CHAIN ", 0) == 0) chain_ = port("CHAIN");
      if (line->rfind("HTTP6 ", 0) == 0) http6_ = port("HTTP6");
    }
  }

  std::string control(const std::string& path, const std::string& body = "{}") {
    pf::UrlRequest request(pf::Url::parse(base() + path));
    request.setHttpMethod(path == "/_control/requests" ? "GET" : "POST");
    if (request.httpMethod() == "POST") request.setHttpBody(pf::toBytes(body));
    auto operation = appnet::TnqHTTPRequestOperation::make(request);
    operation->start();
    operation->waitUntilFinished();
    if (operation->error()) throw std::runtime_error("the REST peer did not answer " + path);
    return pf::toString(operation->responseData().value_or(pf::Bytes()));
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> child_;
  int http_ = 0, self_ = 0, chain_ = 0, http6_ = 0;
};

}  // namespace fxtest
