#include "container/MwJSON.h"

namespace container::MwJSON {

std::string JSONString(const pf::Value& value) {
  return value.dump(-1, ' ', false, pf::Value::error_handler_t::replace);
}

pf::Bytes JSONData(const pf::Value& value) { return pf::toBytes(JSONString(value)); }

std::optional<pf::Value> objectFromJSONString(std::string_view text) {
  pf::Value parsed = pf::Value::parse(text.begin(), text.end(), nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

std::optional<pf::Value> objectFromJSONData(const pf::Bytes& data) {
  return objectFromJSONString(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace container::MwJSON
