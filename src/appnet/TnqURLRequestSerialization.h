#pragma once
// Request serializers: an HTTP method, a URL string and parameters become a URL request with the
// serializer's default headers and request properties, the parameters as a percent-escaped query
// (in the URL for GET, HEAD and DELETE, else a form body) or, in the subclasses, a JSON or
// property-list body. Multipart requests are built here too (see TnqMultipartFormData.h).

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appnet/TnqHTTPSupport.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/net/UrlRequest.h"

namespace appnet {

class TnqMultipartFormData;

extern const std::string kTnqURLRequestSerializationErrorDomain;  // "com.tnq.error.serialization.request"

// The six request properties, in their fixed order.
const std::vector<std::string>& TnqObservedRequestKeyPaths();

class TnqQueryStringPair {
 public:
  // A missing value (nullopt) or JSON null gives the key alone.
  TnqQueryStringPair(pf::Value field, std::optional<pf::Value> value)
      : field(std::move(field)), value(std::move(value)) {}
  pf::Value field;
  std::optional<pf::Value> value;
  std::string URLEncodedStringValueWithEncoding(TnqStringEncoding encoding) const;
};

// Percent escaping of query keys (letters, digits and "-_.~[]" stay) and values (letters,
// digits and "-_.~" stay), one escape per byte of the character in the encoding.
std::string TnqPercentEscapedStringFromString(std::string_view text, TnqStringEncoding encoding, bool key);
// Parameters flattened into pairs: dictionaries sorted by key ("outer[key]"), arrays in order
// ("outer[]").
std::vector<TnqQueryStringPair> TnqQueryStringPairsFromKeyAndValue(const std::optional<std::string>& key,
                                                                   const pf::Value& value);
// The built-in query string ("" for no pairs).
std::string TnqQueryStringFromParametersWithEncoding(const pf::Value& parameters, TnqStringEncoding encoding);

class TnqHTTPRequestSerializer : public std::enable_shared_from_this<TnqHTTPRequestSerializer> {
 public:
  using QueryStringSerialization = std::function<std::optional<std::string>(
      const pf::UrlRequest& request, const pf::Value& parameters, std::optional<pf::Error>* error)>;

  static std::shared_ptr<TnqHTTPRequestSerializer> serializer();
  TnqHTTPRequestSerializer();
  virtual ~TnqHTTPRequestSerializer() = default;
  virtual std::string className() const { return "TnqHTTPRequestSerializer"; }

  TnqStringEncoding stringEncoding = kTnqUTF8StringEncoding;
  std::set<std::string> HTTPMethodsEncodingParametersInURI{"GET", "HEAD", "DELETE"};

  // The six request properties: a property reaches built requests once it has been set.
  // allowsCellularAccess, cachePolicy, HTTPShouldUsePipelining and networkServiceType have no
  // counterpart in our loader and travel in the request's properties under their names.
  bool allowsCellularAccess() const { return allowsCellularAccess_; }
  void setAllowsCellularAccess(bool on) { allowsCellularAccess_ = on; observedChanged("allowsCellularAccess"); }
  unsigned long cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(unsigned long policy) { cachePolicy_ = policy; observedChanged("cachePolicy"); }
  bool HTTPShouldHandleCookies() const { return handleCookies_; }
  void setHTTPShouldHandleCookies(bool on) { handleCookies_ = on; observedChanged("HTTPShouldHandleCookies"); }
  bool HTTPShouldUsePipelining() const { return pipelining_; }
  void setHTTPShouldUsePipelining(bool on) { pipelining_ = on; observedChanged("HTTPShouldUsePipelining"); }
  unsigned long networkServiceType() const { return serviceType_; }
  void setNetworkServiceType(unsigned long type) { serviceType_ = type; observedChanged("networkServiceType"); }
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; observedChanged("timeoutInterval"); }
  const std::set<std::string>& mutableObservedChangedKeyPaths() const { return changed_; }

