#include "kvstore/KeyValueJson.h"

#include <limits>

#include "platform/foundation/Json.h"

namespace kvstore {
namespace {

// Text that the platform's writer puts between quotes as it stands: printable ASCII without '"',
// '\' and '/' (which it writes as "\/").
bool isPlainJsonText(std::string_view text) {
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\' || c == '/') return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> encodeJsonContainer(const pf::Value& value) {
  pf::JsonWriteOptions options;
  options.maxDepth = kMaxJsonDepth;
  return pf::writeJson(value, options);
}

std::optional<std::string> encodeJsonArrayOf(const pf::Value& value) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    if (isPlainJsonText(text)) {
      std::string out;
      out.reserve(text.size() + 4);
      out.append("[\"").append(text).append("\"]");
      return out;
    }
  }
  pf::JsonWriteOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxJsonDepth - 1;  // the array adds one level
  auto inner = pf::writeJson(value, options);
  if (!inner) return std::nullopt;
  inner->insert(inner->begin(), '[');
  inner->push_back(']');
  return inner;
}

std::optional<pf::Value> decodeJson(std::string_view text) {
  pf::JsonReadOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxJsonDepth;
  options.maxBytes = std::numeric_limits<std::size_t>::max();  // our own file: whatever was stored
  return pf::parseJson(text, options);
}

std::optional<std::string_view> plainStringElement(std::string_view text) {
  if (text.size() < 4 || !text.starts_with("[\"") || !text.ends_with("\"]")) return std::nullopt;
  std::string_view inner = text.substr(2, text.size() - 4);
  if (!isPlainJsonText(inner)) return std::nullopt;
  return inner;
}

}  // namespace kvstore
