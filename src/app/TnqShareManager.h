#pragma once
// Sharing to the messaging platform: share models, the platform's handler, and the shared
// manager that registers with the platform's library, sends a share and turns the platform's
// answer into a code and a text for the waiting page. Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "share/QxApi.h"

namespace app {

// The application's registration identifier with the messaging platform, which is also the URL
// scheme the platform's answers come back on (declare it among the bundle's URL schemes).
inline constexpr const char* kTnqQxRegistrationId = "qxfxclient";

// Texts given with the answer.
inline constexpr const char* kTnqShareSucceededText = "分享成功";
inline constexpr const char* kTnqShareFailedText = "分享失败";

class TnqShareModel {
 public:
  virtual ~TnqShareModel() = default;
  long type = 0;  // 1: the messaging platform; 2: reserved for a second platform (no handler)
};

class TnqQxShareModel : public TnqShareModel {
 public:
  TnqQxShareModel() { type = 1; }
  // Reads "sceneType", "contentType" (numbers or their texts), "filePath", "link", "title" and
  // "text"; an absent key leaves the field unset.
  static std::shared_ptr<TnqQxShareModel> initWihtDict(const pf::Value& dictionary);

  std::optional<long> sceneType;
  std::optional<long> contentType;  // 1 image; 2 reserved (sends nothing)
  std::optional<std::string> imageFilePath;
  std::optional<std::string> link;
  std::optional<std::string> title;
  std::optional<std::string> shareText;
};

// What became of a share handed on.
enum class TnqShareOutcome {
  Sent,         // the platform has it; its answer follows
  NothingSent,  // a content type or platform without a sender
  Refused,      // refused before reaching the platform (no image, too large, no platform)
};

class TnqShareProtocol {
 public:
  virtual ~TnqShareProtocol() = default;
  virtual TnqShareOutcome sendContent(const std::shared_ptr<TnqShareModel>& model) = 0;
};

class TnqQxShareDelegate {
 public:
  virtual ~TnqQxShareDelegate() = default;
  virtual void onQxResp(long code) = 0;
};

class TnqQxHandler : public TnqShareProtocol, public share::QxApiDelegate {
 public:
  // The thumbnail's side in points, at scale 1.
  static constexpr double kThumbSide = 80;

  std::weak_ptr<TnqQxShareDelegate> delegate;

  // Only a TnqQxShareModel with content type 1 is sent.
  TnqShareOutcome sendContent(const std::shared_ptr<TnqShareModel>& model) override;
  TnqShareOutcome sendImageContent(const TnqQxShareModel& model);
  // The library's answer to the request.
  bool send(const share::SendMessageToQxReq& request);

  void onReq(const share::QxBaseReq& request) override {}
  void onResp(const share::QxBaseResp& response) override;
};

class TnqShareManager : public share::QxApiDelegate,
                        public TnqQxShareDelegate,
                        public std::enable_shared_from_this<TnqShareManager> {
 public:
  using Callback = std::function<void(long code, const std::string& text)>;

  static std::shared_ptr<TnqShareManager> sharedInstance();
  static void resetForTesting();

  // Registers with the platform's library when QxKey is set (once, at start-up).
  void shareRegister();
  // The library's reading of an incoming URL; both open-URL entries of the application answer it.
  bool handleOpenURL(const std::string& url);
  // Type 1 goes to the platform's handler; any other type does nothing.
  TnqShareOutcome sendContent(const std::shared_ptr<TnqShareModel>& model);
  // The road of a waiting page: a share still pending is ended first (its code
  // share::kQxErrCodeSentFail and the failure text); the callback is set before sending, so no
  // answer is missed; a share refused before reaching the platform ends at once the same way, and
  // one with no sender (a reserved type) at once with share::kQxErrCodeUnsupport.
  TnqShareOutcome share(const std::shared_ptr<TnqShareModel>& model, Callback callback);
  // Gives the pending callback (0, success text) or (code, failure text), then clears it.
  void onQxResp(long code) override;

  const Callback& callback() const { return callback_; }
  void setCallback(Callback callback) { callback_ = std::move(callback); }
  const std::optional<std::string>& QxKey() const { return QxKey_; }
  void setQxKey(std::optional<std::string> key) { QxKey_ = std::move(key); }
  const std::optional<std::string>& QbKey() const { return QbKey_; }
  void setQbKey(std::optional<std::string> key) { QbKey_ = std::move(key); }
  // Made on first use, with this manager as its delegate.
  std::shared_ptr<TnqQxHandler> qxHandler();
  void setQxHandler(std::shared_ptr<TnqQxHandler> handler) { qxHandler_ = std::move(handler); }

 private:
  void finish(long code);

  Callback callback_;
  std::optional<std::string> QxKey_;
  std::optional<std::string> QbKey_;
  std::shared_ptr<TnqQxHandler> qxHandler_;
};

}  // namespace app
