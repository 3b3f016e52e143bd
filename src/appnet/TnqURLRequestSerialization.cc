#include "appnet/TnqURLRequestSerialization.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/UrlError.h"
#include "platform/ui/Screen.h"

namespace appnet {

const std::string kTnqURLRequestSerializationErrorDomain = TnqName(".error.serialization.request");

const std::vector<std::string>& TnqObservedRequestKeyPaths() {
  static const std::vector<std::string> paths{"allowsCellularAccess",    "cachePolicy",        "HTTPShouldHandleCookies",
                                              "HTTPShouldUsePipelining", "networkServiceType", "timeoutInterval"};
  return paths;
}

// ---- escaping and pairs

std::string TnqPercentEscapedStringFromString(std::string_view text, TnqStringEncoding encoding, bool key) {
  std::optional<std::string> encoded = TnqEncodeText(text, encoding);
  // A character the encoding cannot represent: its UTF-8 bytes are escaped instead.
  const std::string& bytes = encoded ? *encoded : std::string(text);
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == '~' || (key && (c == '[' || c == ']'));
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string TnqQueryStringPair::URLEncodedStringValueWithEncoding(TnqStringEncoding encoding) const {
  std::string escapedField = TnqPercentEscapedStringFromString(pf::description(field), encoding, true);
  if (!value || value->is_null()) return escapedField;
  return escapedField + "=" + TnqPercentEscapedStringFromString(pf::description(*value), encoding, false);
}

namespace {

void appendPairs(const std::optional<std::string>& key, const pf::Value& value, std::vector<TnqQueryStringPair>& out) {
  if (value.is_object()) {
    std::vector<std::string> keys;
    keys.reserve(value.size());
    for (auto it = value.begin(); it != value.end(); ++it) keys.push_back(it.key());
    // Plain string comparison: UTF-16 code-unit order.
    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) { return pf::compareText(a, b) < 0; });
    for (const auto& k : keys) appendPairs(key ? *key + "[" + k + "]" : k, value[k], out);
  } else if (value.is_array()) {
    for (const auto& element : value) appendPairs((key ? *key : std::string("(null)")) + "[]", element, out);
  } else {
    out.emplace_back(pf::Value(key ? *key : std::string("(null)")), value);
  }
}

}  // namespace

std::vector<TnqQueryStringPair> TnqQueryStringPairsFromKeyAndValue(const std::optional<std::string>& key,
                                                                   const pf::Value& value) {
  std::vector<TnqQueryStringPair> pairs;
  appendPairs(key, value, pairs);
  return pairs;
}

std::string TnqQueryStringFromParametersWithEncoding(const pf::Value& parameters, TnqStringEncoding encoding) {
  std::string out;
  bool first = true;
  for (const auto& pair : TnqQueryStringPairsFromKeyAndValue(std::nullopt, parameters)) {
    if (!first) out.push_back('&');
    first = false;
    out += pair.URLEncodedStringValueWithEncoding(encoding);
  }
  return out;
}

// ---- base serializer

