#pragma once
// Streamed multipart/form-data bodies: the parts a caller appends are read one after the other
// (boundary, header lines, body, closing boundary) straight from memory, files or streams; the
// body is never assembled in memory.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "appnet/TnqHTTPSupport.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/HttpBodyStream.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/UrlRequest.h"

namespace appnet {

// The MIME type for a file name extension, "application/octet-stream" when unknown.
std::string TnqContentTypeForPathExtension(std::string_view extension);
// A name or file name made safe between the double quotes of a Content-Disposition value
// ('"', CR and LF percent-escaped).
std::string TnqEscapedDispositionName(std::string_view name);

// What a body-building block may call.
class TnqMultipartFormData {
 public:
  virtual ~TnqMultipartFormData() = default;
  // false with `error` when the URL is no file URL, the file cannot be reached or read.
  virtual bool appendPartWithFileURL(const pf::Url& fileURL, std::string_view name,
                                     std::optional<pf::Error>* error = nullptr) = 0;
  virtual bool appendPartWithFileURL(const pf::Url& fileURL, std::string_view name, std::string_view fileName,
                                     std::string_view mimeType, std::optional<pf::Error>* error = nullptr) = 0;
  // A stream part of `length` bytes; a stream yielding another number of bytes fails the body.
  virtual void appendPartWithInputStream(std::shared_ptr<pf::HttpBodyStream> inputStream, std::string_view name,
                                         std::string_view fileName, std::int64_t length,
                                         std::optional<std::string> mimeType) = 0;
  virtual void appendPartWithFileData(const pf::Bytes& data, std::string_view name, std::string_view fileName,
                                      std::optional<std::string> mimeType) = 0;
  virtual void appendPartWithFormData(const pf::Bytes& data, std::string_view name) = 0;
  // Header names and values holding CR, LF or NUL are refused: the part is not appended and the
  // request is not built.
  virtual void appendPartWithHeaders(const pf::HttpHeaders& headers, const pf::Bytes& body) = 0;
  virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

class TnqHTTPBodyPart {
 public:
  enum Phase { kNone = 0, kBoundary = 1, kHeaders = 2, kBody = 3, kFinalBoundary = 4 };
  using Body = std::variant<pf::Bytes, std::filesystem::path, std::shared_ptr<pf::HttpBodyStream>>;

  TnqHTTPBodyPart() { transitionToNextPhase(); }

  TnqStringEncoding stringEncoding = kTnqUTF8StringEncoding;
  pf::HttpHeaders headers;
  std::string boundary;
  Body body;
  std::uint64_t bodyContentLength = 0;
  bool hasInitialBoundary = false;
  bool hasFinalBoundary = false;

  std::string stringForHeaders() const;
  std::uint64_t contentLength() const;
  bool hasBytesAvailable() const;
  // Bytes placed, or -1 when the body fails (its stream fails, cannot be opened, or yields
  // another number of bytes than stated); `error()` then tells why.
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t length);
  const std::optional<pf::Error>& error() const { return error_; }
  std::unique_ptr<TnqHTTPBodyPart> copy() const;
  // Back to the first phase with the body unread; false for a stream body that cannot rewind.
  bool rewind();

 private:
  bool transitionToNextPhase();
  std::size_t readData(const std::string& text, std::uint8_t* buffer, std::size_t length);
  std::ptrdiff_t readBody(std::uint8_t* buffer, std::size_t length);
  std::ptrdiff_t fail(std::string reason);

  Phase phase_ = kNone;
  std::size_t phaseOffset_ = 0;
  std::shared_ptr<pf::HttpBodyStream> inputStream_;
  bool inputAtEnd_ = false;
  std::uint64_t bodyRead_ = 0;
  std::optional<pf::Error> error_;
};

// The body stream of a multipart request (read by the URL loader on its own thread).
class TnqMultipartBodyStream : public pf::HttpBodyStream {
 public:
  enum class Status { NotOpen = 0, Open = 2, Closed = 6 };

  explicit TnqMultipartBodyStream(TnqStringEncoding encoding) : stringEncoding(encoding) {}

  TnqStringEncoding stringEncoding;
  std::uint64_t numberOfBytesInPacket = 9223372036854775807ull;
  double delay = 0;

  void setInitialAndFinalBoundaries();
  void appendHTTPBodyPart(std::unique_ptr<TnqHTTPBodyPart> part) { parts_.push_back(std::move(part)); }
  bool isEmpty() const { return parts_.empty(); }
  std::uint64_t contentLength() const;
  std::size_t partCount() const { return parts_.size(); }

  void open();
  void close() { status_ = Status::Closed; }
  Status streamStatus() const { return status_; }
  bool hasBytesAvailable() const { return status_ == Status::Open; }
  std::optional<pf::Error> streamError() const;
  // Opens the stream on first use. 0 at the end (or when closed), -1 when a part fails.
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t length);

  // pf::HttpBodyStream
  std::ptrdiff_t read(std::span<std::uint8_t> buffer) override { return read(buffer.data(), buffer.size()); }
  std::optional<std::int64_t> length() const override { return static_cast<std::int64_t>(contentLength()); }
  bool rewind() override;

  // A new, unopened stream over copies of the parts.
  std::shared_ptr<TnqMultipartBodyStream> copy() const;

 private:
  std::vector<std::unique_ptr<TnqHTTPBodyPart>> parts_;
  std::size_t next_ = 0;
  TnqHTTPBodyPart* current_ = nullptr;
  Status status_ = Status::NotOpen;
  mutable pf::Mutex errorMutex_;
  std::optional<pf::Error> streamError_ PF_GUARDED_BY(errorMutex_);
};

class TnqStreamingMultipartFormData : public TnqMultipartFormData {
 public:
  TnqStreamingMultipartFormData(pf::UrlRequest request, TnqStringEncoding encoding);

  const pf::UrlRequest& request() const { return request_; }
  TnqStringEncoding stringEncoding() const { return encoding_; }
  const std::string& boundary() const { return boundary_; }
  const std::shared_ptr<TnqMultipartBodyStream>& bodyStream() const { return bodyStream_; }
  // The first header refused by appendPartWithHeaders, if any.
  const std::optional<pf::Error>& error() const { return error_; }

  bool appendPartWithFileURL(const pf::Url& fileURL, std::string_view name, std::optional<pf::Error>* error) override;
  bool appendPartWithFileURL(const pf::Url& fileURL, std::string_view name, std::string_view fileName,
                             std::string_view mimeType, std::optional<pf::Error>* error) override;
  void appendPartWithInputStream(std::shared_ptr<pf::HttpBodyStream> inputStream, std::string_view name,
                                 std::string_view fileName, std::int64_t length,
                                 std::optional<std::string> mimeType) override;
  void appendPartWithFileData(const pf::Bytes& data, std::string_view name, std::string_view fileName,
                              std::optional<std::string> mimeType) override;
  void appendPartWithFormData(const pf::Bytes& data, std::string_view name) override;
  void appendPartWithHeaders(const pf::HttpHeaders& headers, const pf::Bytes& body) override;
  void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

  // The request with the body stream, "Content-Type" and "Content-Length" when there are parts.
  pf::UrlRequest requestByFinalizingMultipartFormData();

 private:
  void appendPart(pf::HttpHeaders headers, TnqHTTPBodyPart::Body body, std::uint64_t length);

  pf::UrlRequest request_;
  TnqStringEncoding encoding_;
  std::string boundary_;
  std::shared_ptr<TnqMultipartBodyStream> bodyStream_;
  std::optional<pf::Error> error_;
};

}  // namespace appnet
