#include "container/HnNetworkEngine.h"

#include <algorithm>

#include "container/HnNetworkOperation.h"

namespace container {

namespace {

// Every engine, for the class-wide cancel by URL text.
struct Registry {
  pf::Mutex mutex;
  std::vector<std::weak_ptr<HnNetworkEngine>> engines PF_GUARDED_BY(mutex);
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

std::shared_ptr<HnNetworkEngine> HnNetworkEngine::make(pf::HttpHeaders customHeaders) {
  std::shared_ptr<HnNetworkEngine> engine(new HnNetworkEngine(std::move(customHeaders)));
  auto& r = registry();
  pf::MutexLock lock(r.mutex);
  std::erase_if(r.engines, [](const auto& weak) { return weak.expired(); });
  r.engines.push_back(engine);
  return engine;
}

std::shared_ptr<HnNetworkOperation> HnNetworkEngine::operationWithURLString(const std::string& urlString,
                                                                            const std::optional<pf::Value>& params,
                                                                            const std::string& method,
                                                                            double timeout) const {
  auto operation = HnNetworkOperation::make(urlString, params, method, timeout);
  if (!customHeaders_.empty()) operation->addHeaders(customHeaders_);
  return operation;
}

void HnNetworkEngine::enqueueOperation(const std::shared_ptr<HnNetworkOperation>& operation) {
  if (!operation) return;
  {
    pf::MutexLock lock(mutex_);
    operations_.push_back(operation);
  }
  std::weak_ptr<HnNetworkEngine> weak = weak_from_this();
  const HnNetworkOperation* identity = operation.get();
  operation->addEndObserver([weak, identity] {
    if (auto engine = weak.lock()) engine->remove(identity);
  });
  operation->start();
}

void HnNetworkEngine::remove(const HnNetworkOperation* operation) {
  pf::MutexLock lock(mutex_);
  std::erase_if(operations_, [operation](const auto& op) { return op.get() == operation; });
}

std::vector<std::shared_ptr<HnNetworkOperation>> HnNetworkEngine::liveOperations() const {
  pf::MutexLock lock(mutex_);
  return operations_;
}

void HnNetworkEngine::cancelAllOperations() {
  for (const auto& operation : liveOperations()) operation->cancel();
}

void HnNetworkEngine::cancelOperationsContainingURLString(std::string_view text) {
  std::vector<std::shared_ptr<HnNetworkEngine>> engines;
  {
    auto& r = registry();
    pf::MutexLock lock(r.mutex);
    for (const auto& weak : r.engines) {
      if (auto engine = weak.lock()) engines.push_back(engine);
    }
  }
  for (const auto& engine : engines) {
    for (const auto& operation : engine->liveOperations()) {
      if (operation->url().find(text) != std::string::npos) operation->cancel();
    }
  }
}

std::size_t HnNetworkEngine::operationCount() const {
  pf::MutexLock lock(mutex_);
  return operations_.size();
}

}  // namespace container
