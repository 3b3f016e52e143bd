#include "app/TnqShareManager.h"

#include <mutex>

#include "app/TnqExtension.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/Image.h"

namespace app {
namespace {

std::optional<long> integerField(const pf::Value& dictionary, const char* key) {
  const pf::Value* v = pf::valueForKey(dictionary, key);
  if (!v || v->is_null()) return std::nullopt;
  return static_cast<long>(pf::integerValue(*v));
}

std::optional<std::string> textField(const pf::Value& dictionary, const char* key) {
  const pf::Value* v = pf::valueForKey(dictionary, key);
  if (!v || v->is_null()) return std::nullopt;
  return pf::stringValue(*v);
}

pf::Mutex& sharedMutex() {
  static pf::Mutex m;
  return m;
}

std::shared_ptr<TnqShareManager>& sharedSlot() PF_REQUIRES(sharedMutex()) {
  static std::shared_ptr<TnqShareManager> instance;
  return instance;
}

}  // namespace

std::shared_ptr<TnqQxShareModel> TnqQxShareModel::initWihtDict(const pf::Value& dictionary) {
  auto model = std::make_shared<TnqQxShareModel>();
  if (!dictionary.is_object()) return model;
  model->sceneType = integerField(dictionary, "sceneType");
  model->contentType = integerField(dictionary, "contentType");
  model->imageFilePath = textField(dictionary, "filePath");
  model->link = textField(dictionary, "link");
  model->title = textField(dictionary, "title");
  model->shareText = textField(dictionary, "text");
  return model;
}

TnqShareOutcome TnqQxHandler::sendContent(const std::shared_ptr<TnqShareModel>& model) {
  auto qx = std::dynamic_pointer_cast<TnqQxShareModel>(model);
  if (!qx || qx->contentType != 1) return TnqShareOutcome::NothingSent;
  return sendImageContent(*qx);
}

TnqShareOutcome TnqQxHandler::sendImageContent(const TnqQxShareModel& model) {
  auto message = share::QxMediaMessage::message();
  std::string path = model.imageFilePath.value_or(std::string());
  // Read once, within the platform's bound: the image object carries these very bytes. The path
  // comes from a page: only a regular file is read, so a FIFO or a device cannot stall the app.
  auto bytes = path.empty() ? std::nullopt
                            : pf::FileManager::readRegularFile(path, nullptr, share::QxExchange::kMaxRequestBytes);
  auto image = bytes ? pf::Image::fromData(*bytes) : nullptr;
  if (!image) return TnqShareOutcome::Refused;  // nothing to show, or not an image
  auto thumb = TnqExtension::scaleToSize(*image, {kThumbSide, kThumbSide});
  if (!message->setThumbImage(thumb)) return TnqShareOutcome::Refused;

  auto object = share::QxImageObject::object();
  object->setImageData(std::move(*bytes));
  message->setMediaObject(object);

  share::SendMessageToQxReq request;
  request.bText = false;
  request.message = message;
  request.scene = static_cast<int>(model.sceneType.value_or(0));
  return send(request) ? TnqShareOutcome::Sent : TnqShareOutcome::Refused;
}

bool TnqQxHandler::send(const share::SendMessageToQxReq& request) { return share::QxApi::sendReq(request); }

void TnqQxHandler::onResp(const share::QxBaseResp& response) {
  if (!dynamic_cast<const share::SendMessageToQxResp*>(&response)) return;
  if (auto target = delegate.lock()) target->onQxResp(response.errCode);
}

std::shared_ptr<TnqShareManager> TnqShareManager::sharedInstance() {
  pf::MutexLock lock(sharedMutex());
  auto& slot = sharedSlot();
  if (!slot) slot = std::make_shared<TnqShareManager>();
  return slot;
}

void TnqShareManager::resetForTesting() {
  pf::MutexLock lock(sharedMutex());
  sharedSlot().reset();
}

void TnqShareManager::shareRegister() {
  if (QxKey_ && !QxKey_->empty()) share::QxApi::registerApp(*QxKey_);
}

bool TnqShareManager::handleOpenURL(const std::string& url) { return share::QxApi::handleOpenURL(url, qxHandler()); }

TnqShareOutcome TnqShareManager::sendContent(const std::shared_ptr<TnqShareModel>& model) {
  if (!model || model->type != 1) return TnqShareOutcome::NothingSent;
  return qxHandler()->sendContent(model);
}

TnqShareOutcome TnqShareManager::share(const std::shared_ptr<TnqShareModel>& model, Callback callback) {
  if (callback_) finish(share::kQxErrCodeSentFail);
  callback_ = std::move(callback);
  TnqShareOutcome outcome = sendContent(model);
  if (outcome == TnqShareOutcome::Refused) finish(share::kQxErrCodeSentFail);
  if (outcome == TnqShareOutcome::NothingSent) finish(share::kQxErrCodeUnsupport);
  return outcome;
}

void TnqShareManager::onQxResp(long code) { finish(code); }

void TnqShareManager::finish(long code) {
  if (!callback_) return;
  Callback callback = std::move(callback_);
  callback_ = nullptr;
  callback(code, code == 0 ? kTnqShareSucceededText : kTnqShareFailedText);
}

std::shared_ptr<TnqQxHandler> TnqShareManager::qxHandler() {
  if (!qxHandler_) {
    qxHandler_ = std::make_shared<TnqQxHandler>();
    qxHandler_->delegate = std::static_pointer_cast<TnqQxShareDelegate>(shared_from_this());
  }
  return qxHandler_;
}

}  // namespace app
