#include "app/TnqUIViewAttribute.h"

namespace app::TnqUIViewAttribute {

namespace {
constexpr const char* kKey = "app.userBindDictionary";
}

std::optional<pf::Value> userBindDictionary(const pf::View& view) {
  auto obj = std::static_pointer_cast<pf::Value>(view.associatedObject(kKey));
  if (!obj) return std::nullopt;
  return *obj;
}

void setUserBindDictionary(pf::View& view, std::optional<pf::Value> dictionary) {
  view.setAssociatedObject(kKey, dictionary ? std::make_shared<pf::Value>(std::move(*dictionary)) : nullptr);
}

}  // namespace app::TnqUIViewAttribute
