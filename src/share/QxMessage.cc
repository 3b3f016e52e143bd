#include "share/QxMessage.h"

#include "platform/ui/Image.h"

namespace share {

bool QxMediaMessage::setThumbImage(const std::shared_ptr<pf::Image>& image) {
  thumbData_ = image ? image->pngData() : pf::Bytes();
  return !thumbData_.empty();
}

}  // namespace share
