#include "platform/ui/Application.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Keyboard.h"
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

std::string Application::lowercaseScheme(std::string scheme) {
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

std::optional<std::string> Application::schemeOfURL(const std::string& url) {
  constexpr std::size_t kMaxURLLength = 64 * 1024;
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0 || url.size() > kMaxURLLength) return std::nullopt;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return std::nullopt;
  for (std::size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  for (std::size_t i = colon + 1; i < url.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
  }
  return lowercaseScheme(url.substr(0, colon));
}

bool Application::canOpenURL(const std::string& url) const {
  auto scheme = schemeOfURL(url);
  return scheme && (schemes_.count(*scheme) > 0 || installed_.count(*scheme) > 0);
}

bool Application::openURL(const std::string& url) {
  if (!canOpenURL(url)) return false;
  opened_.push_back(url);
  auto it = installed_.find(*schemeOfURL(url));
  if (it == installed_.end()) return true;
  enterBackground();
  URLHandler handler = it->second.handler;
  std::string source = Bundle::main()->bundleIdentifier();
  DispatchQueue::main()->async([handler, url, source] { handler(url, source); });
  return true;
}

void Application::installApplication(const std::string& bundleIdentifier, const std::vector<std::string>& schemes,
                                     URLHandler handler) {
  for (const auto& scheme : schemes) installed_[lowercaseScheme(scheme)] = {bundleIdentifier, handler};
}

void Application::removeApplication(const std::string& bundleIdentifier) {
  std::erase_if(installed_, [&](const auto& entry) { return entry.second.bundleIdentifier == bundleIdentifier; });
}

bool Application::isOwnURLScheme(const std::string& scheme) const {
  std::string lowered = lowercaseScheme(scheme);
  if (ownSchemes_.count(lowered)) return true;
  const Value* types = Bundle::main()->objectForInfoDictionaryKey("CFBundleURLTypes");
  if (!types || !types->is_array()) return false;
  for (const auto& type : *types) {
    if (!type.is_object() || !type.contains("CFBundleURLSchemes") || !type["CFBundleURLSchemes"].is_array()) continue;
    for (const auto& s : type["CFBundleURLSchemes"])
      if (s.is_string() && lowercaseScheme(s.get<std::string>()) == lowered) return true;
  }
  return false;
}

bool Application::openURLFromApplication(const std::string& sourceApplication, const std::string& url) {
  auto scheme = schemeOfURL(url);
  if (!scheme || !isOwnURLScheme(*scheme)) return false;
  DispatchQueue::main()->async([this, sourceApplication, url] {
    if (auto delegate = delegate_) {
      if (!delegate->openURL(url, sourceApplication, Value()).has_value()) delegate->handleOpenURL(url);
    }
    becomeActive();
  });
  return true;
}

void Application::tell(void (ApplicationDelegate::*call)(), const char* notification) {
  if (auto delegate = delegate_) ((*delegate).*call)();
  postUINotification(notification, this);
}

bool Application::launch(std::shared_ptr<ApplicationDelegate> delegate, const Value& options) {
  delegate_ = std::move(delegate);
  bool answer = true;
  if (auto d = delegate_) answer = d->didFinishLaunchingWithOptions(options);
  postUINotification(kApplicationDidFinishLaunchingNotification, this);
  state_ = ApplicationState::Inactive;
  becomeActive();
  return answer;
}

int Application::main(std::shared_ptr<ApplicationDelegate> delegate, const Value& options) {
  shared().launch(std::move(delegate), options);
  RunLoop::main()->run();
  return 0;
}

void Application::enterBackground() {
  if (state_ == ApplicationState::Background) return;
  if (state_ == ApplicationState::Active) tell(&ApplicationDelegate::applicationWillResignActive,
                                               kApplicationWillResignActiveNotification);
  state_ = ApplicationState::Background;
  tell(&ApplicationDelegate::applicationDidEnterBackground, kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
  if (state_ != ApplicationState::Background) return;
  becomeActive();
}

void Application::becomeActive() {
  if (state_ == ApplicationState::Active) return;
  if (state_ == ApplicationState::Background) {
    state_ = ApplicationState::Inactive;
    tell(&ApplicationDelegate::applicationWillEnterForeground, kApplicationWillEnterForegroundNotification);
  }
  state_ = ApplicationState::Active;
  tell(&ApplicationDelegate::applicationDidBecomeActive, kApplicationDidBecomeActiveNotification);
}

void Application::terminate() {
  tell(&ApplicationDelegate::applicationWillTerminate, kApplicationWillTerminateNotification);
  RunLoop::main()->stop();
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
  installed_.clear();
  ownSchemes_.clear();
  state_ = ApplicationState::Active;
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
  Keyboard::shared().windowsDidChange();
}

void Application::alertShown(std::shared_ptr<AlertView> alert) { alerts_.push_back(std::move(alert)); }

void Application::alertDismissed(const AlertView* alert) {
  alerts_.erase(std::remove_if(alerts_.begin(), alerts_.end(), [&](auto& a) { return a.get() == alert; }), alerts_.end());
}

}  // namespace pf
