#include "app/BaseModel.h"

namespace app {

std::string BaseModel::description() const {
  std::string out;
  for (const auto& [name, value] : ownProperties()) {
    out += name;
    out += " =  ";
    out += value ? pf::description(*value) : "(null)";
    out += " \n ";
  }
  return out;
}

}  // namespace app