std::vector<std::string> TnqHTTPRequestSerializer::preferredLanguages() {
  std::vector<std::string> languages;
  if (auto value = pf::UserDefaults::standard()->object("AppleLanguages")) {
    if (value->is_array())
      for (const auto& l : *value)
        if (l.is_string()) languages.push_back(l.get<std::string>());
    return languages;
  }
  return {"en"};
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqHTTPRequestSerializer::serializer() {
  return std::make_shared<TnqHTTPRequestSerializer>();
}

TnqHTTPRequestSerializer::TnqHTTPRequestSerializer() {
  // Accept-Language: up to six languages with falling quality.
  std::vector<std::string> entries;
  const auto languages = preferredLanguages();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    const float q = 1.0f - static_cast<float>(i) * 0.1f;
    char quality[32];
    std::snprintf(quality, sizeof quality, "%0.1g", static_cast<double>(q));
    entries.push_back(languages[i] + ";q=" + quality);
    if (q <= 0.5f) break;
  }
  headers_.set("Accept-Language", pf::joinText(entries, ", "));

  // User-Agent: "<executable>/<version> (<model>; iOS <system>; Scale/<scale>)".
  auto bundle = pf::Bundle::main();
  auto infoString = [&](const char* key) -> std::optional<std::string> {
    const pf::Value* v = bundle->objectForInfoDictionaryKey(key);
    if (v && v->is_string()) return v->get<std::string>();
    return std::nullopt;
  };
  std::string name = infoString("CFBundleExecutable").value_or(bundle->bundleIdentifier());
  std::string version = infoString("CFBundleShortVersionString").value_or(infoString("CFBundleVersion").value_or("(null)"));
  char scale[32];
  std::snprintf(scale, sizeof scale, "%0.2f", pf::Screen::main()->scale());
  std::string userAgent = name + "/" + version + " (" + pf::Device::current()->model() + "; iOS " +
                          pf::Device::current()->systemVersion() + "; Scale/" + scale + ")";
  const bool ascii = std::all_of(userAgent.begin(), userAgent.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) userAgent = pf::transliterateToAscii(userAgent);
  // A header value never carries line breaks.
  userAgent.erase(std::remove_if(userAgent.begin(), userAgent.end(), [](char c) { return c == '\r' || c == '\n'; }),
                  userAgent.end());
  headers_.set("User-Agent", userAgent);
}

bool TnqHTTPRequestSerializer::setValue(std::optional<std::string> value, std::string_view field) {
  if (!TnqIsSafeHeaderName(field) || (value && !TnqIsSafeHeaderValue(*value))) return false;
  if (value)
    headers_.set(field, *value);
  else
    headers_.remove(field);
  return true;
}

void TnqHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(std::string_view username,
                                                                       std::string_view password) {
  std::string credentials = std::string(username) + ":" + std::string(password);
  setValue("Basic " + pf::base64Encode(std::string_view(credentials)), "Authorization");
}

void TnqHTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(std::string_view token) {
  setValue("Token token=\"" + std::string(token) + "\"", "Authorization");
}

void TnqHTTPRequestSerializer::setQueryStringSerializationWithStyle(unsigned long style) {
  style_ = style;
  queryBlock_ = nullptr;
}

std::optional<pf::UrlRequest> TnqHTTPRequestSerializer::requestWithMethod(std::string_view method,
                                                                          std::string_view URLString,
                                                                          const std::optional<pf::Value>& parameters,
                                                                          std::optional<pf::Error>* error) const {
  auto url = pf::Url::parse(URLString);
  if (!url) {
    if (error)
      *error = pf::Error(kTnqURLRequestSerializationErrorDomain, pf::UrlErrorCode::kBadUrl,
                         pf::Value{{pf::kLocalizedDescriptionKey, TnqLocalizedString("unsupported URL")},
                                   {pf::kUrlErrorFailingUrlStringKey, std::string(URLString)}});
    return std::nullopt;
  }
  pf::UrlRequest request(std::move(url));
  request.setHttpMethod(std::string(method));
  for (const auto& keyPath : TnqObservedRequestKeyPaths()) {
    if (!changed_.count(keyPath)) continue;
    if (keyPath == "timeoutInterval") request.setTimeoutInterval(timeoutInterval_);
    else if (keyPath == "HTTPShouldHandleCookies") request.setHttpShouldHandleCookies(handleCookies_);
    else if (keyPath == "allowsCellularAccess") request.properties()[keyPath] = allowsCellularAccess_;
    else if (keyPath == "cachePolicy") request.properties()[keyPath] = cachePolicy_;
    else if (keyPath == "HTTPShouldUsePipelining") request.properties()[keyPath] = pipelining_;
    else if (keyPath == "networkServiceType") request.properties()[keyPath] = serviceType_;
  }
  return requestBySerializingRequest(request, parameters, error);
}

pf::UrlRequest TnqHTTPRequestSerializer::applyingDefaultHeaders(const pf::UrlRequest& request) const {
  pf::UrlRequest copy = request;
  for (const auto& [field, value] : headers_.fields())
    if (!request.valueForHttpHeaderField(field)) copy.setValue(value, field);
  return copy;
}

