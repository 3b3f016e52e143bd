#include "container/MwServletRequest.h"

#include <cmath>
#include <cstdlib>

#include "platform/foundation/Text.h"
#include "platform/net/Url.h"

namespace container {
namespace {

bool flag(const pf::Value& message, const char* key) {
  const pf::Value* v = pf::valueForKey(message, key);
  return v && (v->is_boolean() || v->is_number() || v->is_string()) && pf::boolValue(*v);
}

std::string text(const pf::Value& message, const char* key) {
  const pf::Value* v = pf::valueForKey(message, key);
  if (!v || v->is_null()) return {};
  return v->is_string() ? v->get<std::string>() : pf::stringValue(*v);
}

// The value of "action" in a query ("action=create&x=1"), percent-escapes decoded.
std::string actionOf(const std::string& query) {
  for (const auto& pair : pf::splitText(query, "&")) {
    auto eq = pair.find('=');
    if (eq == std::string::npos || pair.compare(0, eq, "action") != 0) continue;
    return pf::percentDecode(pair.substr(eq + 1));
  }
  return {};
}

}  // namespace

std::string MwServletRequest::requestIdOf(const pf::Value& message) {
  const pf::Value* id = message.is_object() ? pf::valueForKey(message, "requestId") : nullptr;
  if (!id || !(id->is_string() || id->is_number())) return {};
  return id->is_string() ? id->get<std::string>() : pf::stringValue(*id);
}

std::optional<MwServletRequest> MwServletRequest::parse(const pf::Value& message) {
  const pf::Value* url = message.is_object() ? pf::valueForKey(message, "url") : nullptr;
  if (!url || !url->is_string()) return std::nullopt;

  MwServletRequest request;
  request.requestId_ = requestIdOf(message);
  if (request.requestId_.empty()) return std::nullopt;
  request.url_ = url->get<std::string>();
  if (const pf::Value* data = pf::valueForKey(message, "data")) request.data_ = *data;
  request.callback_ = text(message, "callback");
  if (const pf::Value* t = pf::valueForKey(message, "timeout")) {
    if (t->is_number()) {
      request.timeout_ = t->get<double>();
    } else if (t->is_string()) {
      // Only a text that is a number in full; anything else is no waiting time.
      const std::string& text = t->get_ref<const std::string&>();
      char* end = nullptr;
      double value = std::strtod(text.c_str(), &end);
      if (!text.empty() && end == text.c_str() + text.size()) request.timeout_ = value;
    }
  }
  request.waiting_ = flag(message, "waiting");
  request.block_ = flag(message, "block");
  request.cancelable_ = flag(message, "cancelable");

  if (auto parsed = pf::Url::parse(request.url_)) {
    const std::string& scheme = parsed->scheme();
    if (scheme == "client") {
      request.scheme_ = kSchemeClient;
      request.servletName_ = parsed->host();
    } else if (scheme == "http" || scheme == "https") {
      request.scheme_ = kSchemeServer;
      request.businessPath_ = parsed->lastPathComponent();
      if (request.businessPath_ == "/") request.businessPath_.clear();
      if (parsed->query() && !request.businessPath_.empty()) request.businessPath_ += "?" + *parsed->query();
    }
    if (parsed->query()) request.action_ = actionOf(*parsed->query());
  }
  return request;
}

}  // namespace container
