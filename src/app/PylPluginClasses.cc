// The app's plug-in classes by name: add one line per plug-in class here.

#include "app/PylDialogPlugin.h"
#include "app/PylGesturePlugin.h"
#include "app/PylHandShakePlugin.h"
#include "app/PylHttpEnginePlugin.h"
#include "app/PylKLinePlugin.h"
#include "app/PylNavigatePlugin.h"
#include "app/PylPluginHandle.h"
#include "app/PylScreenPlugin.h"
#include "app/PylSharePlugin.h"
#include "app/PylSortPlugin.h"
#include "app/PylStatisticPlugin.h"
#include "app/PylStorePlugin.h"
#include "app/PylWebnetPlugin.h"
#include "container/MwServletManager.h"

namespace app {

void registerPluginClasses() {
  [[maybe_unused]] auto& classes = container::MwServletClasses::shared();
  classes.add<PylKLinePlugin>("PylKLinePlugin");
  classes.add<PylSortPlugin>("PylSortPlugin");
  classes.add<PylWebnetPlugin>("PylWebnetPlugin");
  classes.add<StorePlugin>("StorePlugin");
  classes.add<PylDialogPlugin>("PylDialogPlugin");
  classes.add<ScreenPlugin>("ScreenPlugin");
  classes.add<StatisticPlugin>("StatisticPlugin");
  classes.add<NavigatePlugin>("NavigatePlugin");
  classes.add<HandShakePlugin>("HandShakePlugin");
  classes.add<SharePlugin>("SharePlugin");
  classes.add<GesturePlugin>("GesturePlugin");
  classes.add<PylHttpEnginePlugin>("PylHttpEnginePlugin");
}

}  // namespace app
