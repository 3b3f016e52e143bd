#include "app/MwFrameWorkListener.h"

#include "app/TnqShareManager.h"
#include "container/MwConfiguration.h"
#include "kvstore/KeyValueStoreLib.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

namespace app {

std::shared_ptr<MwFrameWorkListener> MwFrameWorkListener::sharedInstance() {
  static auto shared = std::make_shared<MwFrameWorkListener>();
  return shared;
}

bool MwFrameWorkListener::implements(Operation operation) const {
  return operation == Operation::HandShake || operation == Operation::CheckMenu ||
         operation == Operation::CheckManifest || operation == Operation::UpdateManifest;
}

void MwFrameWorkListener::didHandShakeWithResult(const pf::Value& result) {
  pf::NotificationCenter::defaultCenter().post(kNotificationHandShakeResult, result);
}

void MwFrameWorkListener::didCheckMenuWithResult(int result) {
  pf::NotificationCenter::defaultCenter().post(kNotificationHandShakeResult, pf::Value(result));
}

void MwFrameWorkListener::didCheckManifestWithResult(int result) {
  pf::DispatchQueue::main()->async(
      [result] { pf::NotificationCenter::defaultCenter().post(kDidCheckManifestWithResultNotification, pf::Value(result)); });
}

void MwFrameWorkListener::didUpdateManifestWithResult(int result) {
  pf::NotificationCenter::defaultCenter().post(kNotificationManifestResult, pf::Value(result));
}

PylSDKManager& PylSDKManager::sharedInstance() {
  static PylSDKManager shared;
  return shared;
}

void PylSDKManager::loadShareSDK() {
  auto configured = container::MwConfiguration::getInstance().valueForKey("qx-app-id");
  auto share = TnqShareManager::sharedInstance();
  share->setQxKey(configured && configured->is_string() && !configured->get<std::string>().empty()
                      ? configured->get<std::string>()
                      : std::string(kTnqQxRegistrationId));
  share->shareRegister();
}

void PylSDKManager::loadStore() { kvstore::KeyValueStoreLib::sharedInstance()->loadStore(); }

}  // namespace app
