#include "appnet/TnqIOConsumer.h"

#include "platform/foundation/Error.h"

namespace appnet {

void TnqIOConsumer::setupWithScanner(Scanner scanner, Handler handler, std::uint64_t bytesNeeded,
                                     bool readToCurrentFrame, bool unmaskBytes) {
  if (!scanner && bytesNeeded == 0)
    throw pf::Exception(pf::kInternalInconsistencyException, "a read needs a scanner or a byte count");
  consumer_ = std::move(scanner);
  handler_ = std::move(handler);
  bytesNeeded_ = bytesNeeded;
  readToCurrentFrame_ = readToCurrentFrame;
  unmaskBytes_ = unmaskBytes;
}

void TnqIOConsumer::reset() {
  consumer_ = nullptr;
  handler_ = nullptr;
  bytesNeeded_ = 0;
}

std::shared_ptr<TnqIOConsumer> TnqIOConsumerPool::consumerWithScanner(TnqIOConsumer::Scanner scanner,
                                                                      TnqIOConsumer::Handler handler,
                                                                      std::uint64_t bytesNeeded,
                                                                      bool readToCurrentFrame, bool unmaskBytes) {
  std::shared_ptr<TnqIOConsumer> consumer;
  if (!bufferedConsumers_.empty()) {
    consumer = std::move(bufferedConsumers_.back());
    bufferedConsumers_.pop_back();
  } else {
    consumer = std::make_shared<TnqIOConsumer>();
  }
  consumer->setupWithScanner(std::move(scanner), std::move(handler), bytesNeeded, readToCurrentFrame, unmaskBytes);
  return consumer;
}

void TnqIOConsumerPool::returnConsumer(std::shared_ptr<TnqIOConsumer> consumer) {
  if (!consumer || bufferedConsumers_.size() >= poolSize_) return;
  consumer->reset();
  bufferedConsumers_.push_back(std::move(consumer));
}

}  // namespace appnet
