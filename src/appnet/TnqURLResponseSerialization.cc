#include "appnet/TnqURLResponseSerialization.h"

#include <exception>
#include <new>

#include "platform/foundation/Format.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/UrlError.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace appnet {

const std::string kTnqURLResponseSerializationErrorDomain = TnqName(".error.serialization.response");
const std::string kTnqNetworkingOperationFailingURLResponseErrorKey = TnqName(".serialization.response.error.response");
const std::string kTnqNetworkingOperationFailingURLResponseDataErrorKey = TnqName(".serialization.response.error.data");

namespace {

// The platform's localized text of an HTTP status code.
std::string localizedStringForStatusCode(std::int64_t code) {
  switch (code) {
    case 100: return "continue";
    case 101: return "switching protocols";
    case 200: return "no error";
    case 201: return "created";
    case 202: return "accepted";
    case 203: return "non-authoritative information";
    case 204: return "no content";
    case 205: return "reset content";
    case 206: return "partial content";
    case 300: return "multiple choices";
    case 301: return "moved permanently";
    case 302: return "found";
    case 303: return "see other";
    case 304: return "not modified";
    case 305: return "needs proxy";
    case 307: return "temporarily redirected";
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 402: return "payment required";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 406: return "unacceptable";
    case 407: return "proxy authentication required";
    case 408: return "request timed out";
    case 409: return "conflict";
    case 410: return "no longer exists";
    case 411: return "length required";
    case 412: return "precondition failed";
    case 413: return "request too large";
    case 414: return "requested URL too long";
    case 415: return "unsupported media type";
    case 416: return "requested range not satisfiable";
    case 417: return "expectation failed";
    case 500: return "internal server error";
    case 501: return "unimplemented";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timed out";
    case 505: return "unsupported version";
    default: break;
  }
  if (code >= 100 && code < 200) return "informational";
  if (code >= 200 && code < 300) return "success";
  if (code >= 300 && code < 400) return "redirected";
  if (code >= 400 && code < 500) return "client error";
  if (code >= 500 && code < 600) return "server error";
  return "server error";
}

std::set<std::int64_t> defaultStatusCodes() {
  std::set<std::int64_t> codes;
  for (std::int64_t c = 200; c < 300; ++c) codes.insert(c);
  return codes;
}

template <class T>
std::shared_ptr<T> makeAndInit(const pf::Value& archive) {
  auto s = std::make_shared<T>();
  s->initWithCoder(archive);
  return s;
}

}  // namespace

std::shared_ptr<const pf::Bytes> TnqResponseBytes(const TnqResponseObject& object) {
  return object.as<const pf::Bytes>();
}

namespace {
// The shared bytes being serialized on this thread (TnqGuardedResponseObject), which the plain
// serializer hands back as they are.
thread_local const std::shared_ptr<const pf::Bytes>* tSharedBytes = nullptr;
}  // namespace

TnqResponseObject TnqGuardedResponseObject(const TnqHTTPResponseSerializer& serializer, const pf::UrlResponse* response,
                                           const std::shared_ptr<const pf::Bytes>& data, std::optional<pf::Error>* error) {
  const std::shared_ptr<const pf::Bytes>* outer = std::exchange(tSharedBytes, &data);
  struct Restore {
    const std::shared_ptr<const pf::Bytes>* outer;
    ~Restore() { tSharedBytes = outer; }
  } restore{outer};
  return TnqGuardedResponseObject(serializer, response, data.get(), error);
}

TnqResponseObject TnqGuardedResponseObject(const TnqHTTPResponseSerializer& serializer, const pf::UrlResponse* response,
                                           const pf::Bytes* data, std::optional<pf::Error>* error) {
  try {
    return serializer.responseObject(response, data, error);
  } catch (const std::exception& exception) {
    const bool memory = dynamic_cast<const std::bad_alloc*>(&exception) != nullptr;
    pf::Value info{{pf::kLocalizedDescriptionKey,
                    pf::format(TnqLocalizedString("Request failed: the answer could not be read (%@)"),
                               std::string(memory ? "out of memory" : exception.what()))}};
    if (response) {
      info[pf::kUrlErrorFailingUrlKey] = response->url().absoluteString();
      info[kTnqNetworkingOperationFailingURLResponseErrorKey] = TnqResponseDescriptionValue(*response);
    }
    if (error) {
      *error = pf::Error(kTnqURLResponseSerializationErrorDomain, pf::UrlErrorCode::kCannotDecodeContentData, std::move(info));
    }
    return {};
  }
}

