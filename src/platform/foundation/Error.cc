#include "platform/foundation/Error.h"

namespace pf {

std::string Error::localizedDescription() const {
  if (userInfo.is_object()) {
    auto it = userInfo.find(kLocalizedDescriptionKey);
    if (it != userInfo.end() && it->is_string()) return it->get<std::string>();
  }
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

}  // namespace pf
