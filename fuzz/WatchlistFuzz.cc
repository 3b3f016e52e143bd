// The watch list on arbitrary page data: any JSON text through the group reader and the groups'
// JSON back. No crash, and every product dictionary of every group dictionary comes back once,
// with its three keys, favourites before the rest.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/SortModel.h"
#include "platform/foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = pf::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;
  auto groups = app::groupsFromArray(*value);
  std::size_t expectedGroups = 0;
  if (value->is_array())
    for (auto& g : *value) expectedGroups += g.is_object();
  if (groups.size() != expectedGroups) std::abort();
  std::size_t index = 0;
  for (auto& element : value->is_array() ? *value : pf::Value::array()) {
    if (!element.is_object()) continue;
    auto& group = *groups[index++];
    // The result list of the screen: favourites, then the rest.
    auto list = std::make_shared<app::ProductList>(*group.interstProducts);
    for (auto& p : *group.products)
      if (!p->isInterested) list->push_back(p);
    group.products = list;
    pf::Value out = group.JSONObj();
    if (out.size() != 2 || !out["name"].is_string() || !out["data"].is_array()) std::abort();
    std::size_t inputs = 0;
    auto it = element.find("data");
    if (it != element.end() && it->is_array())
      for (auto& p : *it) inputs += p.is_object();
    if (out["data"].size() != inputs) std::abort();
    bool rest = false;
    for (auto& p : out["data"]) {
      if (p.size() != 3 || !p["product"].is_string() || !p["currencyCode"].is_string()) std::abort();
      const auto& flag = p["isInterest"];
      if (flag != "1" && flag != "0") std::abort();
      if (flag == "0") rest = true;
      else if (rest) std::abort();
    }
  }
  return 0;
}
