#include "platform/ui/Application.h"

#include <algorithm>

#include "platform/ui/AlertView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/Window.h"

namespace pf {

Application& Application::shared() {
  static Application* app = new Application;
  return *app;
}

std::vector<std::shared_ptr<Window>> Application::windows() const {
  std::vector<std::shared_ptr<Window>> out;
  for (Window* w : windows_) {
    auto strong = std::static_pointer_cast<Window>(w->weak_from_this().lock());
    if (strong) out.push_back(strong);
  }
  std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) { return a->windowLevel() < b->windowLevel(); });
  return out;
}

std::vector<std::shared_ptr<Window>> Application::visibleWindows() const {
  auto all = windows();
  all.erase(std::remove_if(all.begin(), all.end(), [](auto& w) { return w->isHidden(); }), all.end());
  return all;
}

void Application::setStatusBarOrientation(InterfaceOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  postUINotification(kApplicationDidChangeStatusBarOrientationNotification, this);
}

Rect Application::statusBarFrame() const {
  if (statusBarHidden_) return Rect();
  return Rect(0, 0, Screen::main()->bounds().width(), statusBarHeight_);
}

namespace {
std::string schemeOf(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  std::string s = url.substr(0, colon);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
}  // namespace

bool Application::canOpenURL(const std::string& url) const {
  std::string s = schemeOf(url);
  return !s.empty() && schemes_.count(s) > 0;
}

bool Application::openURL(const std::string& url) {
  if (!canOpenURL(url)) return false;
  opened_.push_back(url);
  return true;
}

void Application::reset() {
  delegate_.reset();
  keyWindow_.reset();
  orientation_ = InterfaceOrientation::Portrait;
  statusBarStyle_ = 0;
  statusBarHidden_ = false;
  statusBarHeight_ = 20;
  schemes_ = {"http", "https", "tel", "mailto", "sms"};
  opened_.clear();
  auto alerts = std::move(alerts_);
  alerts_.clear();
  // Windows belong to their owners; hide the ones still alive so they no longer show.
  for (auto& w : windows()) w->setHidden(true);
}

void Application::registerWindow(Window* window) { windows_.push_back(window); }

void Application::unregisterWindow(Window* window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

void Application::setKeyWindow(Window* window) {
  keyWindow_ = window ? std::static_pointer_cast<Window>(window->weak_from_this().lock()) : nullptr;
}

void Application::alertShown(std::shared_ptr<AlertView> alert) { alerts_.push_back(std::move(alert)); }

void Application::alertDismissed(const AlertView* alert) {
  alerts_.erase(std::remove_if(alerts_.begin(), alerts_.end(), [&](auto& a) { return a.get() == alert; }), alerts_.end());
}

}  // namespace pf
