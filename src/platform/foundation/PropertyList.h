#pragma once
// Property lists to and from Value: XML and binary over libplist, and the old-style text format
// (also the format of ".strings" tables) read by our own parser.
//
// Mapping: dictionaries, arrays, strings, booleans, integers and reals as in JSON; data and dates
// as the binary side-types of Value.h (makeData, makeDate); a keyed-archive UID as {"CF$UID": n}.
// Null has no property-list form: writing it is an error. Integers are signed 64-bit.
//
// Reading is bounded before libplist sees the bytes: size, nesting depth and (for binary lists,
// whose objects may be shared) the number of objects the tree expands to; a reference cycle is
// refused. Failures give nullopt and an error of "NSCocoaErrorDomain" (3840 corrupt,
// 3851 cannot write) with "NSDebugDescription".

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace pf {

enum class PropertyListFormat { OpenStep = 1, Xml = 100, Binary = 200 };

inline constexpr std::int64_t kPropertyListReadCorruptError = 3840;
inline constexpr std::int64_t kPropertyListWriteInvalidError = 3851;

struct PropertyListReadOptions {
  std::size_t maxBytes = 16u << 20;
  std::size_t maxDepth = 512;
  std::size_t maxObjects = 1u << 20;
};

// Detects the format (binary magic, XML, else old-style text; UTF-16 text with a byte-order mark
// is accepted) and reports it through `format` when given.
std::optional<Value> parsePropertyList(std::string_view bytes, PropertyListFormat* format = nullptr,
                                       Error* error = nullptr, const PropertyListReadOptions& options = {});
std::optional<Value> parsePropertyList(const Bytes& bytes, PropertyListFormat* format = nullptr,
                                       Error* error = nullptr, const PropertyListReadOptions& options = {});

// XML or binary (the old-style format cannot be written, as on the platform).
std::optional<Bytes> writePropertyList(const Value& value, PropertyListFormat format, Error* error = nullptr);

// A ".strings" table: an old-style dictionary whose braces may be left out, where a lone
// "key"; stands for "key" = "key";. Only strings are kept.
std::optional<Value> parseStringsTable(std::string_view bytes, Error* error = nullptr);

}  // namespace pf