std::optional<pf::UrlRequest> TnqHTTPRequestSerializer::requestBySerializingRequest(
    const pf::UrlRequest& request, const std::optional<pf::Value>& parameters, std::optional<pf::Error>* error) const {
  pf::UrlRequest copy = applyingDefaultHeaders(request);
  if (!parameters) return copy;
  std::optional<std::string> query;
  if (queryBlock_) {
    std::optional<pf::Error> blockError;
    query = queryBlock_(request, *parameters, &blockError);
    if (blockError) {
      if (error) *error = blockError;
      return std::nullopt;
    }
  } else if (style_ == 0) {
    query = TnqQueryStringFromParametersWithEncoding(*parameters, stringEncoding);
  }
  if (HTTPMethodsEncodingParametersInURI.count(pf::uppercaseText(request.httpMethod()))) {
    if (query && copy.url()) {
      // The query is made of escaped characters only, so the URL stays parseable.
      const std::string& text = copy.url()->absoluteString();
      const auto hashAt = text.find('#');
      std::string base = text.substr(0, hashAt);
      std::string fragment = hashAt == std::string::npos ? "" : text.substr(hashAt);
      base += (copy.url()->query() ? "&" : "?") + *query;
      if (auto url = pf::Url::parse(base + fragment)) copy.setUrl(std::move(url));
    }
  } else {
    if (!copy.valueForHttpHeaderField("Content-Type")) copy.setValue("application/x-www-form-urlencoded", "Content-Type");
    if (query) {
      auto body = TnqEncodeText(*query, stringEncoding);
      copy.setHttpBody(pf::toBytes(body ? *body : *query));
    }
  }
  return copy;
}

void TnqHTTPRequestSerializer::encodeWithCoder(pf::Value& coder) const {
  coder["mutableHTTPRequestHeaders"] = headers_.toValue();
  coder["queryStringSerializationStyle"] = style_;
}

void TnqHTTPRequestSerializer::initWithCoder(const pf::Value& coder) {
  if (const pf::Value* h = pf::valueForKey(coder, "mutableHTTPRequestHeaders"); h && h->is_object()) {
    headers_.clear();
    for (auto it = h->begin(); it != h->end(); ++it)
      if (it.value().is_string()) setValue(it.value().get<std::string>(), it.key());
  }
  if (const pf::Value* s = pf::valueForKey(coder, "queryStringSerializationStyle"); s && s->is_number())
    style_ = static_cast<unsigned long>(pf::integerValue(*s));
}

