#pragma once
// The root page's delegate for every web view protocol; each operation does nothing.

#include "container/MwWebviewDelegates.h"

namespace app {

class PylWebviewDelegate : public container::MwWebviewKeyboardDelegate,
                           public container::MwWebviewStatusDelegate,
                           public container::MwWebviewInitDelegate,
                           public container::MwWebviewSetingDelegate,
                           public container::MwWebviewListener {
 public:
  std::optional<int> passwordStrength(const std::string&) override { return 0; }
};

}  // namespace app
