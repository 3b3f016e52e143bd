#pragma once
// The loopback REST peer of the API layer tests (peers/api_server.py), started once per test
// executable: plain HTTP, HTTPS self-signed, HTTPS under a test CA and plain HTTP on the IPv6
// loopback, with scripted answers and
// a record of every request as Python's form and JSON decoders read it.

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "appnet/TnqHTTPRequestOperation.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"
#include "support/PeerProcess.h"
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
  ApiPeer()
      : peer_({kPython, (sourceDir() / "tests/app/peers/api_server.py").string(), dir_.path().string()},
              {"HTTP", "SELF", "CHAIN", "HTTP6"}, 30000),
        http_(peer_.port("HTTP")),
        self_(peer_.port("SELF")),
        chain_(peer_.port("CHAIN")),
        http6_(peer_.port("HTTP6")) {}

  std::string control(const std::string& path, const std::string& body = "{}") {
    pf::UrlRequest request(pf::Url::parse(base() + path));
    request.setHttpMethod(path == "/_control/requests" ? "GET" : "POST");
    if (request.httpMethod() == "POST") request.setHttpBody(pf::toBytes(body));
    auto operation = appnet::TnqHTTPRequestOperation::make(request);
    operation->start();
    operation->waitUntilFinished();
    if (operation->error()) throw std::runtime_error("the REST peer did not answer " + path);
    auto data = operation->responseData();
    return data ? pf::toString(*data) : std::string();
  }

  TempDir dir_;
  PeerProcess peer_;
  const int http_, self_, chain_, http6_;
};

}  // namespace fxtest
