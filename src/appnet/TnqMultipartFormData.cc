#include "appnet/TnqMultipartFormData.h"

#include <cstdio>
#include <fstream>

#include "appnet/TnqURLRequestSerialization.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Text.h"
#include "platform/net/UrlError.h"
#include "platform/security/Random.h"

namespace appnet {

namespace {

constexpr const char* kCRLF = "\r\n";

pf::Error requestError(std::string_view message) {
  return pf::Error(kTnqURLRequestSerializationErrorDomain, pf::UrlErrorCode::kBadUrl,
                   pf::Value{{pf::kLocalizedFailureReasonKey, TnqLocalizedString(message)}});
}

std::string encodedText(const std::string& text, TnqStringEncoding encoding) {
  auto bytes = TnqEncodeText(text, encoding);
  return bytes ? *bytes : text;
}

std::string makeBoundary() {
  pf::Bytes random = pf::randomBytes(8);
  std::uint32_t a = 0, b = 0;
  for (int i = 0; i < 4; ++i) a = (a << 8) | random[static_cast<std::size_t>(i)];
  for (int i = 4; i < 8; ++i) b = (b << 8) | random[static_cast<std::size_t>(i)];
  char text[40];
  std::snprintf(text, sizeof text, "Boundary+%08X%08X", a, b);
  return text;
}

}  // namespace

std::string TnqContentTypeForPathExtension(std::string_view extension) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"txt", "text/plain"},        {"text", "text/plain"},       {"html", "text/html"},
      {"htm", "text/html"},         {"css", "text/css"},          {"csv", "text/csv"},
      {"xml", "application/xml"},   {"js", "application/javascript"}, {"json", "application/json"},
      {"pdf", "application/pdf"},   {"zip", "application/zip"},   {"gz", "application/x-gzip"},
      {"plist", "application/x-plist"}, {"png", "image/png"},     {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},       {"gif", "image/gif"},         {"bmp", "image/bmp"},
      {"tif", "image/tiff"},        {"tiff", "image/tiff"},       {"ico", "image/vnd.microsoft.icon"},
      {"svg", "image/svg+xml"},     {"mp3", "audio/mpeg"},        {"wav", "audio/x-wav"},
      {"mp4", "video/mp4"},         {"mov", "video/quicktime"},   {"doc", "application/msword"},
      {"xls", "application/vnd.ms-excel"}, {"pem", "application/x-pem-file"}, {"cer", "application/pkix-cert"},
  };
  std::string lowered = pf::lowercaseText(extension);
  for (const auto& [ext, type] : kTypes)
    if (lowered == ext) return type;
  return "application/octet-stream";
}

std::string TnqEscapedDispositionName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '"') out += "%22";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out.push_back(c);
  }
  return out;
}

// ---- body part

std::string TnqHTTPBodyPart::stringForHeaders() const {
  std::string text;
  for (const auto& [field, value] : headers.fields()) text += field + ": " + value + kCRLF;
  text += kCRLF;
  return text;
}

namespace {
std::string openingText(const TnqHTTPBodyPart& part) {
  return part.hasInitialBoundary ? "--" + part.boundary + kCRLF : std::string(kCRLF) + "--" + part.boundary + kCRLF;
}
std::string closingText(const TnqHTTPBodyPart& part) {
  return part.hasFinalBoundary ? std::string(kCRLF) + "--" + part.boundary + "--" + kCRLF : std::string();
}
}  // namespace

std::uint64_t TnqHTTPBodyPart::contentLength() const {
  return encodedText(openingText(*this), stringEncoding).size() + encodedText(stringForHeaders(), stringEncoding).size() +
         bodyContentLength + encodedText(closingText(*this), stringEncoding).size();
}

bool TnqHTTPBodyPart::hasBytesAvailable() const {
  if (phase_ == kFinalBoundary) return true;
  // Before its body is opened a part has bytes; after phase 4 it is back in phase 1 with its
  // stream closed (at end).
  return !inputAtEnd_;
}

std::ptrdiff_t TnqHTTPBodyPart::fail(std::string reason) {
  if (!error_)
    error_ = pf::Error(kTnqURLRequestSerializationErrorDomain, pf::UrlErrorCode::kRequestBodyStreamExhausted,
                       pf::Value{{pf::kLocalizedFailureReasonKey, std::move(reason)}});
  inputStream_.reset();
  return -1;
}