pf::Value TnqHTTPRequestSerializer::archive() const {
  pf::Value coder = pf::Value::object();
  coder[kTnqArchiveClassKey] = className();
  encodeWithCoder(coder);
  return coder;
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqHTTPRequestSerializer::unarchive(const pf::Value& archive) {
  const pf::Value* cls = archive.is_object() ? pf::valueForKey(archive, kTnqArchiveClassKey) : nullptr;
  if (!cls || !cls->is_string()) return nullptr;
  std::shared_ptr<TnqHTTPRequestSerializer> s;
  const std::string name = cls->get<std::string>();
  if (name == "TnqHTTPRequestSerializer") s = std::make_shared<TnqHTTPRequestSerializer>();
  else if (name == "TnqJSONRequestSerializer") s = std::make_shared<TnqJSONRequestSerializer>();
  else if (name == "TnqPropertyListRequestSerializer") s = std::make_shared<TnqPropertyListRequestSerializer>();
  else return nullptr;
  s->initWithCoder(archive);
  return s;
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqHTTPRequestSerializer::makeEmpty() const {
  return std::make_shared<TnqHTTPRequestSerializer>();
}

void TnqHTTPRequestSerializer::copyBaseInto(TnqHTTPRequestSerializer& copy) const {
  copy.headers_ = headers_;
  copy.style_ = style_;
  copy.queryBlock_ = queryBlock_;
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqHTTPRequestSerializer::copy() const {
  auto c = makeEmpty();
  copyBaseInto(*c);
  return c;
}

// ---- JSON

std::shared_ptr<TnqJSONRequestSerializer> TnqJSONRequestSerializer::serializerWithWritingOptions(unsigned long options) {
  auto s = std::make_shared<TnqJSONRequestSerializer>();
  s->writingOptions = options;
  return s;
}

std::optional<pf::UrlRequest> TnqJSONRequestSerializer::requestBySerializingRequest(
    const pf::UrlRequest& request, const std::optional<pf::Value>& parameters, std::optional<pf::Error>* error) const {
  if (HTTPMethodsEncodingParametersInURI.count(pf::uppercaseText(request.httpMethod())))
    return TnqHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
  pf::UrlRequest copy = applyingDefaultHeaders(request);
  if (parameters) {
    if (!copy.valueForHttpHeaderField("Content-Type")) copy.setValue("application/json", "Content-Type");
    pf::JsonWriteOptions options;
    options.pretty = (writingOptions & 1) != 0;
    options.sortedKeys = (writingOptions & 2) != 0;
    options.allowFragments = (writingOptions & 4) != 0;
    pf::Error writeError;
    auto text = pf::writeJson(*parameters, options, &writeError);
    if (text)
      copy.setHttpBody(pf::toBytes(*text));
    else if (error)
      *error = writeError;
  }
  return copy;
}

void TnqJSONRequestSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPRequestSerializer::encodeWithCoder(coder);
  coder["writingOptions"] = writingOptions;
}

void TnqJSONRequestSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPRequestSerializer::initWithCoder(coder);
  if (const pf::Value* v = pf::valueForKey(coder, "writingOptions")) writingOptions = static_cast<unsigned long>(pf::integerValue(*v));
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqJSONRequestSerializer::makeEmpty() const {
  return std::make_shared<TnqJSONRequestSerializer>();
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqJSONRequestSerializer::copy() const {
  auto c = std::make_shared<TnqJSONRequestSerializer>();
  copyBaseInto(*c);
  c->writingOptions = writingOptions;
  return c;
}

// ---- property list

std::shared_ptr<TnqPropertyListRequestSerializer> TnqPropertyListRequestSerializer::serializerWithFormat(
    unsigned long format, unsigned long writeOptions) {
  auto s = std::make_shared<TnqPropertyListRequestSerializer>();
  s->format = format;
  s->writeOptions = writeOptions;
  return s;
}

std::optional<pf::UrlRequest> TnqPropertyListRequestSerializer::requestBySerializingRequest(
    const pf::UrlRequest& request, const std::optional<pf::Value>& parameters, std::optional<pf::Error>* error) const {
  if (HTTPMethodsEncodingParametersInURI.count(pf::uppercaseText(request.httpMethod())))
    return TnqHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
  pf::UrlRequest copy = applyingDefaultHeaders(request);
  if (parameters) {
    if (!copy.valueForHttpHeaderField("Content-Type")) copy.setValue("application/x-plist", "Content-Type");
    pf::Error writeError;
    auto bytes = pf::writePropertyList(*parameters,
                                       format == 200 ? pf::PropertyListFormat::Binary : pf::PropertyListFormat::Xml,
                                       &writeError);
    if (bytes)
      copy.setHttpBody(std::move(*bytes));
    else if (error)
      *error = writeError;
  }
  return copy;
}

void TnqPropertyListRequestSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPRequestSerializer::encodeWithCoder(coder);
  coder["format"] = format;
  coder["writeOptions"] = writeOptions;
}

void TnqPropertyListRequestSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPRequestSerializer::initWithCoder(coder);
  if (const pf::Value* v = pf::valueForKey(coder, "format")) format = static_cast<unsigned long>(pf::integerValue(*v));
  if (const pf::Value* v = pf::valueForKey(coder, "writeOptions")) writeOptions = static_cast<unsigned long>(pf::integerValue(*v));
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqPropertyListRequestSerializer::makeEmpty() const {
  return std::make_shared<TnqPropertyListRequestSerializer>();
}

std::shared_ptr<TnqHTTPRequestSerializer> TnqPropertyListRequestSerializer::copy() const {
  auto c = std::make_shared<TnqPropertyListRequestSerializer>();
  copyBaseInto(*c);
  c->format = format;
  c->writeOptions = writeOptions;
  return c;
}

}  // namespace appnet
