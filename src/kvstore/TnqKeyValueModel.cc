#include "kvstore/TnqKeyValueModel.h"

#include "kvstore/SqValue.h"

namespace kvstore {

std::string TnqKeyValueModel::description() const {
  return "id=" + modelId.value_or("(null)") + ", value=" +
         (modelObject.is_discarded() ? std::string("(null)") : pf::description(modelObject)) +
         ", timeStamp=" + (createdDate ? SqValue::date(*createdDate).description() : std::string("(null)"));
}

}  // namespace kvstore
