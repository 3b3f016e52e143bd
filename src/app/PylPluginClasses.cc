// The app's plug-in classes by name: add one line per plug-in class here.

#include "app/PylPluginHandle.h"
#include "container/MwServletManager.h"

namespace app {

void registerPluginClasses() {
  [[maybe_unused]] auto& classes = container::MwServletClasses::shared();
  // classes.add<PylWebnetPlugin>("PylWebnetPlugin");
}

}  // namespace app
