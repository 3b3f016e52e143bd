#pragma once
// The script every page gets before its own: the page's half of the bridge (MwPageBridge with its
// queue, and MwUI.Bridge.call / MwUI.Bridge.sendMessage). ES5. See docs/bridge.md.

#include <string>

namespace container {

const std::string& pageBridgeScript();

}  // namespace container