  // Default headers, in the order they were first set.
  pf::HttpHeaders HTTPRequestHeaders() const { return headers_; }
  // Stores (nullopt removes) a default header; a name or value holding CR, LF or NUL is refused
  // (false, nothing changes).
  bool setValue(std::optional<std::string> value, std::string_view field);
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers_.value(field); }
  void setAuthorizationHeaderFieldWithUsername(std::string_view username, std::string_view password);
  void setAuthorizationHeaderFieldWithToken(std::string_view token);
  void clearAuthorizationHeader() { headers_.remove("Authorization"); }

  unsigned long queryStringSerializationStyle() const { return style_; }
  void setQueryStringSerializationWithStyle(unsigned long style);
  void setQueryStringSerializationWithBlock(QueryStringSerialization block) { queryBlock_ = std::move(block); }

  // A new request, or nullopt with the error (an unparseable URL, a failing query block).
  std::optional<pf::UrlRequest> requestWithMethod(std::string_view method, std::string_view URLString,
                                                  const std::optional<pf::Value>& parameters,
                                                  std::optional<pf::Error>* error = nullptr) const;
  virtual std::optional<pf::UrlRequest> requestBySerializingRequest(const pf::UrlRequest& request,
                                                                    const std::optional<pf::Value>& parameters,
                                                                    std::optional<pf::Error>* error) const;

  // Multipart: the request whose body stream holds the form fields of the parameters and the
  // parts the block appends, or nullopt with the error.
  std::optional<pf::UrlRequest> multipartFormRequestWithMethod(
      std::string_view method, std::string_view URLString, const std::optional<pf::Value>& parameters,
      const std::function<void(TnqMultipartFormData&)>& block, std::optional<pf::Error>* error = nullptr) const;
  // A copy of the request without its body stream; the stream's bytes are written to the file in
  // the background and the handler (if any) is called on the main queue with the first error.
  pf::UrlRequest requestWithMultipartFormRequest(const pf::UrlRequest& request, const std::filesystem::path& file,
                                                 std::function<void(std::optional<pf::Error>)> handler) const;

  static bool supportsSecureCoding() { return true; }
  virtual void encodeWithCoder(pf::Value& coder) const;
  virtual void initWithCoder(const pf::Value& coder);
  pf::Value archive() const;
  static std::shared_ptr<TnqHTTPRequestSerializer> unarchive(const pf::Value& archive);
  virtual std::shared_ptr<TnqHTTPRequestSerializer> copy() const;

  // Where the default headers' facts come from: the user defaults' "AppleLanguages" (else "en").
  static std::vector<std::string> preferredLanguages();

 protected:
  virtual std::shared_ptr<TnqHTTPRequestSerializer> makeEmpty() const;
  void copyBaseInto(TnqHTTPRequestSerializer& copy) const;
  // The copy of the request with the default headers the request does not carry.
  pf::UrlRequest applyingDefaultHeaders(const pf::UrlRequest& request) const;

 private:
  void observedChanged(const std::string& keyPath) { changed_.insert(keyPath); }

  pf::HttpHeaders headers_;
  std::set<std::string> changed_;
  unsigned long style_ = 0;
  QueryStringSerialization queryBlock_;
  bool allowsCellularAccess_ = false;
  unsigned long cachePolicy_ = 0;
  bool handleCookies_ = false;
  bool pipelining_ = false;
  unsigned long serviceType_ = 0;
  double timeoutInterval_ = 0;
};

class TnqJSONRequestSerializer : public TnqHTTPRequestSerializer {
 public:
  static std::shared_ptr<TnqJSONRequestSerializer> serializer() { return serializerWithWritingOptions(0); }
  static std::shared_ptr<TnqJSONRequestSerializer> serializerWithWritingOptions(unsigned long options);
  std::string className() const override { return "TnqJSONRequestSerializer"; }
  // Bit 0 pretty printed, bit 1 sorted keys, bit 2 fragments allowed.
  unsigned long writingOptions = 0;

  std::optional<pf::UrlRequest> requestBySerializingRequest(const pf::UrlRequest& request,
                                                            const std::optional<pf::Value>& parameters,
                                                            std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPRequestSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPRequestSerializer> makeEmpty() const override;
};

class TnqPropertyListRequestSerializer : public TnqHTTPRequestSerializer {
 public:
  static std::shared_ptr<TnqPropertyListRequestSerializer> serializer() { return serializerWithFormat(100, 0); }
  static std::shared_ptr<TnqPropertyListRequestSerializer> serializerWithFormat(unsigned long format,
                                                                                unsigned long writeOptions);
  std::string className() const override { return "TnqPropertyListRequestSerializer"; }
  unsigned long format = 0;  // 100 XML, 200 binary
  unsigned long writeOptions = 0;

  std::optional<pf::UrlRequest> requestBySerializingRequest(const pf::UrlRequest& request,
                                                            const std::optional<pf::Value>& parameters,
                                                            std::optional<pf::Error>* error) const override;
  void encodeWithCoder(pf::Value& coder) const override;
  void initWithCoder(const pf::Value& coder) override;
  std::shared_ptr<TnqHTTPRequestSerializer> copy() const override;

 protected:
  std::shared_ptr<TnqHTTPRequestSerializer> makeEmpty() const override;
};

}  // namespace appnet
