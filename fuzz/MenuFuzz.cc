// Any bytes as the update manager's menu file: its entries and the business-file comparison each
// "html" entry goes through. Entries or nothing, never a crash, a hang or unbounded memory.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/MenuXMLModel.h"
#include "container/MwBusinessManager.h"
#include "platform/foundation/Sandbox.h"

namespace {

void useScratchHome() {
  static const bool ready = [] {
    auto path = std::filesystem::temp_directory_path() / ("fuzz_menu." + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    pf::Sandbox::setHome(path);
    return true;
  }();
  (void)ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  useScratchHome();
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto& business = container::MwBusinessManager::getInstance();
  for (const auto& entry : app::MenuXMLModel::parseMenu(text)) {
    // The page part and the type come from the whole url around its first bar.
    if (!entry.type.empty() && entry.intactUrl.compare(0, entry.type.size() + 1, entry.type + "|") != 0) std::abort();
    if (entry.type != "html") continue;
    business.refreshBusinessWithHTMLUrl(entry.intactUrl, entry.version);
    (void)business.getElementByHTMLUrl(entry.intactUrl);
  }
  container::MwBusinessManager::resetForTesting();  // the tree starts empty for every input
  return 0;
}
