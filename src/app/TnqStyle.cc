#include "app/TnqStyle.h"

#include "app/LayoutMethods.h"
#include "app/TnqColor.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace app::TnqStyle {

namespace LM = LayoutMethods;
using pf::Color;

pf::Size orientedScreenSize() {
  pf::Rect b = pf::Screen::main()->bounds();
  if (pf::Device::current()->systemVersionBelow("8.0")) return {b.height(), b.width()};
  return b.size;
}

namespace {

template <class T>
std::shared_ptr<T> byTag(pf::ViewController& vc, int tag) {
  if (auto found = std::dynamic_pointer_cast<T>(vc.view()->viewWithTag(tag))) return found;
  auto made = std::make_shared<T>();
  made->setTag(tag);
  return made;
}

std::size_t stackCount(pf::ViewController& vc) {
  auto nav = vc.navigationController();
  return nav ? nav->viewControllers().size() : 0;
}

std::shared_ptr<pf::Button> addBackButton(pf::ViewController& vc, const std::string& image, double height,
                                          double width) {
  auto button = pf::Button::make(pf::ButtonType::Custom);
  button->setBackgroundColor(Color::clear());
  std::weak_ptr<pf::ViewController> weak = vc.weak_from_this();
  button->addTarget(
      [weak](pf::Control& sender) {
        if (auto keep = weak.lock()) backAction(*keep, &sender);
      },
      pf::kControlEventTouchUpInside);
  button->setImage(pf::Image::named(image), pf::kControlStateNormal);
  button->setFrame(pf::Rect(orientedScreenSize().width * 20.0 / 750.0, 20.0, width, height));
  vc.view()->addSubview(button);
  return button;
}

// Across the top of `view`: at y 0, as wide as it and centred, `height` high.
void pinAcrossTop(pf::View& v, pf::View& view, double height) {
  LM::setY(v, 0);
  LM::widthEqualToView(v, view);
  LM::centerXEqualToView(v, view);
  LM::setHeight(v, height);
}

// A centred title on a clear background.
void styleTitle(pf::Label& label, const std::string& title, const Color& color, const pf::Font& font) {
  label.setText(title);
  label.setTextColor(color);
  label.setTextAlignment(pf::TextAlignment::Center);
  label.setBackgroundColor(Color::clear());
  label.setFont(font);
}

// A title 40 high across `view`, `top` from its top.
void addTitle(pf::View& view, const std::string& title, const Color& color, const pf::Font& font, double top) {
  auto label = pf::Label::make();
  styleTitle(*label, title, color, font);
  view.addSubview(label);
  LM::widthEqualToView(*label, view);
  LM::centerXEqualToView(*label, view);
  LM::setHeight(*label, 40.0);
  LM::setY(*label, top);
}

}  // namespace

std::shared_ptr<pf::View> bgView(pf::ViewController& vc) { return byTag<pf::View>(vc, kBgViewTag); }
std::shared_ptr<pf::View> line(pf::ViewController& vc) { return byTag<pf::View>(vc, kLineTag); }
std::shared_ptr<pf::Label> titleLabel(pf::ViewController& vc) { return byTag<pf::Label>(vc, kTitleLabelTag); }
std::shared_ptr<pf::View> navBar(pf::ViewController& vc) { return byTag<pf::View>(vc, kNavBarTag); }

void blackNavigationBar(pf::ViewController& vc) {
  auto view = vc.view();
  view->addSubview(bgView(vc));
  auto bar = navBar(vc);
  view->addSubview(bar);
  bar->setBackgroundColor(TnqColor::TnqColorWithRed(52, 52, 52, 255));
  auto l = line(vc);
  l->setBackgroundColor(TnqColor::TnqColorWithRed(233, 112, 76, 255));
  view->addSubview(l);
  if (stackCount(vc) >= 2) addBackButton(vc, "backBtn", 46.0, 25.0);
}

void blackNavigationBarWithTitle(pf::ViewController& vc, const std::string& title) {
  blackNavigationBar(vc);
  auto label = titleLabel(vc);
  styleTitle(*label, title, Color::whiteColor(), pf::Font::systemFont(18.0));
  vc.view()->addSubview(label);
  layoutHeadViews(vc);
}

