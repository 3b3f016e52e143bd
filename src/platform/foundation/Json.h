#pragma once
// The platform's JSON reader and writer over Value.
//
// Reading: UTF-8 only (a leading byte-order mark is skipped), invalid UTF-8 refused, top level
// an array or dictionary unless fragments are allowed, bounded in size and nesting depth; a
// duplicate key keeps its first place and takes the last value. Failures give nullopt and an
// error of the domain "NSCocoaErrorDomain", code 3840, with "NSDebugDescription".
//
// Writing: compact ({"a":1,"b":[1,2]}) or pretty (two-blank indentation, " : " after keys), "/"
// written as "\/" unless asked otherwise, non-ASCII characters as UTF-8, numbers in their
// shortest form. Not a number, infinities, data and dates, strings that are not UTF-8 and (unless
// fragments are allowed) a top level that is no container are refused with an error.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace pf {

inline constexpr std::int64_t kJsonReadCorruptError = 3840;
inline constexpr std::int64_t kJsonWriteInvalidError = 3851;

struct JsonReadOptions {
  bool allowFragments = false;
  std::size_t maxDepth = 512;
  std::size_t maxBytes = 16u << 20;
};

struct JsonWriteOptions {
  bool pretty = false;
  bool sortedKeys = false;
  bool allowFragments = false;
  bool escapeSlashes = true;
  // "\u2028" and "\u2029" escaped, so that the text can sit inside a script.
  bool escapeLineSeparators = false;
  std::size_t maxDepth = 512;
};

std::optional<Value> parseJson(std::string_view text, const JsonReadOptions& options = {}, Error* error = nullptr);
std::optional<Value> parseJson(const Bytes& bytes, const JsonReadOptions& options = {}, Error* error = nullptr);

std::optional<std::string> writeJson(const Value& value, const JsonWriteOptions& options = {},
                                     Error* error = nullptr);

// Whether writeJson would accept the value (with fragments allowed when asked).
bool isValidJsonObject(const Value& value, bool allowFragments = false);

}  // namespace pf
