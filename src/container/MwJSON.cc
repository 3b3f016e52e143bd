#include "container/MwJSON.h"

#include "platform/foundation/Json.h"

namespace container::MwJSON {

std::optional<std::string> JSONString(const pf::Value& value) { return pf::writeJson(value); }

std::optional<pf::Bytes> JSONData(const pf::Value& value) {
  auto text = pf::writeJson(value);
  if (!text) return std::nullopt;
  return pf::toBytes(*text);
}

std::optional<pf::Value> objectFromJSONString(std::string_view text) { return pf::parseJson(text); }

std::optional<pf::Value> objectFromJSONData(const pf::Bytes& data) { return pf::parseJson(data); }

}  // namespace container::MwJSON
