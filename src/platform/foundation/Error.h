#pragma once
// Error objects (domain, code, user info) and the named exception the platform raises.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/foundation/Value.h"

namespace pf {

// User-info key of the human-readable description.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

// Error domains the platform layer reports in.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";

struct Error {
  std::string domain;
  std::int64_t code = 0;
  Value userInfo = Value::object();
  // The error this one wraps (the user info's underlying error), or none.
  std::shared_ptr<const Error> underlying;

  Error() = default;
  Error(std::string domain, std::int64_t code, Value userInfo = Value::object())
      : domain(std::move(domain)), code(code), userInfo(std::move(userInfo)) {}

  // The description in user info, or "The operation couldn't be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;

  // The failure reason in user info, or "".
  std::string localizedFailureReason() const;

  // A copy with `cause` as the underlying error.
  Error withUnderlying(Error cause) const;

  bool operator==(const Error& other) const;
};

// "Error Domain=<domain> Code=<code> "<localized description>" UserInfo={key=value, ...}".
std::string description(const Error& error);

// An error of the POSIX domain for errno, with strerror's text as its description.
Error posixError(int errnoValue, const std::string& context = {});

// A raised exception: a name ("NSInvalidArgumentException", ...) and a reason.
class Exception : public std::runtime_error {
 public:
  Exception(std::string name, std::string reason, Value userInfo = nullptr)
      : std::runtime_error(name + ": " + reason),
        name_(std::move(name)),
        reason_(std::move(reason)),
        userInfo_(std::move(userInfo)) {}

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const Value& userInfo() const { return userInfo_; }

 private:
  std::string name_;
  std::string reason_;
  Value userInfo_;
};

inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kRangeException = "NSRangeException";
inline constexpr const char* kGenericException = "NSGenericException";

}  // namespace pf
