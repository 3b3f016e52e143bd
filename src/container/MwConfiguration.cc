#include "container/MwConfiguration.h"

#include <charconv>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"

namespace container {

MwConfiguration& MwConfiguration::getInstance() {
  static MwConfiguration instance;
  return instance;
}

void MwConfiguration::loadLocked() const {
  if (values_) return;
  values_ = pf::Value::object();
  auto path = pf::Bundle::main()->pathForResource("System", "plist");
  if (!path) return;
  auto bytes = pf::FileManager::readFile(*path, nullptr, 1u << 20);
  if (!bytes) return;
  auto parsed = pf::parsePropertyList(*bytes);
  if (parsed && parsed->is_object()) values_ = std::move(*parsed);
}

std::optional<pf::Value> MwConfiguration::valueForKey(std::string_view key) const {
  pf::MutexLock lock(mutex_);
  loadLocked();
  auto found = values_->find(std::string(key));
  if (found == values_->end()) return std::nullopt;
  return *found;
}

void MwConfiguration::setValue(pf::Value value, std::string_view key) {
  pf::MutexLock lock(mutex_);
  loadLocked();
  (*values_)[std::string(key)] = std::move(value);
}

std::optional<std::string> MwConfiguration::serverBaseUrl() const {
  auto list = valueForKey("list");
  if (!list || !list->is_array() || list->empty() || !(*list)[0].is_string()) return std::nullopt;
  return (*list)[0].get<std::string>();
}

std::vector<MwProbeHost> MwConfiguration::probeHosts() const {
  std::vector<MwProbeHost> out;
  auto hosts = valueForKey("probe-hosts");
  if (!hosts || !hosts->is_array()) return out;
  for (const auto& entry : *hosts) {
    if (!entry.is_string()) continue;
    const auto& text = entry.get_ref<const std::string&>();
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) continue;
    unsigned port = 0;
    auto [end, ec] = std::from_chars(text.data() + colon + 1, text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535) continue;
    out.push_back({text.substr(0, colon), static_cast<std::uint16_t>(port)});
  }
  return out;
}

std::optional<std::string> MwConfiguration::frontUrl() const {
  auto url = valueForKey("front-url");
  if (!url || !url->is_string()) return std::nullopt;
  return url->get<std::string>();
}

void MwConfiguration::resetForTesting() {
  auto& self = getInstance();
  pf::MutexLock lock(self.mutex_);
  self.values_.reset();
}

}  // namespace container
