#pragma once
// The application's framework listener: turns the container's start-up results into named
// notifications (object: the value, no user info).

#include <memory>

#include "container/MwFramework.h"

namespace app {

inline constexpr const char* kNotificationHandShakeResult = "NotificationHandShakeResult";
inline constexpr const char* kDidCheckManifestWithResultNotification = "didCheckManifestWithResult";
inline constexpr const char* kNotificationManifestResult = "NotificationManifestResult";

class MwFrameWorkListener : public container::MwFrameworkDelegate {
 public:
  static std::shared_ptr<MwFrameWorkListener> sharedInstance();

  bool implements(Operation operation) const override;
  // Posts "NotificationHandShakeResult" with the dictionary.
  void didHandShakeWithResult(const pf::Value& result) override;
  // Posts "NotificationHandShakeResult" with the number (its observers act on dictionaries only).
  void didCheckMenuWithResult(int result) override;
  // Posts "didCheckManifestWithResult" with the number, later, on the main queue.
  void didCheckManifestWithResult(int result) override;
  // Posts "NotificationManifestResult" with the number.
  void didUpdateManifestWithResult(int result) override;
};

// The start-up's registrations with the messaging platform and the key-value store.
class PylSDKManager {
 public:
  static PylSDKManager& sharedInstance();
  // The share manager's QxKey from the configuration ("qx-app-id", else the built-in
  // registration identifier), then its registration.
  void loadShareSDK();
  void loadStore();
};

}  // namespace app
