#include "container/LoggerUtil.h"

#include <atomic>

#include "platform/foundation/Log.h"

namespace container {

namespace {
std::atomic<bool> debugEnabled{true};
}

void LoggerUtil::debug(std::string_view message) {
  if (debugEnabled.load(std::memory_order_relaxed)) pf::logLine(message);
}

void LoggerUtil::setDebugEnabled(bool enabled) { debugEnabled.store(enabled); }

bool LoggerUtil::isDebugEnabled() { return debugEnabled.load(); }

}  // namespace container