std::ptrdiff_t TnqHTTPBodyPart::readBody(std::uint8_t* buffer, std::size_t length) {
  if (!inputStream_) return fail("The body of a multipart part could not be opened.");
  const std::uint64_t remaining = bodyContentLength - bodyRead_;
  if (remaining == 0) {
    // The stated length is reached: the body must end here.
    std::uint8_t probe = 0;
    std::ptrdiff_t n = inputStream_->read(std::span<std::uint8_t>(&probe, 1));
    if (n < 0) return fail("The body of a multipart part failed while being read.");
    if (n > 0) return fail("A multipart part yielded more bytes than its stated length.");
    inputAtEnd_ = true;
    return 0;
  }
  if (length == 0) return 0;
  const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, length));
  std::ptrdiff_t n = inputStream_->read(std::span<std::uint8_t>(buffer, room));
  if (n < 0) return fail("The body of a multipart part failed while being read.");
  if (n == 0) return fail("A multipart part yielded fewer bytes than its stated length.");
  bodyRead_ += static_cast<std::uint64_t>(n);
  return n;
}

std::ptrdiff_t TnqHTTPBodyPart::read(std::uint8_t* buffer, std::size_t length) {
  if (error_) return -1;
  std::size_t total = 0;
  if (phase_ == kBoundary) total += readData(encodedText(openingText(*this), stringEncoding), buffer, length);
  if (phase_ == kHeaders)
    total += readData(encodedText(stringForHeaders(), stringEncoding), buffer + total, length - total);
  if (phase_ == kBody) {
    while (total < length && !inputAtEnd_) {
      std::ptrdiff_t n = readBody(buffer + total, length - total);
      if (n < 0) return -1;
      if (n == 0) break;
      total += static_cast<std::size_t>(n);
    }
    if (inputAtEnd_) transitionToNextPhase();
  }
  if (phase_ == kFinalBoundary)
    total += readData(encodedText(closingText(*this), stringEncoding), buffer + total, length - total);
  return static_cast<std::ptrdiff_t>(total);
}

std::size_t TnqHTTPBodyPart::readData(const std::string& text, std::uint8_t* buffer, std::size_t length) {
  const std::size_t count = std::min(length, text.size() - std::min(text.size(), phaseOffset_));
  std::memcpy(buffer, text.data() + phaseOffset_, count);
  phaseOffset_ += count;
  if (phaseOffset_ >= text.size()) transitionToNextPhase();
  return count;
}

// Phase changes run on the reading thread: the body is opened before its first read and closed
// after its end.
bool TnqHTTPBodyPart::transitionToNextPhase() {
  switch (phase_) {
    case kBoundary:
      phase_ = kHeaders;
      break;
    case kHeaders:
      inputAtEnd_ = false;
      bodyRead_ = 0;
      if (auto* bytes = std::get_if<pf::Bytes>(&body)) inputStream_ = pf::HttpBodyStream::fromBytes(*bytes);
      else if (auto* path = std::get_if<std::filesystem::path>(&body)) inputStream_ = pf::HttpBodyStream::fromFile(*path);
      else inputStream_ = std::get<std::shared_ptr<pf::HttpBodyStream>>(body);
      phase_ = kBody;
      break;
    case kBody:
      inputStream_.reset();
      phase_ = kFinalBoundary;
      break;
    default:
      phase_ = kBoundary;
      break;
  }
  phaseOffset_ = 0;
  return true;
}

std::unique_ptr<TnqHTTPBodyPart> TnqHTTPBodyPart::copy() const {
  auto part = std::make_unique<TnqHTTPBodyPart>();
  part->stringEncoding = stringEncoding;
  part->headers = headers;
  part->bodyContentLength = bodyContentLength;
  part->body = body;
  part->boundary = boundary;
  return part;
}

bool TnqHTTPBodyPart::rewind() {
  if (auto* stream = std::get_if<std::shared_ptr<pf::HttpBodyStream>>(&body))
    if (!*stream || !(*stream)->rewind()) return false;
  inputStream_.reset();
  inputAtEnd_ = false;
  bodyRead_ = 0;
  error_.reset();
  phase_ = kBoundary;
  phaseOffset_ = 0;
  return true;
}

// ---- body stream

void TnqMultipartBodyStream::setInitialAndFinalBoundaries() {
  if (parts_.empty()) return;
  for (auto& part : parts_) part->hasInitialBoundary = part->hasFinalBoundary = false;
  parts_.front()->hasInitialBoundary = true;
  parts_.back()->hasFinalBoundary = true;
}

std::uint64_t TnqMultipartBodyStream::contentLength() const {
  std::uint64_t length = 0;
  for (const auto& part : parts_) length += part->contentLength();
  return length;
}

void TnqMultipartBodyStream::open() {
  if (status_ == Status::Open) return;
  status_ = Status::Open;
  setInitialAndFinalBoundaries();
  next_ = 0;
  current_ = nullptr;
}

