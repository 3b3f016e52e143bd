#pragma once
// The listener protocol of the push hub. Every operation is optional (does nothing by default);
// the hub calls only receiveMessage and sendCloseSign.

#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

namespace appnet {

class WebnetLibDelegate {
 public:
  virtual ~WebnetLibDelegate() = default;
  // The listener is being removed.
  virtual void sendCloseSign() {}
  // One pushed text, as received.
  virtual void receiveMessage(const std::string& text) {}
  virtual void connectSuccess() {}
  virtual void connectFailed(const pf::Value& info) {}
  virtual std::int64_t WebnetStateChanged() { return 0; }
};

}  // namespace appnet
