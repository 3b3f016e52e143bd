#include "widgets/PylProgressHUD.h"

namespace widgets {

std::shared_ptr<PylProgressHUD> PylProgressHUD::initWithFrame(const pf::Rect& frame) {
  return std::make_shared<PylProgressHUD>(frame);
}

std::shared_ptr<PylProgressHUD> PylProgressHUD::initWithView(const std::shared_ptr<pf::View>& view) {
  auto hud = initWithFrame(view ? view->bounds() : pf::Rect());
  if (std::dynamic_pointer_cast<pf::Window>(view)) hud->setTransformForCurrentOrientation(false);
  return hud;
}

std::shared_ptr<PylProgressHUD> PylProgressHUD::initWithWindow(const std::shared_ptr<pf::Window>& window) {
  return initWithView(window);
}

std::shared_ptr<PylProgressHUD> PylProgressHUD::showHUDAddedTo(const std::shared_ptr<pf::View>& view, bool animated) {
  auto hud = initWithView(view);
  if (view) view->addSubview(hud);
  hud->show(animated);
  return hud;
}

std::shared_ptr<PylProgressHUD> PylProgressHUD::showHUDAddedTo(const std::shared_ptr<pf::View>& view,
                                                               const std::string& text, bool animated) {
  auto hud = initWithView(view);
  hud->setLabelText(text);
  if (view) view->addSubview(hud);
  hud->show(animated);
  return hud;
}

bool PylProgressHUD::hideHUDForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideFrontmost<PylProgressHUD>(view.get(), animated);
}

unsigned PylProgressHUD::hideAllHUDsForView(const std::shared_ptr<pf::View>& view, bool animated) {
  return hideAllOf<PylProgressHUD>(view.get(), animated);
}

std::shared_ptr<PylProgressHUD> PylProgressHUD::HUDForView(const std::shared_ptr<pf::View>& view) {
  return frontmostOf<PylProgressHUD>(view.get());
}

std::vector<std::shared_ptr<PylProgressHUD>> PylProgressHUD::allHUDsForView(const std::shared_ptr<pf::View>& view) {
  return allOf<PylProgressHUD>(view.get());
}

void PylProgressHUD::tellDelegate() {
  if (auto d = delegate.lock()) d->hudWasHidden(*this);
}

}  // namespace widgets