std::optional<pf::Error> TnqMultipartBodyStream::streamError() const {
  pf::MutexLock lock(errorMutex_);
  return streamError_;
}

std::ptrdiff_t TnqMultipartBodyStream::read(std::uint8_t* buffer, std::size_t length) {
  if (status_ == Status::NotOpen) open();
  if (status_ == Status::Closed) return 0;
  std::size_t total = 0;
  const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(length, numberOfBytesInPacket));
  while (total < limit) {
    if (!current_ || !current_->hasBytesAvailable()) {
      if (next_ >= parts_.size()) break;
      current_ = parts_[next_++].get();
      continue;
    }
    std::ptrdiff_t n = current_->read(buffer + total, length - total);
    if (n < 0) {
      pf::MutexLock lock(errorMutex_);
      streamError_ = current_->error();
      // A short body would be taken for the whole one: the load fails instead.
      return -1;
    }
    total += static_cast<std::size_t>(n);
    if (delay > 0) pf::Clock::sleep(delay);
  }
  return static_cast<std::ptrdiff_t>(total);
}

bool TnqMultipartBodyStream::rewind() {
  for (auto& part : parts_)
    if (!part->rewind()) return false;
  status_ = Status::NotOpen;
  {
    pf::MutexLock lock(errorMutex_);
    streamError_.reset();
  }
  open();
  return true;
}

std::shared_ptr<TnqMultipartBodyStream> TnqMultipartBodyStream::copy() const {
  auto stream = std::make_shared<TnqMultipartBodyStream>(stringEncoding);
  for (const auto& part : parts_) stream->appendHTTPBodyPart(part->copy());
  stream->setInitialAndFinalBoundaries();
  return stream;
}

// ---- form

TnqStreamingMultipartFormData::TnqStreamingMultipartFormData(pf::UrlRequest request, TnqStringEncoding encoding)
    : request_(std::move(request)),
      encoding_(encoding),
      boundary_(makeBoundary()),
      bodyStream_(std::make_shared<TnqMultipartBodyStream>(encoding)) {}

void TnqStreamingMultipartFormData::appendPart(pf::HttpHeaders headers, TnqHTTPBodyPart::Body body,
                                               std::uint64_t length) {
  auto part = std::make_unique<TnqHTTPBodyPart>();
  part->stringEncoding = encoding_;
  part->headers = std::move(headers);
  part->boundary = boundary_;
  part->body = std::move(body);
  part->bodyContentLength = length;
  bodyStream_->appendHTTPBodyPart(std::move(part));
}

namespace {
pf::HttpHeaders fileHeaders(std::string_view name, std::string_view fileName, const std::optional<std::string>& mimeType) {
  pf::HttpHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + TnqEscapedDispositionName(name) + "\"; filename=\"" +
                                         TnqEscapedDispositionName(fileName) + "\"");
  if (mimeType) headers.set("Content-Type", *mimeType);
  return headers;
}
}  // namespace

bool TnqStreamingMultipartFormData::appendPartWithFileURL(const pf::Url& fileURL, std::string_view name,
                                                          std::optional<pf::Error>* error) {
  const std::string fileName = fileURL.lastPathComponent();
  const auto dot = fileName.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : fileName.substr(dot + 1);
  return appendPartWithFileURL(fileURL, name, fileName, TnqContentTypeForPathExtension(extension), error);
}

bool TnqStreamingMultipartFormData::appendPartWithFileURL(const pf::Url& fileURL, std::string_view name,
                                                          std::string_view fileName, std::string_view mimeType,
                                                          std::optional<pf::Error>* error) {
  if (!fileURL.isFileUrl()) {
    if (error) *error = requestError("Expected URL to be a file URL");
    return false;
  }
  const auto path = fileURL.filePath();
  if (!pf::FileManager::fileExists(path)) {
    if (error) *error = requestError("File URL not reachable.");
    return false;
  }
  pf::Error attributesError;
  auto attributes = pf::FileManager::attributesOfItem(path, &attributesError);
  if (!attributes) {
    if (error) *error = attributesError;
    return false;
  }
  if (!TnqIsSafeHeaderValue(mimeType)) {
    if (error) *error = requestError("Header values may not hold line breaks.");
    return false;
  }
  appendPart(fileHeaders(name, fileName, std::string(mimeType)), path, attributes->size);
  return true;
}

void TnqStreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<pf::HttpBodyStream> inputStream,
                                                              std::string_view name, std::string_view fileName,
                                                              std::int64_t length, std::optional<std::string> mimeType) {
  if (mimeType && !TnqIsSafeHeaderValue(*mimeType)) {
    if (!error_) error_ = requestError("Header values may not hold line breaks.");
    return;
  }
  appendPart(fileHeaders(name, fileName, mimeType), std::move(inputStream), static_cast<std::uint64_t>(length));
}

