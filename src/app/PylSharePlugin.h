#pragma once
// "shareoperation.do": "shareQxImage" shares the image file "filePath" to the messaging platform's
// scene "shareType" and answers {"resultCode", "content"} when the platform has answered; other
// operations are answered at once, empty. Main thread only.

#include "app/PylPlugin.h"

namespace app {

class SharePlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;
};

}  // namespace app
