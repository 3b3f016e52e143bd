#pragma once
// The container's JSON categories: dictionaries to UTF-8 JSON bytes and bytes back to objects.

#include <optional>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace container::MwJSON {

// The value serialised as compact UTF-8 JSON (invalid UTF-8 in strings is replaced, never raised).
pf::Bytes JSONData(const pf::Value& value);
std::string JSONString(const pf::Value& value);

// Parses UTF-8 JSON bytes into dictionaries, arrays, strings and numbers; nullopt when they do not
// parse (or nest deeper than the platform's reader allows).
std::optional<pf::Value> objectFromJSONData(const pf::Bytes& data);
std::optional<pf::Value> objectFromJSONString(std::string_view text);

}  // namespace container::MwJSON