void TnqStreamingMultipartFormData::appendPartWithFileData(const pf::Bytes& data, std::string_view name,
                                                           std::string_view fileName,
                                                           std::optional<std::string> mimeType) {
  appendPartWithHeaders(fileHeaders(name, fileName, mimeType), data);
}

void TnqStreamingMultipartFormData::appendPartWithFormData(const pf::Bytes& data, std::string_view name) {
  pf::HttpHeaders headers;
  headers.set("Content-Disposition", "form-data; name=\"" + TnqEscapedDispositionName(name) + "\"");
  appendPartWithHeaders(headers, data);
}

void TnqStreamingMultipartFormData::appendPartWithHeaders(const pf::HttpHeaders& headers, const pf::Bytes& body) {
  for (const auto& [field, value] : headers.fields()) {
    if (!TnqIsSafeHeaderName(field) || !TnqIsSafeHeaderValue(value)) {
      if (!error_) error_ = requestError("Header names and values may not hold line breaks.");
      return;
    }
  }
  appendPart(headers, body, body.size());
}

void TnqStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) {
  bodyStream_->numberOfBytesInPacket = numberOfBytes;
  bodyStream_->delay = delay;
}

pf::UrlRequest TnqStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
  if (bodyStream_->isEmpty()) return request_;
  bodyStream_->setInitialAndFinalBoundaries();
  request_.setHttpBodyStream(bodyStream_);
  request_.setValue("multipart/form-data; boundary=" + boundary_, "Content-Type");
  request_.setValue(std::to_string(bodyStream_->contentLength()), "Content-Length");
  return request_;
}

// ---- the serializer's multipart operations

std::optional<pf::UrlRequest> TnqHTTPRequestSerializer::multipartFormRequestWithMethod(
    std::string_view method, std::string_view URLString, const std::optional<pf::Value>& parameters,
    const std::function<void(TnqMultipartFormData&)>& block, std::optional<pf::Error>* error) const {
  auto request = requestWithMethod(method, URLString, std::nullopt, error);
  if (!request) return std::nullopt;
  TnqStreamingMultipartFormData form(std::move(*request), kTnqUTF8StringEncoding);
  if (parameters) {
    for (const auto& pair : TnqQueryStringPairsFromKeyAndValue(std::nullopt, *parameters)) {
      pf::Bytes data;
      if (pair.value && pf::isData(*pair.value)) data = pf::dataValue(*pair.value);
      else if (pair.value && !pair.value->is_null()) {
        const std::string text = pf::description(*pair.value);
        auto encoded = TnqEncodeText(text, stringEncoding);
        data = pf::toBytes(encoded ? *encoded : text);
      }
      form.appendPartWithFormData(data, pf::description(pair.field));
    }
  }
  if (block) block(form);
  if (form.error()) {
    if (error) *error = form.error();
    return std::nullopt;
  }
  return form.requestByFinalizingMultipartFormData();
}

pf::UrlRequest TnqHTTPRequestSerializer::requestWithMultipartFormRequest(
    const pf::UrlRequest& request, const std::filesystem::path& file,
    std::function<void(std::optional<pf::Error>)> handler) const {
  std::shared_ptr<pf::HttpBodyStream> input = request.httpBodyStream();
  pf::DispatchQueue::global()->async([input, file, handler = std::move(handler)] {
    std::optional<pf::Error> error;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
      error = pf::posixError(errno, file.string());
    } else {
      std::uint8_t buffer[1024];
      while (input) {
        std::ptrdiff_t n = input->read(std::span<std::uint8_t>(buffer, sizeof buffer));
        if (n < 0) {
          auto* multipart = dynamic_cast<TnqMultipartBodyStream*>(input.get());
          error = multipart && multipart->streamError()
                      ? *multipart->streamError()
                      : pf::makeUrlError(pf::UrlErrorCode::kRequestBodyStreamExhausted, std::nullopt);
          break;
        }
        if (n == 0) break;
        // Every byte read is written (a short write continues with the rest).
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n)) {
          error = pf::posixError(errno, file.string());
          break;
        }
      }
      if (std::fclose(out) != 0 && !error) error = pf::posixError(errno, file.string());
    }
    if (handler) pf::DispatchQueue::main()->async([handler, error] { handler(error); });
  });
  pf::UrlRequest copy = request;
  copy.setHttpBodyStream(nullptr);
  return copy;
}

}  // namespace appnet
