#pragma once
// The app's data and number helpers: digests and JSON of bytes and texts, AES-256 of bytes, the
// current time as a whole number. Every function runs on any thread; nil is std::nullopt.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace app::TnqJSON {

// MD5 of the bytes, 32 upper-case hexadecimal digits.
std::string MD5String(const pf::Bytes& data);
// The bytes (or the text's UTF-8 bytes) as a JSON array or object; nullopt when they do not parse.
std::optional<pf::Value> JSONOBJ(const pf::Bytes& data);
std::optional<pf::Value> JSONOBJ(std::string_view text);

}  // namespace app::TnqJSON

namespace app::TnqNumber {

// The current time in whole seconds since 1970 (the fraction cut off).
long getNumberWithTimeStamp();

}  // namespace app::TnqNumber

namespace app::TnqAESCrypt {

// AES-256 in CBC mode with PKCS#7 padding and a zero IV, keyed with the 32 ASCII bytes of the key
// text's upper-case MD5: a fixed form shared with stored texts, with no integrity; use it for
// nothing new.
std::optional<pf::Bytes> AES256EncryptWithKey(const pf::Bytes& data, std::string_view key);
std::optional<pf::Bytes> AES256DecryptWithKey(const pf::Bytes& data, std::string_view key);

}  // namespace app::TnqAESCrypt
