#pragma once
// Names, texts, encodings and the keyed archive shared by the HTTP client's classes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Value.h"
#include "platform/net/Url.h"

namespace appnet {

// The reverse-domain prefix of every error domain, key, notification, lock, queue and thread name
// of the HTTP client (and the WebSocket client).
inline constexpr const char* kTnqPrefix = "com.tnq";
inline std::string TnqName(std::string_view suffix) { return std::string(kTnqPrefix) + std::string(suffix); }

// A message text from the main bundle's table "TnqNet", the text itself when untranslated.
std::string TnqLocalizedString(std::string_view text);

// Text encodings with the platform's numbers (pf::Text's converters under the client's names).
using TnqStringEncoding = pf::StringEncoding;
inline constexpr TnqStringEncoding kTnqASCIIStringEncoding = pf::kASCIIStringEncoding;
inline constexpr TnqStringEncoding kTnqUTF8StringEncoding = pf::kUTF8StringEncoding;
inline constexpr TnqStringEncoding kTnqISOLatin1StringEncoding = pf::kISOLatin1StringEncoding;
inline constexpr TnqStringEncoding kTnqUTF16StringEncoding = pf::kUTF16StringEncoding;
inline constexpr TnqStringEncoding kTnqWindowsCP1252StringEncoding = pf::kWindowsCP1252StringEncoding;
inline constexpr TnqStringEncoding kTnqGB18030StringEncoding = pf::kGB18030StringEncoding;
// The encoding of an IANA character-set name ("utf-8", "ISO-8859-1", ...), or 0 when unknown.
inline TnqStringEncoding TnqEncodingForIANACharSetName(std::string_view name) {
  return pf::encodingForIANACharSetName(name);
}
// Bytes in an encoding to UTF-8 text, nullopt when they do not decode.
inline std::optional<std::string> TnqDecodeText(std::string_view bytes, TnqStringEncoding encoding) {
  return pf::decodeText(bytes, encoding);
}
inline std::optional<std::string> TnqDecodeText(const pf::Bytes& bytes, TnqStringEncoding encoding) {
  return pf::decodeText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), encoding);
}
// UTF-8 text to bytes in an encoding, nullopt when a character cannot be represented.
inline std::optional<std::string> TnqEncodeText(std::string_view text, TnqStringEncoding encoding) {
  return pf::encodeText(text, encoding);
}

// The most body bytes an operation (with its own memory output) or a session data task keeps in
// memory for its caller; a longer answer fails with NSURLErrorDomain -1103 and is read no further.
// A caller's own output stream and a download to a file are not limited.
inline constexpr std::size_t kTnqMaximumInMemoryResponseLength = 16u << 20;
// The error of an answer kept in memory that `more` bytes would take beyond the limit when `kept`
// are held already; none while they fit.
std::optional<pf::Error> TnqInMemoryLimitError(std::size_t kept, std::size_t more, const std::optional<pf::Url>& url);
// The error of an answer the memory ran out keeping.
pf::Error TnqOutOfMemoryError(const std::optional<pf::Url>& url);

// Error chaining: `error` with `underlying` as its underlying error, unless one is nil or the
// error already has an underlying error.
std::optional<pf::Error> TnqChainedError(const std::optional<pf::Error>& error,
                                         const std::optional<pf::Error>& underlying);
// Whether the error or one it wraps has the code in the domain.
bool TnqErrorChainHasCode(const std::optional<pf::Error>& error, std::int64_t code, std::string_view domain);

// The keyed archive: a dictionary {"$class": class name, property name: value, ...}.
inline constexpr const char* kTnqArchiveClassKey = "$class";
// Values whose archived form is not a JSON type.
pf::Value TnqArchiveBytes(const pf::Bytes& bytes);
std::optional<pf::Bytes> TnqUnarchiveBytes(const pf::Value* value);
pf::Value TnqArchiveError(const pf::Error& error);
std::optional<pf::Error> TnqUnarchiveError(const pf::Value* value);

// A header name or value that may go on the wire: no CR, LF or NUL (and a name is not empty).
bool TnqIsSafeHeaderName(std::string_view name);
bool TnqIsSafeHeaderValue(std::string_view value);

}  // namespace appnet

namespace appnet {
// "0x..." of an object's address, as "%p" writes it.
std::string TnqAddressText(const void* object);
}  // namespace appnet
