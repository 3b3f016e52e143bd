#pragma once
// The JSON text of stored values: compact, UTF-8, at most kMaxJsonDepth containers deep.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace kvstore {

inline constexpr int kMaxJsonDepth = 512;

// The text of a container (array or dictionary), or nullopt when the value is no container or
// cannot be written (a number that is not finite, bytes, text that is not UTF-8, nesting too deep).
std::optional<std::string> encodeJsonContainer(const pf::Value& value);
// The text of the one-element array holding the value, on the same terms.
std::optional<std::string> encodeJsonArrayOf(const pf::Value& value);
// Reads a stored text; a scalar at the top is accepted. nullopt when it does not parse.
std::optional<pf::Value> decodeJson(std::string_view text);
// The string of a text written as ["..."] with plain printable ASCII inside (what a string put of
// such text stores), read without the full parser; nullopt for every other text.
std::optional<std::string_view> plainStringElement(std::string_view text);

}  // namespace kvstore
