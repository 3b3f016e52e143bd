// Incoming URLs and pasteboard bytes through the messaging platform's library: any application
// may open our scheme, so arbitrary texts and bytes must never crash it, and the delegate hears
// only a valid answer to the pending request (then the library says so).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Pasteboard.h"
#include "share/QxApi.h"

namespace {

constexpr const char* kAppId = "qxfuzz";

struct Recorder : share::QxApiDelegate {
  void onReq(const share::QxBaseReq&) override { ++calls; }
  void onResp(const share::QxBaseResp&) override { ++calls; }
  int calls = 0;
};

// Registers and leaves one request pending with a platform that never answers.
bool setUp() {
  pf::Application::shared().installApplication("org.qxplatform.fuzz", {share::QxExchange::kPlatformScheme},
                                               [](const std::string&, const std::string&) {});
  share::QxApi::registerApp(kAppId);
  auto message = share::QxMediaMessage::message();
  message->setThumbImage(pf::Image::blank(8, 8));
  auto object = share::QxImageObject::object();
  object->setImageData({1, 2, 3});
  message->setMediaObject(object);
  share::SendMessageToQxReq request;
  request.message = message;
  return share::QxApi::sendReq(request);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = setUp();
  if (!ready) std::abort();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The URL text up to the first NUL; the response bytes after it.
  std::size_t nul = input.find('\0');
  std::string url(input.substr(0, nul));
  auto board = pf::Pasteboard::withName(share::QxExchange::kPasteboardName, true);
  if (nul != std::string_view::npos) {
    std::string_view rest = input.substr(nul + 1);
    board->setData(pf::Bytes(rest.begin(), rest.end()), share::QxExchange::kResponseType);
  }
  auto recorder = std::make_shared<Recorder>();
  bool handled = share::QxApi::handleOpenURL(url, recorder);
  if (recorder->calls != (handled ? 1 : 0)) std::abort();
  if (handled) {
    std::string prefix = std::string(kAppId) + "://resp?transaction=";
    if (url.size() != prefix.size() + 32) std::abort();
    setUp();  // a new pending request for the inputs that follow
  }
  return 0;
}
