#pragma once
// Fills the container's servlet registry with the app's plug-ins: from the bundle's "plugin.plist"
// (an array of dictionaries, servlet name -> class name) or, when none can be read, from the built-in
// table of twelve names. Names whose class does not exist (yet) are skipped: a page calling them gets
// an error answer at once.

#include "platform/foundation/Value.h"

namespace app {

class PylPluginHandle {
 public:
  // Registers every (servlet name, class name) of pluginArray, in order.
  void registerPlugin();

  // Read on first use (see the class comment).
  const pf::Value& pluginArray();
  void setPluginArray(pf::Value array) { pluginArray_ = std::move(array); }

  // The built-in table: twelve one-entry dictionaries.
  static pf::Value builtInPluginArray();

 private:
  pf::Value pluginArray_;  // null until read
};

// Makes the app's plug-in classes known by name (pf::ClassRegistry<container::MwServlet>). Idempotent.
void registerPluginClasses();

}  // namespace app