void redNavigationBar(pf::ViewController& vc) {
  auto view = vc.view();
  pf::Size screen = orientedScreenSize();
  auto bg = bgView(vc);
  view->addSubview(bg);
  pinAcrossTop(*bg, *view, screen.height);

  auto bar = pf::View::make();
  view->addSubview(bar);
  LM::leftEqualToView(*bar, *view);
  LM::topEqualToView(*bar, *view);
  LM::setWidth(*bar, screen.width);
  LM::setHeight(*bar, 64.0);
  bar->setBackgroundColor(TnqColor::colorWithHexString("#db2e2e"));

  if (stackCount(vc) >= 1) {
    auto back = addBackButton(vc, "icon_velmor_back", 44.0, 23.0);
    back->setTag(kRedBackButtonTag);
    back->imageEdgeInsets = pf::EdgeInsets{11.0, 5.0, 11.0, 6.0};
    back->setNeedsLayout();
  }
}

void redNavigationBarWithTitle(pf::ViewController& vc, const std::string& title) {
  redNavigationBar(vc);
  auto view = vc.view();
  addTitle(*view, title, Color::whiteColor(), pf::Font::boldSystemFont(18.0), 20.0);
  pinAcrossTop(*navBar(vc), *view, 64.0);
}

void patpWhiteNavigationBar(pf::ViewController& vc) {
  auto view = vc.view();
  pf::Size screen = orientedScreenSize();
  auto bg = pf::View::make();
  view->addSubview(bg);
  pinAcrossTop(*bg, *view, screen.height);

  auto bar = pf::View::make();
  bar->setBackgroundColor(Color::whiteColor());
  view->addSubview(bar);
  pinAcrossTop(*bar, *view, 64.0);

  auto l = pf::View::make();
  l->setBackgroundColor(TnqColor::colorWithHexString("#ed7045"));
  bar->addSubview(l);
  LM::widthEqualToView(*l, *view);
  LM::centerXEqualToView(*l, *view);
  LM::setHeight(*l, 2.0);
  LM::bottomInContainer(*l, 0, false);

  if (stackCount(vc) >= 1) addBackButton(vc, "backBtn", 46.0, 25.0);
}

void whiteNavigationBarWithTitle(pf::ViewController& vc, const std::string& title) {
  patpWhiteNavigationBar(vc);
  addTitle(*vc.view(), title, TnqColor::colorWithHexString("#ed7045"), pf::Font::boldSystemFont(15.0), 22.0);
}

void layoutHeadViews(pf::ViewController& vc) {
  pf::Size screen = orientedScreenSize();
  auto bg = bgView(vc);
  LM::setY(*bg, 0);
  LM::setWidth(*bg, screen.width);
  LM::setX(*bg, 0);
  LM::setHeight(*bg, screen.height);
  auto label = titleLabel(vc);
  LM::setWidth(*label, screen.width);
  LM::setHeight(*label, 44.0);
  LM::setX(*label, 0);
  LM::setY(*label, 20.0);
  auto bar = navBar(vc);
  LM::setY(*bar, 0);
  LM::setWidth(*bar, screen.width);
  LM::setX(*bar, 0);
  LM::setHeight(*bar, 64.0);
  auto l = line(vc);
  LM::setWidth(*l, screen.width);
  LM::setX(*l, 0);
  LM::setHeight(*l, 2.0);
  LM::setY(*l, 62.0);
}

void popBack(pf::ViewController& vc) {
  if (auto nav = vc.navigationController()) nav->popViewController(true);
}

void backAction(pf::ViewController& vc, pf::Control* sender) {
  if (auto* handler = dynamic_cast<TnqBackActionHandler*>(&vc)) return handler->backAction(sender);
  popBack(vc);
}

std::shared_ptr<pf::AlertView> showTip(pf::ViewController& vc, const std::string& message, const std::string& title,
                                       std::weak_ptr<pf::AlertViewDelegate> delegate) {
  auto alert = pf::AlertView::make(title, message, std::move(delegate), std::string("确定"));
  alert->show();
  return alert;
}

std::shared_ptr<pf::AlertView> showTip(pf::ViewController& vc, const std::string& message, const std::string& title) {
  return showTip(vc, message, title, {});
}

}  // namespace app::TnqStyle
