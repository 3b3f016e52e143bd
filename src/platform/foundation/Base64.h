#pragma once
// Base64 (RFC 4648, standard alphabet) and hexadecimal texts of bytes.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace pf {

// Standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const Bytes& bytes);
std::string base64Encode(std::string_view bytes);

// Strict: only the alphabet, a length that is a multiple of four and "=" only as the one or two
// last characters; anything else (white space included) gives nullopt.
std::optional<Bytes> base64DecodeStrict(std::string_view text);
// Lenient: characters outside the alphabet (white space, line breaks, "=") are skipped wherever
// they stand; a single character left over at the end gives nullopt.
std::optional<Bytes> base64DecodeLenient(std::string_view text);
// Skipping: ASCII white space and "=" are skipped wherever they stand; any other character
// outside the alphabet, or a single character left over at the end, gives nullopt.
std::optional<Bytes> base64DecodeSkippingWhitespace(std::string_view text);

// Two hexadecimal digits per byte, upper or lower case.
std::string hexEncode(const Bytes& bytes, bool upperCase = false);
std::string hexEncode(std::string_view bytes, bool upperCase = false);
// Digits of either case in pairs; nullopt for an odd length or another character.
std::optional<Bytes> hexDecode(std::string_view text);
// The value of one hexadecimal digit (either case), or -1.
int hexDigit(char c);

}  // namespace pf
