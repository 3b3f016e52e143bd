#include "widgets/MwProgressHUD.h"

#include "platform/foundation/Error.h"

namespace widgets {

std::shared_ptr<MwProgressHUD> MwProgressHUD::initWithFrame(const pf::Rect& frame) {
  return std::make_shared<MwProgressHUD>(frame);
}

std::shared_ptr<MwProgressHUD> MwProgressHUD::initWithView(const std::shared_ptr<pf::View>& view) {
  if (!view) throw pf::Exception(pf::kInternalInconsistencyException, "View must not be nil.");
  return initWithFrame(view->bounds());
}

std::shared_ptr<MwProgressHUD> MwProgressHUD::initWithWindow(const std::shared_ptr<pf::Window>& window) {
  return initWithView(window);
}

std::shared_ptr<MwProgressHUD> MwProgressHUD::showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated) {
  auto hud = initWithView(view);
  view->addSubview(hud);
  hud->show(animated);
  return hud;
}

bool MwProgressHUD::hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideFrontmost<MwProgressHUD>(view.get(), animated);
}

unsigned MwProgressHUD::hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideAllOf<MwProgressHUD>(view.get(), animated);
}

std::shared_ptr<MwProgressHUD> MwProgressHUD::HUDForView(const std::shared_ptr<pf::View>& view) {
  return frontmostOf<MwProgressHUD>(view.get());
}

std::vector<std::shared_ptr<MwProgressHUD>> MwProgressHUD::allHUDsForView(const std::shared_ptr<pf::View>& view) {
  return allOf<MwProgressHUD>(view.get());
}

void MwProgressHUD::showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue,
                                 std::function<void()> completion) {
  showAnimatedWhileExecutingBlock(animated, std::move(block), std::move(queue), std::move(completion));
}
void MwProgressHUD::showAnimated(bool animated, std::function<void()> block) {
  showAnimated(animated, std::move(block), pf::DispatchQueue::global(), nullptr);
}
void MwProgressHUD::showAnimated(bool animated, std::function<void()> block, std::function<void()> completion) {
  showAnimated(animated, std::move(block), pf::DispatchQueue::global(), std::move(completion));
}
void MwProgressHUD::showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue) {
  showAnimated(animated, std::move(block), std::move(queue), nullptr);
}

void MwProgressHUD::tellDelegate() {
  if (auto d = delegate.lock()) d->hudWasHidden(*this);
}

}  // namespace widgets