pf::Value TnqResponseDescriptionValue(const pf::UrlResponse& response) {
  return pf::Value{{"URL", response.url().absoluteString()},
                   {"statusCode", response.statusCode()},
                   {"headers", response.allHeaderFields().toValue()}};
}

// ---- base

std::shared_ptr<TnqHTTPResponseSerializer> TnqHTTPResponseSerializer::serializer() {
  return std::make_shared<TnqHTTPResponseSerializer>();
}

TnqHTTPResponseSerializer::TnqHTTPResponseSerializer() : acceptableStatusCodes(defaultStatusCodes()) {}

bool TnqHTTPResponseSerializer::validateResponse(const pf::UrlResponse* response, const pf::Bytes* data,
                                                 std::optional<pf::Error>* error) const {
  if (!response) return true;
  bool valid = true;
  std::optional<pf::Error> validationError;
  const std::string url = response->url().absoluteString();
  if (acceptableContentTypes) {
    const auto& mime = response->mimeType();
    if (!mime || !acceptableContentTypes->count(*mime)) {
      valid = false;
      if (data && !data->empty()) {
        pf::Value info{
            {pf::kLocalizedDescriptionKey,
             pf::format(TnqLocalizedString("Request failed: unacceptable content-type: %@"), mime ? *mime : "(null)")},
            {pf::kUrlErrorFailingUrlKey, url},
            {kTnqNetworkingOperationFailingURLResponseErrorKey, TnqResponseDescriptionValue(*response)},
            {kTnqNetworkingOperationFailingURLResponseDataErrorKey, pf::makeData(*data)}};
        validationError = pf::Error(kTnqURLResponseSerializationErrorDomain, pf::UrlErrorCode::kCannotDecodeContentData,
                                    std::move(info));
      }
    }
  }
  if (acceptableStatusCodes && !acceptableStatusCodes->count(response->statusCode())) {
    valid = false;
    pf::Value info{{pf::kLocalizedDescriptionKey,
                    pf::format(TnqLocalizedString("Request failed: %@ (%ld)"),
                               localizedStringForStatusCode(response->statusCode()),
                               static_cast<long>(response->statusCode()))},
                   {pf::kUrlErrorFailingUrlKey, url},
                   {kTnqNetworkingOperationFailingURLResponseErrorKey, TnqResponseDescriptionValue(*response)}};
    if (data) info[kTnqNetworkingOperationFailingURLResponseDataErrorKey] = pf::makeData(*data);
    pf::Error statusError(kTnqURLResponseSerializationErrorDomain, pf::UrlErrorCode::kBadServerResponse,
                          std::move(info));
    validationError = TnqChainedError(statusError, validationError);
  }
  if (error && !valid) *error = validationError;
  return valid;
}

TnqResponseObject TnqHTTPResponseSerializer::responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                                            std::optional<pf::Error>* error) const {
  validateResponse(response, data, error);
  if (!data) return {};
  if (tSharedBytes && tSharedBytes->get() == data) return *tSharedBytes;
  return std::make_shared<const pf::Bytes>(*data);
}

bool TnqHTTPResponseSerializer::gate(const pf::UrlResponse* response, const pf::Bytes* data,
                                     std::optional<pf::Error>* error) const {
  if (validateResponse(response, data, error)) return true;
  if (!error) return false;
  return !TnqErrorChainHasCode(*error, pf::UrlErrorCode::kCannotDecodeContentData,
                               kTnqURLResponseSerializationErrorDomain);
}

