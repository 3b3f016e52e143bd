#include "app/PylPluginHandle.h"

#include "container/MwServletManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"

namespace app {

pf::Value PylPluginHandle::builtInPluginArray() {
  static const char* const table[][2] = {
      {"webnet.do", "PylWebnetPlugin"},       {"HttpEngine.do", "PylHttpEnginePlugin"},
      {"sort.do", "PylSortPlugin"},           {"chart.do", "PylKLinePlugin"},
      {"handshakemanager.do", "HandShakePlugin"}, {"screenoperation.do", "ScreenPlugin"},
      {"shareoperation.do", "SharePlugin"},   {"gesture.do", "GesturePlugin"},
      {"store.do", "StorePlugin"},            {"nativedialog.do", "PylDialogPlugin"},
      {"openapp.do", "NavigatePlugin"},       {"statistics.do", "StatisticPlugin"},
  };
  pf::Value array = pf::Value::array();
  for (const auto& [name, className] : table) array.push_back(pf::Value{{name, className}});
  return array;
}

const pf::Value& PylPluginHandle::pluginArray() {
  if (!pluginArray_.is_null()) return pluginArray_;
  if (auto path = pf::Bundle::main()->pathForResource("plugin", "plist")) {
    if (auto bytes = pf::FileManager::readFile(*path)) {
      if (auto table = pf::parsePropertyList(*bytes); table && table->is_array()) pluginArray_ = std::move(*table);
    }
  }
  if (pluginArray_.is_null()) pluginArray_ = builtInPluginArray();
  return pluginArray_;
}

void PylPluginHandle::registerPlugin() {
  registerPluginClasses();
  auto& manager = container::MwServletManager::getInstance();
  for (const auto& entry : pluginArray()) {
    if (!entry.is_object()) continue;
    for (const auto& [name, className] : entry.items()) {
      if (className.is_string()) manager.registerServletWithName(name, className.get<std::string>());
    }
  }
}

}  // namespace app
