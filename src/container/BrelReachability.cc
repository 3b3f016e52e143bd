#include "container/BrelReachability.h"

namespace container {

BrelReachability::~BrelReachability() {
  stopNotifier();
  clearBlocks();
}

}  // namespace container