void TnqHTTPResponseSerializer::encodeWithCoder(pf::Value& coder) const {
  if (acceptableStatusCodes) {
    pf::Value codes = pf::Value::array();
    for (auto c : *acceptableStatusCodes) codes.push_back(c);
    coder["acceptableStatusCodes"] = codes;
  }
  if (acceptableContentTypes) {
    pf::Value types = pf::Value::array();
    for (const auto& t : *acceptableContentTypes) types.push_back(t);
    coder["acceptableContentTypes"] = types;
  }
}

void TnqHTTPResponseSerializer::initWithCoder(const pf::Value& coder) {
  acceptableStatusCodes.reset();
  acceptableContentTypes.reset();
  if (const pf::Value* codes = pf::valueForKey(coder, "acceptableStatusCodes"); codes && codes->is_array()) {
    acceptableStatusCodes.emplace();
    for (const auto& c : *codes)
      if (c.is_number()) acceptableStatusCodes->insert(pf::integerValue(c));
  }
  if (const pf::Value* types = pf::valueForKey(coder, "acceptableContentTypes"); types && types->is_array()) {
    acceptableContentTypes.emplace();
    for (const auto& t : *types)
      if (t.is_string()) acceptableContentTypes->insert(t.get<std::string>());
  }
}

pf::Value TnqHTTPResponseSerializer::archive() const {
  pf::Value coder = pf::Value::object();
  coder[kTnqArchiveClassKey] = className();
  encodeWithCoder(coder);
  return coder;
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqHTTPResponseSerializer::unarchive(const pf::Value& archive) {
  if (!archive.is_object()) return nullptr;
  const pf::Value* cls = pf::valueForKey(archive, kTnqArchiveClassKey);
  if (!cls || !cls->is_string()) return nullptr;
  const std::string name = cls->get<std::string>();
  if (name == "TnqHTTPResponseSerializer") return makeAndInit<TnqHTTPResponseSerializer>(archive);
  if (name == "TnqJSONResponseSerializer") return makeAndInit<TnqJSONResponseSerializer>(archive);
  if (name == "TnqXMLParserResponseSerializer") return makeAndInit<TnqXMLParserResponseSerializer>(archive);
  if (name == "TnqPropertyListResponseSerializer") return makeAndInit<TnqPropertyListResponseSerializer>(archive);
  if (name == "TnqImageResponseSerializer") return makeAndInit<TnqImageResponseSerializer>(archive);
  if (name == "TnqCompoundResponseSerializer") return makeAndInit<TnqCompoundResponseSerializer>(archive);
  return nullptr;
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqHTTPResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqHTTPResponseSerializer>();
}

void TnqHTTPResponseSerializer::copyBaseInto(TnqHTTPResponseSerializer& copy) const {
  copy.acceptableStatusCodes = acceptableStatusCodes;
  copy.acceptableContentTypes = acceptableContentTypes;
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqHTTPResponseSerializer::copy() const {
  auto c = makeEmpty();
  copyBaseInto(*c);
  return c;
}

// ---- JSON

std::shared_ptr<TnqJSONResponseSerializer> TnqJSONResponseSerializer::serializerWithReadingOptions(
    unsigned long options) {
  auto s = std::make_shared<TnqJSONResponseSerializer>();
  s->readingOptions = options;
  return s;
}

TnqJSONResponseSerializer::TnqJSONResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/json", "text/json", "text/javascript", "text/html"};
}

pf::Value TnqJSONByDroppingNulls(const pf::Value& value) {
  if (value.is_array()) {
    pf::Value out = pf::Value::array();
    for (const auto& element : value) out.push_back(TnqJSONByDroppingNulls(element));
    return out;
  }
  if (value.is_object()) {
    pf::Value out = pf::Value::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it.value().is_null()) continue;
      out[it.key()] = (it.value().is_array() || it.value().is_object()) ? TnqJSONByDroppingNulls(it.value()) : it.value();
    }
    return out;
  }
  return value;
}

