#include "widgets/TnqProgressHUD.h"

namespace widgets {

std::shared_ptr<TnqProgressHUD> TnqProgressHUD::initWithFrame(const pf::Rect& frame) {
  return std::make_shared<TnqProgressHUD>(frame);
}

std::shared_ptr<TnqProgressHUD> TnqProgressHUD::initWithView(const std::shared_ptr<pf::View>& view) {
  return initWithFrame(view ? view->bounds() : pf::Rect());
}

std::shared_ptr<TnqProgressHUD> TnqProgressHUD::initWithWindow(const std::shared_ptr<pf::Window>& window) {
  return initWithView(window);
}

std::shared_ptr<TnqProgressHUD> TnqProgressHUD::showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated) {
  auto hud = initWithView(view);
  hud->setRemoveFromSuperViewOnHide(true);
  if (view) view->addSubview(hud);
  hud->show(animated);
  return hud;
}

bool TnqProgressHUD::hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideFrontmost<TnqProgressHUD>(view.get(), animated);
}

unsigned TnqProgressHUD::hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideAllOf<TnqProgressHUD>(view.get(), animated);
}

std::shared_ptr<TnqProgressHUD> TnqProgressHUD::HUDForView(const std::shared_ptr<pf::View>& view) {
  return frontmostOf<TnqProgressHUD>(view.get());
}

std::vector<std::shared_ptr<TnqProgressHUD>> TnqProgressHUD::allHUDsForView(const std::shared_ptr<pf::View>& view) {
  return allOf<TnqProgressHUD>(view.get());
}

void TnqProgressHUD::showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue,
                                  std::function<void()> completion) {
  showAnimatedWhileExecutingBlock(animated, std::move(block), std::move(queue), std::move(completion));
}
void TnqProgressHUD::showAnimated(bool animated, std::function<void()> block) {
  showAnimated(animated, std::move(block), pf::DispatchQueue::global(), nullptr);
}
void TnqProgressHUD::showAnimated(bool animated, std::function<void()> block, std::function<void()> completion) {
  showAnimated(animated, std::move(block), pf::DispatchQueue::global(), std::move(completion));
}
void TnqProgressHUD::showAnimated(bool animated, std::function<void()> block, std::shared_ptr<pf::DispatchQueue> queue) {
  showAnimated(animated, std::move(block), std::move(queue), nullptr);
}

void TnqProgressHUD::tellDelegate() {
  if (auto d = delegate.lock()) d->hudWasHidden(*this);
}

}  // namespace widgets
