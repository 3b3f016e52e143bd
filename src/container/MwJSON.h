#pragma once
// The container's JSON categories: dictionaries to UTF-8 JSON bytes and bytes back to objects,
// over the platform's JSON reader and writer.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Value.h"

namespace container::MwJSON {

// The value serialised as compact UTF-8 JSON; nullopt when the writer refuses it (a top level that
// is no container, text that is not UTF-8, numbers that are not finite).
std::optional<pf::Bytes> JSONData(const pf::Value& value);
std::optional<std::string> JSONString(const pf::Value& value);

// Parses UTF-8 JSON bytes into dictionaries, arrays, strings and numbers; nullopt when they do not
// parse.
std::optional<pf::Value> objectFromJSONData(const pf::Bytes& data);
std::optional<pf::Value> objectFromJSONString(std::string_view text);

}  // namespace container::MwJSON