TnqResponseObject TnqJSONResponseSerializer::responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                                            std::optional<pf::Error>* error) const {
  if (!gate(response, data, error)) return {};
  TnqStringEncoding encoding = stringEncoding;
  if (response && response->textEncodingName()) {
    if (auto e = TnqEncodingForIANACharSetName(*response->textEncodingName())) encoding = e;
  }
  if (!data) return {};
  std::optional<pf::Error> decodingError;
  std::optional<pf::Value> result;
  std::optional<std::string> text = TnqDecodeText(*data, encoding);
  if (text && *text != " ") {
    // Decoded text is UTF-8 already: re-encoding cannot fail here.
    if (text->empty()) return {};
    pf::Error parseError;
    pf::JsonReadOptions options;
    options.allowFragments = (readingOptions & 4) != 0;
    result = pf::parseJson(std::string_view(*text), options, &parseError);
    if (!result) decodingError = parseError;
  }
  if (result && removesKeysWithNullValues) result = TnqJSONByDroppingNulls(*result);
  if (error) *error = TnqChainedError(decodingError, *error);
  if (!result) return {};
  return TnqResponseObject(std::move(*result));
}

void TnqJSONResponseSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPResponseSerializer::encodeWithCoder(coder);
  coder["readingOptions"] = readingOptions;
  coder["removesKeysWithNullValues"] = removesKeysWithNullValues;
}

void TnqJSONResponseSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPResponseSerializer::initWithCoder(coder);
  if (const pf::Value* v = pf::valueForKey(coder, "readingOptions")) readingOptions = static_cast<unsigned long>(pf::integerValue(*v));
  if (const pf::Value* v = pf::valueForKey(coder, "removesKeysWithNullValues")) removesKeysWithNullValues = pf::boolValue(*v);
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqJSONResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqJSONResponseSerializer>();
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqJSONResponseSerializer::copy() const {
  auto c = std::make_shared<TnqJSONResponseSerializer>();
  c->readingOptions = readingOptions;
  c->removesKeysWithNullValues = removesKeysWithNullValues;
  return c;
}

// ---- XML

std::shared_ptr<TnqXMLParserResponseSerializer> TnqXMLParserResponseSerializer::serializer() {
  return std::make_shared<TnqXMLParserResponseSerializer>();
}

TnqXMLParserResponseSerializer::TnqXMLParserResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/xml", "text/xml"};
}

TnqResponseObject TnqXMLParserResponseSerializer::responseObject(const pf::UrlResponse* response,
                                                                 const pf::Bytes* data,
                                                                 std::optional<pf::Error>* error) const {
  if (!gate(response, data, error)) return {};
  return std::make_shared<TnqXMLParser>(data ? *data : pf::Bytes());
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqXMLParserResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqXMLParserResponseSerializer>();
}

// ---- property list

std::shared_ptr<TnqPropertyListResponseSerializer> TnqPropertyListResponseSerializer::serializerWithFormat(
    unsigned long format, unsigned long readOptions) {
  auto s = std::make_shared<TnqPropertyListResponseSerializer>();
  s->format = format;
  s->readOptions = readOptions;
  return s;
}

TnqPropertyListResponseSerializer::TnqPropertyListResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/x-plist"};
}

TnqResponseObject TnqPropertyListResponseSerializer::responseObject(const pf::UrlResponse* response,
                                                                    const pf::Bytes* data,
                                                                    std::optional<pf::Error>* error) const {
  if (!gate(response, data, error)) return {};
  if (!data) return {};
  pf::Error readError;
  auto result = pf::parsePropertyList(*data, nullptr, &readError);
  if (error) *error = TnqChainedError(result ? std::nullopt : std::optional<pf::Error>(readError), *error);
  if (!result) return {};
  return TnqResponseObject(std::move(*result));
}

void TnqPropertyListResponseSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPResponseSerializer::encodeWithCoder(coder);
  coder["format"] = format;
  coder["readOptions"] = readOptions;
}

void TnqPropertyListResponseSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPResponseSerializer::initWithCoder(coder);
  if (const pf::Value* v = pf::valueForKey(coder, "format")) format = static_cast<unsigned long>(pf::integerValue(*v));
  if (const pf::Value* v = pf::valueForKey(coder, "readOptions")) readOptions = static_cast<unsigned long>(pf::integerValue(*v));
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqPropertyListResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqPropertyListResponseSerializer>();
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqPropertyListResponseSerializer::copy() const {
  auto c = std::make_shared<TnqPropertyListResponseSerializer>();
  c->format = format;
  c->readOptions = readOptions;
  return c;
}

