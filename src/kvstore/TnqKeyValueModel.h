#pragma once
// One stored item: its id, its decoded value and the time of its last put (seconds since 1970).

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace kvstore {

struct TnqKeyValueModel {
  std::optional<std::string> modelId;
  pf::Value modelObject;
  std::optional<double> createdDate;

  // "id=%@, value=%@, timeStamp=%@" with each part's description ("(null)" for a missing one).
  std::string description() const;

  bool operator==(const TnqKeyValueModel&) const = default;
};

}  // namespace kvstore
