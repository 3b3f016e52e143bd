#pragma once
// Response serializers: decide whether an HTTP answer is acceptable (status code, content type)
// and turn its body into the object handed to the caller.
//
// Response objects travel as pf::AnyObject: raw bytes as std::shared_ptr<const pf::Bytes>, JSON and
// property lists as pf::Value, images as std::shared_ptr<pf::Image>, XML as
// std::shared_ptr<TnqXMLParser>. Errors go to an optional out-parameter whose earlier content is
// chained under new errors, as the callers expect.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appnet/TnqHTTPSupport.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/UrlResponse.h"

namespace appnet {

// Error domain and user-info keys of the response serializers.
extern const std::string kTnqURLResponseSerializationErrorDomain;       // "com.tnq.error.serialization.response"
extern const std::string kTnqNetworkingOperationFailingURLResponseErrorKey;  // "...serialization.response.error.response"
extern const std::string kTnqNetworkingOperationFailingURLResponseDataErrorKey;  // "...error.data"

using TnqResponseObject = pf::AnyObject;

// The raw bytes of a response object (the base serializer's answer), or null. They are read-only:
// they may be the operation's own body, shared with whoever else reads it; a caller who wants to
// change them changes a copy of its own.
std::shared_ptr<const pf::Bytes> TnqResponseBytes(const TnqResponseObject& object);
// The response as user-info value: {"URL", "statusCode", "headers"}.
pf::Value TnqResponseDescriptionValue(const pf::UrlResponse& response);

class TnqHTTPResponseSerializer : public std::enable_shared_from_this<TnqHTTPResponseSerializer> {
 public:
  static std::shared_ptr<TnqHTTPResponseSerializer> serializer();
  TnqHTTPResponseSerializer();
  virtual ~TnqHTTPResponseSerializer() = default;

  virtual std::string className() const { return "TnqHTTPResponseSerializer"; }

  TnqStringEncoding stringEncoding = kTnqUTF8StringEncoding;
  // nullopt: no check.
  std::optional<std::set<std::int64_t>> acceptableStatusCodes;
  std::optional<std::set<std::string>> acceptableContentTypes;

  // True when acceptable; `error` (optional) receives the last error made when not.
  bool validateResponse(const pf::UrlResponse* response, const pf::Bytes* data, std::optional<pf::Error>* error) const;
  // The response object; the base class answers the bytes whatever the verdict.
  virtual TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                           std::optional<pf::Error>* error) const;

  // Keyed archiving and copying.
  static bool supportsSecureCoding() { return true; }
  virtual void encodeWithCoder(pf::Value& coder) const;
  virtual void initWithCoder(const pf::Value& coder);
  pf::Value archive() const;
  // Any response serializer from its archive (null for an unknown class or a bad archive).
  static std::shared_ptr<TnqHTTPResponseSerializer> unarchive(const pf::Value& archive);
  virtual std::shared_ptr<TnqHTTPResponseSerializer> copy() const;

 protected:
  virtual std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const;
  void copyBaseInto(TnqHTTPResponseSerializer& copy) const;
  // The gate of the decoding serializers: false when decoding is to be skipped.
  bool gate(const pf::UrlResponse* response, const pf::Bytes* data, std::optional<pf::Error>* error) const;
};

class TnqJSONResponseSerializer : public TnqHTTPResponseSerializer {
 public:
  static std::shared_ptr<TnqJSONResponseSerializer> serializer() { return serializerWithReadingOptions(0); }
  static std::shared_ptr<TnqJSONResponseSerializer> serializerWithReadingOptions(unsigned long options);
  TnqJSONResponseSerializer();
  std::string className() const override { return "TnqJSONResponseSerializer"; }

  // Reading options: bit 0 mutable containers, bit 2 fragments allowed (top-level scalars).
  unsigned long readingOptions = 0;
  bool removesKeysWithNullValues = false;

  TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                   std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPResponseSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const override;
};

// The serializer's response object, whatever fails inside it: an exception it raises (memory running
// out included) is its error, code -1016 of the serializers' domain with the exception's text in the
// description, and no object; so every completion still runs.
TnqResponseObject TnqGuardedResponseObject(const TnqHTTPResponseSerializer& serializer, const pf::UrlResponse* response,
                                           const pf::Bytes* data, std::optional<pf::Error>* error);
// The same for bytes the caller keeps shared: the plain serializer (TnqHTTPResponseSerializer's
// own responseObject, wherever it runs) hands back these bytes themselves instead of a copy, so the
// body is kept once; being const, nobody who holds them can change what the others read.
TnqResponseObject TnqGuardedResponseObject(const TnqHTTPResponseSerializer& serializer, const pf::UrlResponse* response,
                                           const std::shared_ptr<const pf::Bytes>& data, std::optional<pf::Error>* error);

// The JSON value without dictionary entries whose value is null (arrays keep their nulls).
pf::Value TnqJSONByDroppingNulls(const pf::Value& value);

// An XML parser over the bytes, not yet run.
class TnqXMLParser {
 public:
  explicit TnqXMLParser(pf::Bytes data) : data_(std::move(data)) {}
  const pf::Bytes& data() const { return data_; }

 private:
  pf::Bytes data_;
};

class TnqXMLParserResponseSerializer : public TnqHTTPResponseSerializer {
 public:
  static std::shared_ptr<TnqXMLParserResponseSerializer> serializer();
  TnqXMLParserResponseSerializer();
  std::string className() const override { return "TnqXMLParserResponseSerializer"; }
  TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                   std::optional<pf::Error>* error) const override;

 protected:
  std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const override;
};

class TnqPropertyListResponseSerializer : public TnqHTTPResponseSerializer {
 public:
  static std::shared_ptr<TnqPropertyListResponseSerializer> serializer() { return serializerWithFormat(100, 0); }
  static std::shared_ptr<TnqPropertyListResponseSerializer> serializerWithFormat(unsigned long format,
                                                                                 unsigned long readOptions);
  TnqPropertyListResponseSerializer();
  std::string className() const override { return "TnqPropertyListResponseSerializer"; }

  unsigned long format = 0;
  unsigned long readOptions = 0;

  TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                   std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPResponseSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const override;
};

class TnqImageResponseSerializer : public TnqHTTPResponseSerializer {
 public:
  static std::shared_ptr<TnqImageResponseSerializer> serializer();
  TnqImageResponseSerializer();
  std::string className() const override { return "TnqImageResponseSerializer"; }

  double imageScale;
  bool automaticallyInflatesResponseImage = true;

  TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                   std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPResponseSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const override;
};

class TnqCompoundResponseSerializer : public TnqHTTPResponseSerializer {
 public:
  static std::shared_ptr<TnqCompoundResponseSerializer> compoundSerializerWithResponseSerializers(
      std::vector<std::shared_ptr<TnqHTTPResponseSerializer>> serializers);
  std::string className() const override { return "TnqCompoundResponseSerializer"; }

  std::vector<std::shared_ptr<TnqHTTPResponseSerializer>> responseSerializers;

  TnqResponseObject responseObject(const pf::UrlResponse* response, const pf::Bytes* data,
                                   std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPResponseSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPResponseSerializer> makeEmpty() const override;
};

}  // namespace appnet
