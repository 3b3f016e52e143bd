#pragma once
// "store.do": a key-value store for pages. "memGet"/"memSet" read and write the memory store,
// "get"/"set" the database store (the two hold separate values). A read answers {"wdata": value}
// ("" when there is none); a write answers {"wdata": "success"}, or the task's error when the store
// refuses it. Main thread only.

#include "app/PylPlugin.h"

namespace app {

class StorePlugin : public PylPlugin {
 public:
  bool handleRequest(const container::MwServletRequest& request) override;
};

}  // namespace app