// ---- image

std::shared_ptr<TnqImageResponseSerializer> TnqImageResponseSerializer::serializer() {
  return std::make_shared<TnqImageResponseSerializer>();
}

TnqImageResponseSerializer::TnqImageResponseSerializer() : imageScale(pf::Screen::main()->scale()) {
  acceptableContentTypes = std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png",
                                                 "image/ico", "image/x-icon", "image/bmp", "image/x-bmp",
                                                 "image/x-xbitmap", "image/x-win-bitmap"};
}

TnqResponseObject TnqImageResponseSerializer::responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                                             std::optional<pf::Error>* error) const {
  if (!gate(response, data, error)) return {};
  if (!data || data->empty()) return {};
  // Decoding yields a ready premultiplied bitmap at the given scale, so inflation has nothing
  // further to do; refused images (too large, corrupt) give nil.
  auto image = pf::Image::fromData(*data, imageScale);
  if (!image) return {};
  return image;
}

void TnqImageResponseSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPResponseSerializer::encodeWithCoder(coder);
  coder["imageScale"] = imageScale;
  coder["automaticallyInflatesResponseImage"] = automaticallyInflatesResponseImage;
}

void TnqImageResponseSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPResponseSerializer::initWithCoder(coder);
  if (const pf::Value* v = pf::valueForKey(coder, "imageScale")) imageScale = pf::doubleValue(*v);
  if (const pf::Value* v = pf::valueForKey(coder, "automaticallyInflatesResponseImage"))
    automaticallyInflatesResponseImage = pf::boolValue(*v);
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqImageResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqImageResponseSerializer>();
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqImageResponseSerializer::copy() const {
  auto c = std::make_shared<TnqImageResponseSerializer>();
  c->imageScale = imageScale;
  c->automaticallyInflatesResponseImage = automaticallyInflatesResponseImage;
  return c;
}

// ---- compound

std::shared_ptr<TnqCompoundResponseSerializer> TnqCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<std::shared_ptr<TnqHTTPResponseSerializer>> serializers) {
  auto s = std::make_shared<TnqCompoundResponseSerializer>();
  s->responseSerializers = std::move(serializers);
  return s;
}

TnqResponseObject TnqCompoundResponseSerializer::responseObject(const pf::UrlResponse* response,
                                                                const pf::Bytes* data,
                                                                std::optional<pf::Error>* error) const {
  for (const auto& serializer : responseSerializers) {
    if (!serializer) continue;
    std::optional<pf::Error> serializerError;
    TnqResponseObject object = serializer->responseObject(response, data, &serializerError);
    if (object) {
      if (error) *error = TnqChainedError(*error, serializerError);
      return object;
    }
  }
  return TnqHTTPResponseSerializer::responseObject(response, data, error);
}

void TnqCompoundResponseSerializer::encodeWithCoder(pf::Value& coder) const {
  TnqHTTPResponseSerializer::encodeWithCoder(coder);
  pf::Value list = pf::Value::array();
  for (const auto& s : responseSerializers)
    if (s) list.push_back(s->archive());
  coder["responseSerializers"] = list;
}

void TnqCompoundResponseSerializer::initWithCoder(const pf::Value& coder) {
  TnqHTTPResponseSerializer::initWithCoder(coder);
  responseSerializers.clear();
  if (const pf::Value* list = pf::valueForKey(coder, "responseSerializers"); list && list->is_array())
    for (const auto& item : *list)
      if (auto s = unarchive(item)) responseSerializers.push_back(s);
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqCompoundResponseSerializer::makeEmpty() const {
  return std::make_shared<TnqCompoundResponseSerializer>();
}

std::shared_ptr<TnqHTTPResponseSerializer> TnqCompoundResponseSerializer::copy() const {
  auto c = std::make_shared<TnqCompoundResponseSerializer>();
  c->responseSerializers = responseSerializers;
  return c;
}

}  // namespace appnet
