#pragma once
// "openapp.do": "opener" opens another application by its URL scheme ("IOS_URLScheme") when the
// system can, and otherwise its download address ("IOS_DownloadURL"); every call is answered at
// once with an empty answer. Main thread only.

#include <string>

#include "app/PylPlugin.h"

namespace app {

class NavigatePlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;

  // Whether the system can open the URL.
  static bool canOpen(const std::string& url);
  // Asks the system to open the URL.
  static void openURL(const std::string& url);
};

}  // namespace app
