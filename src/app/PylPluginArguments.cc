#include "app/PylPluginArguments.h"

namespace app::PylPluginArguments {

const pf::Value& argument(const pf::Value& data, const char* key) {
  static const pf::Value none;
  if (!data.is_object()) return none;
  const auto it = data.find(key);
  return it == data.end() ? none : *it;
}

std::string text(const pf::Value& data, const char* key) {
  const pf::Value& value = argument(data, key);
  return value.is_string() ? value.get<std::string>() : std::string();
}

bool isText(const pf::Value& data, const char* key) { return argument(data, key).is_string(); }

}  // namespace app::PylPluginArguments
