#include "WidgetScenes.h"

#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "GifTestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "widgets/MwProgressHUD.h"
#include "widgets/OvProgressHUD.h"
#include "widgets/PylProgressHUD.h"
#include "widgets/TnqGlossyButton.h"
#include "widgets/TnqGIFImageView.h"
#include "widgets/TnqProgressHUD.h"
#include "widgets/WfCollectionView.h"

namespace scenes {

using pf::Color;
using pf::Rect;

namespace {

// A window of the given size on a screen of the same size, with a light page behind.
std::shared_ptr<pf::Window> stage(double w, double h) {
  pf::Screen::main()->setBounds(Rect(0, 0, w, h));
  auto window = pf::Window::make(Rect(0, 0, w, h));
  window->setBackgroundColor(Color::white(0.93));
  window->setHidden(false);
  return window;
}

void hudScene(std::shared_ptr<pf::Window> w, std::int64_t mode, const std::string& label, const std::string& details,
              float progress, bool dim = false) {
  auto page = pf::View::make(w->bounds());
  w->addSubview(page);
  auto hud = widgets::TnqProgressHUD::showHUDAddedTo(page, false);
  hud->setMode(mode);
  hud->setLabelText(label);
  hud->setDetailsLabelText(details);
  hud->setProgress(progress);
  hud->setDimBackground(dim);
  if (mode == widgets::kHUDModeCustomView) {
    auto check = pf::View::make(Rect(0, 0, 37, 37));
    check->setBackgroundColor(Color::rgb(0.2, 0.8, 0.3));
    check->layer().setCornerRadius(18.5);
    hud->setCustomView(check);
  }
}

std::shared_ptr<widgets::TnqGlossyButton> glossy(pf::View& parent, const Rect& frame, const std::string& title,
                                                 const Color& tint) {
  auto b = widgets::TnqGlossyButton::make(frame);
  b->tintColor = tint;
  b->setTitle(title, pf::kControlStateNormal);
  parent.addSubview(b);
  return b;
}

// Ends every running animation of the view tree, so the scene shows its values at rest.
void settle(pf::View& v) {
  v.layer().removeAllAnimations();
  for (auto& s : v.subviews()) settle(*s);
}

// The window overlay in its own window over a page: instant presentation, settled.
void overlayScene(std::int64_t overlayMode, const std::function<void()>& present) {
  namespace Ov = widgets::OvProgressHUDClass;
  auto hud = widgets::OvProgressHUD::sharedHUD();
  Ov::setPresentationStyle(widgets::OvProgressHUDPresentationStyleNone);
  hud->overlayView().setOverlayColor(Color::black());
  hud->setOverlayMode(overlayMode);
  present();
  settle(*hud->hudWindow());
}

// A colour block of the given size, for the grid's cells.
std::shared_ptr<pf::Image> swatch(double w, double h, const Color& c) {
  pf::ImageContext context(pf::Size{w, h}, true, 1);
  context.context().setFillColor(c);
  context.context().fillRect(Rect(0, 0, w, h));
  return context.takeImage();
}

// Plays the container's menu grid: image-and-caption cells from dictionaries.
struct MenuGrid : widgets::WfCollectionViewDataSource {
  std::vector<std::shared_ptr<widgets::WfObjectDictionary>> items;
  std::int64_t numberOfViewsInCollectionView(widgets::WfCollectionView&) override {
    return static_cast<std::int64_t>(items.size());
  }
  std::shared_ptr<pf::View> collectionViewViewAtIndex(widgets::WfCollectionView& cv, std::int64_t i) override {
    auto cell = std::dynamic_pointer_cast<widgets::WfBroView>(cv.dequeueReusableView());
    if (!cell) cell = widgets::WfBroView::make();
    cell->fillViewWithObject(items[static_cast<std::size_t>(i)]);
    cell->setBackgroundColor(Color::white(1));
    return cell;
  }
  double heightForViewAtIndex(std::int64_t i) override {
    return widgets::WfBroView::heightForViewWithObject(items[static_cast<std::size_t>(i)], colWidth);
  }
  double colWidth = 0;
};

// Composed frame k of a GIF whose second square is disposed by the given method.
std::shared_ptr<pf::ImageView> gifFrame(int disposal, std::size_t k, const Rect& frame) {
  giftest::GifWriter g;
  g.screen(40, 40, {giftest::kWhite, giftest::kRed, giftest::kGreen, giftest::kBlue});
  g.control(1, 10);
  g.filled(0, 0, 40, 40, 0);
  g.control(disposal, 10);
  g.filled(4, 4, 20, 20, 1);
  g.control(1, 10);
  g.filled(16, 16, 20, 20, 3);
  g.trailer();
  auto gif = widgets::TnqGIFImageView::initWithGIFData(g.bytes);
  auto view = pf::ImageView::make(frame);
  view->setImage(gif->animationImages().at(k));
  return view;
}

using Builder = std::function<std::shared_ptr<pf::Window>()>;

const std::map<std::string, Builder>& builders() {
  static const std::map<std::string, Builder> all = {
      {"hud-spinner", [] { auto w = stage(240, 240); hudScene(w, 0, "正在加载...", "", 0); return w; }},
      {"hud-pie", [] { auto w = stage(240, 240); hudScene(w, 1, "下载中", "", 0.25f); return w; }},
      {"hud-bar", [] { auto w = stage(240, 240); hudScene(w, 2, "Uploading", "3 of 4 files", 0.6f); return w; }},
      {"hud-ring", [] { auto w = stage(240, 240); hudScene(w, 3, "", "", 0.7f); return w; }},
      {"hud-custom", [] { auto w = stage(240, 240); hudScene(w, 4, "完成", "", 0); return w; }},
      {"hud-text", [] {
         auto w = stage(240, 240);
         hudScene(w, 5, "服务器连接失败", "请检查网络后重启应用，或稍后再试。", 0);
         return w;
       }},
      {"hud-dim", [] { auto w = stage(240, 240); hudScene(w, 0, "Loading", "", 0, true); return w; }},
      {"hud-shell-text", [] {
         auto w = stage(240, 240);
         widgets::PylProgressHUD::showHUDAddedTo(w, "服务器连接失败，请检查网络后重启应用", false);
         return w;
       }},
      {"hud-container", [] {
         auto w = stage(240, 240);
         auto page = pf::View::make(w->bounds());
         w->addSubview(page);
         auto hud = widgets::MwProgressHUD::initWithView(page);
         hud->setDimBackground(true);
         hud->setLabelText("正在加载...");
         page->addSubview(hud);
         hud->show(false);
         return w;
       }},
      {"overlay-ring", [] {
         auto w = stage(320, 480);
         overlayScene(0, [] {
           widgets::OvProgressHUDClass::showProgressWithStyle(widgets::OvProgressHUDProgressStyleRadial, "下载中",
                                                              "Rates");
           widgets::OvProgressHUD::sharedHUD()->hud().radialProgressView().setProgress(0.25);
         });
         return w;
       }},
      {"overlay-marks", [] {
         auto w = stage(320, 480);
         overlayScene(1, [] {
           auto hud = widgets::OvProgressHUD::sharedHUD();
           widgets::OvProgressHUDClass::setDisplayStyle(widgets::OvProgressHUDDisplayStyleBordered);
           widgets::OvProgressHUDClass::showWithTitle("Order", "Sending");
           widgets::OvProgressHUDClass::dismissWithSuccess("Filled", std::nullopt,
                                                           std::numeric_limits<float>::infinity());
           auto cross = pf::ImageView::make(Rect(20, 20, 37, 37));
           cross->setImage(hud->errorImage);
           hud->addSubview(cross);
         });
         return w;
       }},
      {"grid", [] {
         auto w = stage(320, 480);
         w->setBackgroundColor(Color::white(0.85));
         auto source = std::make_shared<MenuGrid>();
         const Color colours[] = {Color::rgb(0.86, 0.18, 0.18), Color::rgb(0.2, 0.5, 0.9), Color::rgb(0.2, 0.7, 0.3),
                                  Color::rgb(0.9, 0.6, 0.1)};
         const char* captions[] = {"即期", "Spot FX rates", "", "远期外汇 Forward"};
         for (int i = 0; i < 9; ++i) {
           auto item = std::make_shared<widgets::WfObjectDictionary>();
           (*item)["image"] = swatch(100, 60 + (i % 3) * 25, colours[i % 4]);
           (*item)["detail"] = pf::Value(captions[i % 4]);
           source->items.push_back(item);
         }
         auto cv = widgets::WfCollectionView::make(w->bounds());
         cv->numColsPortrait = 3;
         source->colWidth = std::floor((320 - 8 * 4) / 3.0);
         cv->collectionViewDataSource = source;
         cv->setAssociatedObject("source", source);
         w->addSubview(cv);
         cv->reloadData();
         return w;
       }},
      {"gif", [] {
         auto w = stage(300, 100);
         for (int disposal = 1; disposal <= 3; ++disposal)
           w->addSubview(gifFrame(disposal, 2, Rect(10 + (disposal - 1) * 100, 10, 80, 80)));
         return w;
       }},
      {"buttons", [] {
         auto w = stage(320, 470);
         w->setBackgroundColor(Color::white(0.85));
         double y = 10;
         const char* strokeNames[] = {"无边框", "Fill", "Rim", "Ring", "Bevel"};
         for (int s = 0; s <= 4; ++s) {
           auto b = glossy(*w, Rect(10, y, 140, 40), strokeNames[s], widgets::doneButtonColor());
           b->strokeType = s;
           b->buttonBorderWidth = s == 0 ? 0 : 2;
           b->setGradientType(s % 5);
           auto c = glossy(*w, Rect(170, y, 140, 40), "Shine", widgets::navigationBarButtonColor());
           c->extraShadingType = s % 4;
           c->strokeType = s;
           y += 50;
         }
         auto sheet = glossy(*w, Rect(10, y, 140, 44), "Action", Color::rgb(0.8, 0.2, 0.2));
         sheet->setActionSheetButtonWithColor(Color::rgb(0.8, 0.2, 0.2));
         auto nav = glossy(*w, Rect(170, y, 140, 44), "Navigate", widgets::navigationBarButtonColor());
         nav->setNavigationButtonWithColor(widgets::navigationBarButtonColor());
         y += 54;
         auto disabled = glossy(*w, Rect(10, y, 140, 40), "Disabled", widgets::doneButtonColor());
         disabled->setEnabled(false);
         auto pressed = glossy(*w, Rect(170, y, 140, 40), "Pressed", widgets::doneButtonColor());
         pressed->invertGraidentOnSelected = true;
         pressed->setHighlighted(true);
         y += 50;
         auto back = widgets::TnqNavigationButton::make(Rect(10, y, 100, 34));
         back->leftArrow = true;
         back->tintColor = widgets::navigationBarButtonColor();
         back->setTitle("Back", pf::kControlStateNormal);
         w->addSubview(back);
         auto forward = widgets::TnqNavigationButton::make(Rect(120, y, 100, 34));
         forward->tintColor = widgets::doneButtonColor();
         forward->setTitle("Next", pf::kControlStateNormal);
         w->addSubview(forward);
         auto badge = widgets::TnqBadgeButton::make(Rect(240, y - 8, 50, 50));
         badge->tintColor = Color::rgb(0.9, 0.6, 0.1);
         badge->setTitle("9", pf::kControlStateNormal);
         w->addSubview(badge);
         y += 50;
         auto half = glossy(*w, Rect(10, y, 300, 40), "Half opacity background", Color::rgb(0.2, 0.6, 0.3));
         half->backgroundOpacity = 0.5;
         return w;
       }},
  };
  return all;
}

}  // namespace

std::vector<std::string> names() {
  std::vector<std::string> out;
  for (auto& [name, _] : builders()) out.push_back(name);
  return out;
}

std::shared_ptr<pf::Image> render(const std::string& name, double scale) {
  auto it = builders().find(name);
  if (it == builders().end()) return nullptr;
  auto window = it->second();
  auto image = pf::render::screen(scale);
  window->setHidden(true);
  widgets::OvProgressHUD::resetSharedHUD();
  pf::Screen::main()->reset();
  return image;
}

std::shared_ptr<pf::Window> buildBenchScreen() {
  pf::Screen::main()->setBounds(Rect(0, 0, 375, 667));
  auto w = pf::Window::make(Rect(0, 0, 375, 667));
  w->setBackgroundColor(Color::white(0.96));
  w->setHidden(false);
  auto header = pf::View::make(Rect(0, 0, 375, 64));
  header->setBackgroundColor(Color::rgb(0xdb / 255.0, 0x2e / 255.0, 0x2e / 255.0));
  w->addSubview(header);
  auto button = glossy(*w, Rect(40, 560, 295, 44), "确定", widgets::doneButtonColor());
  button->extraShadingType = 1;
  button->strokeType = 3;
  auto hud = widgets::TnqProgressHUD::showHUDAddedTo(w, false);
  hud->setLabelText("正在加载...");
  return w;
}

}  // namespace scenes
