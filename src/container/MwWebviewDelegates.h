#pragma once
// The page host's delegate interfaces. Held weakly; called on the main thread; every operation not
// marked required does nothing by default.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace container {

class MwWebviewKeyboardDelegate {
 public:
  virtual ~MwWebviewKeyboardDelegate() = default;
  virtual void didWillShowPasswordKeyboard(const pf::Value& info) {}
  virtual void didWillHidePasswordKeyboard() {}
  // nullopt: not implemented.
  virtual std::optional<int> passwordStrength(const std::string& encryptData) { return std::nullopt; }
};

class MwWebviewStatusDelegate {
 public:
  virtual ~MwWebviewStatusDelegate() = default;
  // true once a page's scripts have run, false when a page cannot open.
  virtual void didPageStatus(bool loaded) {}
};

class MwWebviewInitDelegate {
 public:
  virtual ~MwWebviewInitDelegate() = default;
  // The first page has loaded.
  virtual void didInitCompleted() {}
};

class MwWebviewSetingDelegate {
 public:
  virtual ~MwWebviewSetingDelegate() = default;
  // The page set its title.
  virtual void didSetingTitle(const std::string& title) {}
  virtual void didSocializationShare(const pf::Value& info) {}
  virtual std::optional<std::string> forceSetHTMLKeyboardRandomValue() { return std::nullopt; }
};

class MwWebviewListener {
 public:
  virtual ~MwWebviewListener() = default;
  // history.back() on the only page.
  virtual void onBack() {}
};

}  // namespace container
