#pragma once
// The messages the messaging platform's library carries: a send-message request with a media
// message (a thumbnail and an image object), and the platform's answer.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Bytes.h"

namespace pf {
class Image;
}

namespace share {

// Scenes of the platform: a chat session, the timeline, the favourites.
inline constexpr int kQxSceneSession = 0;
inline constexpr int kQxSceneTimeline = 1;
inline constexpr int kQxSceneFavorite = 2;

// Answer codes.
inline constexpr int kQxSuccess = 0;
inline constexpr int kQxErrCodeCommon = -1;
inline constexpr int kQxErrCodeUserCancel = -2;
inline constexpr int kQxErrCodeSentFail = -3;
inline constexpr int kQxErrCodeAuthDeny = -4;
inline constexpr int kQxErrCodeUnsupport = -5;

class QxMediaObject {
 public:
  virtual ~QxMediaObject() = default;
};

class QxImageObject : public QxMediaObject {
 public:
  static std::shared_ptr<QxImageObject> object() { return std::make_shared<QxImageObject>(); }
  const pf::Bytes& imageData() const { return imageData_; }
  void setImageData(pf::Bytes data) { imageData_ = std::move(data); }

 private:
  pf::Bytes imageData_;
};

class QxMediaMessage {
 public:
  static std::shared_ptr<QxMediaMessage> message() { return std::make_shared<QxMediaMessage>(); }

  // Keeps the image's PNG form; false (and no thumbnail) when it cannot be encoded.
  bool setThumbImage(const std::shared_ptr<pf::Image>& image);
  const pf::Bytes& thumbData() const { return thumbData_; }

  void setMediaObject(std::shared_ptr<QxMediaObject> object) { mediaObject_ = std::move(object); }
  const std::shared_ptr<QxMediaObject>& mediaObject() const { return mediaObject_; }

 private:
  pf::Bytes thumbData_;
  std::shared_ptr<QxMediaObject> mediaObject_;
};

class QxBaseReq {
 public:
  virtual ~QxBaseReq() = default;
};

class SendMessageToQxReq : public QxBaseReq {
 public:
  bool bText = false;
  std::string text;  // the text sent when bText is set
  std::shared_ptr<QxMediaMessage> message;
  int scene = kQxSceneSession;
};

class QxBaseResp {
 public:
  virtual ~QxBaseResp() = default;
  int errCode = kQxSuccess;
  std::string errStr;
};

class SendMessageToQxResp : public QxBaseResp {};

}  // namespace share
