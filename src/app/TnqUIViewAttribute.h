#pragma once
// A dictionary attached to any view (absent until set).

#include <optional>

#include "platform/foundation/Value.h"
#include "platform/ui/View.h"

namespace app::TnqUIViewAttribute {

std::optional<pf::Value> userBindDictionary(const pf::View& view);
void setUserBindDictionary(pf::View& view, std::optional<pf::Value> dictionary);

}  // namespace app::TnqUIViewAttribute
