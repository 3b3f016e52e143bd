#include "app/PylUpdateManager.h"

#include <mutex>

#include "app/FileController.h"
#include "container/MwBusinessManager.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwConfiguration.h"
#include "container/MwDataPackage.h"
#include "container/MwHttpTask.h"
#include "container/MwXMLDocument.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/ThreadChecker.h"

namespace app {

namespace {

pf::Mutex sharedMutex;
std::shared_ptr<PylUpdateManager>& sharedSlot() PF_REQUIRES(sharedMutex) {
  static std::shared_ptr<PylUpdateManager> shared;
  return shared;
}

constexpr const char* kMenuPath = "mwframework/data/iphone/menu.xml";

// Runs `call` on the main thread: at once there, else on the main queue.
template <class F>
void onMain(const std::shared_ptr<PylUpdateManager>& self, F call) {
  if (pf::Thread::isMainThread()) {
    call(*self);
  } else {
    pf::DispatchQueue::main()->async([self, call] { call(*self); });
  }
}

}  // namespace

std::shared_ptr<PylUpdateManager> PylUpdateManager::sharedInstance() {
  pf::MutexLock lock(sharedMutex);
  auto& shared = sharedSlot();
  if (!shared) shared = std::make_shared<PylUpdateManager>();
  return shared;
}

void PylUpdateManager::resetForTesting() {
  pf::MutexLock lock(sharedMutex);
  sharedSlot().reset();
}

const std::string& PylUpdateManager::menuDirPath() {
  if (menuDirPath_.empty()) menuDirPath_ = pf::Sandbox::tmp().string() + "/pylvexTmp";
  return menuDirPath_;
}

const std::string& PylUpdateManager::menuFilePath() {
  if (menuFilePath_.empty()) menuFilePath_ = (std::filesystem::path(menuDirPath()) / "menu.xml").string();
  return menuFilePath_;
}

void PylUpdateManager::benginLoading() {
  PF_ASSERT_MAIN_THREAD();
  completed_ = false;
  checkMenuDirExist();
  if (checkMenuFileExist()) {
    sendRequestCommand();
  } else {
    downloadMenu();
  }
}

void PylUpdateManager::completeLoading() {
  if (completed_) return;
  completed_ = true;
  pf::logLine("update: complete");
  if (auto d = delegate()) d->updateCompelete();
}

bool PylUpdateManager::checkMenuDirExist() {
  if (pf::FileManager::fileExists(menuDirPath())) {
    // What writes of the menu copy left when an earlier run was killed before their rename.
    pf::FileManager::removeAtomicWriteLeftovers(menuDirPath(), [](std::string_view name) { return name == "menu.xml"; });
    return true;
  }
  return pf::FileManager::createDirectory(menuDirPath(), false);
}

bool PylUpdateManager::checkMenuFileExist() {
  return pf::FileManager::fileExists(menuFilePath()) && FileController::fileMD5(menuFilePath()).has_value();
}

void PylUpdateManager::sendRequestCommand() {
  PF_ASSERT_MAIN_THREAD();
  auto md5 = FileController::fileMD5(menuFilePath());
  if (!md5) {  // gone or unreadable since it was looked at: as without a menu
    downloadMenu();
    return;
  }
  std::string hash = *md5;
  for (auto& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const pf::Value business{{"act", "jsonDic"}, {"hash", hash}};
  const pf::Value options{{"abolishable", true}, {"preventable", false}, {"timeout", kMenuCheckTimeout}, {"data", business}};
  pf::logLine("update: menu check hash=" + hash);
  httpTask_ = container::MwCommunicationHelper::asynchBusinessTask("mwframework.do?act=updateMenu&hash=" + hash, options,
                                                                  weak_from_this(), true);
  if (httpTask_) {
    httpTask_->setTag(kMenuCheckTag);
  } else {
    completeLoading();
  }
}

void PylUpdateManager::onSuccessWithResult(const std::shared_ptr<container::MwComPackage>& result,
                                           container::MwBaseTask& task) {
  std::optional<pf::Value> answer;
  if (result && result->getDataPackage()) {
    if (const auto& business = result->getDataPackage()->getBusiness())
      answer = pf::parseJson(std::string(business->begin(), business->end()));
  }
  auto self = shared_from_this();
  onMain(self, [answer](PylUpdateManager& manager) {
    if (!answer || !answer->is_object()) {
      pf::logLine("update: menu check answered no dictionary");
      manager.completeLoading();
      return;
    }
    const pf::Value needUpdate = answer->contains("needUpdate") ? (*answer)["needUpdate"] : pf::Value();
    pf::logLine("update: needUpdate=" + pf::description(needUpdate));
    if (pf::integerValue(needUpdate) == 1) {
      manager.downloadMenu();
    } else {
      // The menu is current, but pages an earlier run marked and did not install (it was killed,
      // or a download failed) are still to come.
      manager.downloadMarkedPages(manager.readMenuXML());
    }
  });
}

void PylUpdateManager::onErrorWithMessage(const std::shared_ptr<container::MwComPackage>&, container::MwBaseTask&) {
  pf::logLine("update: menu check failed");
  onMain(shared_from_this(), [](PylUpdateManager& manager) { manager.completeLoading(); });
}

void PylUpdateManager::onCancelByTask(container::MwBaseTask&) {
  pf::logLine("update: menu check cancelled");
  onMain(shared_from_this(), [](PylUpdateManager& manager) { manager.completeLoading(); });
}

void PylUpdateManager::onTimeOutByTask(container::MwBaseTask&) {
  pf::logLine("update: menu check timed out");
  onMain(shared_from_this(), [](PylUpdateManager& manager) { manager.completeLoading(); });
}

void PylUpdateManager::downloadMenu() {
  const auto destination = pf::Sandbox::home() / "Library" / "Caches" / "menu.xml";
  if (pf::FileManager::fileExists(destination)) pf::FileManager::removeItem(destination);
  auto front = container::MwConfiguration::getInstance().frontUrl();
  auto url = front ? pf::Url::parse(*front + kMenuPath) : std::nullopt;
  if (!url) {
    pf::logLine("update: no front-end URL for the menu file");
    compareMenuInsideList();
    return;
  }
  pf::logLine("update: menu download " + url->absoluteString());
  menuSession_ = appnet::TnqURLSessionManager::initWithSessionConfiguration(std::nullopt);
  auto self = shared_from_this();
  auto task = menuSession_->downloadTaskWithRequest(
      pf::UrlRequest(*url), nullptr,
      // Always the same file, whatever name the server suggests.
      [destination](const pf::Url&, const std::optional<pf::UrlResponse>&) -> std::optional<pf::Url> {
        std::filesystem::create_directories(destination.parent_path());
        return pf::Url::fileUrl(destination);
      },
      [self](const std::optional<pf::UrlResponse>& response, const appnet::TnqResponseObject&, const std::optional<pf::Error>& error) {
        onMain(self, [response, error](PylUpdateManager& manager) {
          auto fresh = manager.takeDownloadedMenu(response, error);
          if (manager.menuSession_) manager.menuSession_->invalidateSessionCancelingTasks(false);
          manager.menuSession_.reset();
          if (fresh) {
            manager.compareMenu(fresh->models, &fresh->bytes);
          } else {
            manager.compareMenuInsideList();
          }
        });
      });
  if (task) {
    task->resume();
  } else {
    compareMenuInsideList();
  }
}

std::optional<PylUpdateManager::DownloadedMenu> PylUpdateManager::takeDownloadedMenu(
    const std::optional<pf::UrlResponse>& response, const std::optional<pf::Error>& error) {
  const auto downloaded = pf::Sandbox::home() / "Library" / "Caches" / "menu.xml";
  if (error || !response || response->statusCode() != 200) {
    pf::logLine("update: menu download failed; the old menu stays");
    return std::nullopt;
  }
  auto bytes = pf::FileManager::readRegularFile(downloaded, nullptr, kMaxMenuBytes);
  if (!bytes) {
    pf::logLine("update: downloaded menu unreadable or too large; the old menu stays");
    return std::nullopt;
  }
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  auto document = container::MwXMLDocument::initWithXMLString(text);
  if (!document || !document->rootElement()) {
    pf::logLine("update: downloaded menu is not XML; the old menu stays");
    return std::nullopt;
  }
  DownloadedMenu menu{std::move(*bytes), {}};
  for (const auto& child : document->rootElement()->children()) menu.models.push_back(MenuXMLModel::fromElement(child));
  return menu;
}

std::vector<MenuXMLModel> PylUpdateManager::readMenuXML() {
  auto bytes = pf::FileManager::readRegularFile(menuFilePath(), nullptr, kMaxMenuBytes);
  if (!bytes) return {};
  return MenuXMLModel::parseMenu(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

void PylUpdateManager::compareMenuInsideList() { compareMenu(readMenuXML(), nullptr); }

void PylUpdateManager::compareMenu(const std::vector<MenuXMLModel>& models, const pf::Bytes* fresh) {
  auto& business = container::MwBusinessManager::getInstance();
  // One write (and signing) of the business file for the whole menu, not one per changed page.
  const bool written = business.performBatch([&] {
    for (const auto& model : models)
      if (model.type == "html") business.refreshBusinessWithHTMLUrl(model.intactUrl, model.version);
  });
  if (!written) {
    // Nothing is marked: the menu copy stays as it was, so the next start compares again.
    pf::logLine("update: business file not written; no page is downloaded");
    completeLoading();
    return;
  }
  // The new menu becomes ours only now that the marks it brought are stored: a run killed before
  // this point finds the old menu and compares again.
  if (fresh && !pf::FileManager::writeFile(menuFilePath(), *fresh, true))
    pf::logLine("update: menu copy not written; the next start compares again");
  downloadMarkedPages(models);
}

void PylUpdateManager::downloadMarkedPages(const std::vector<MenuXMLModel>& models) {
  downloadTags_ = 0;
  openDownloads_.clear();
  auto& business = container::MwBusinessManager::getInstance();
  std::vector<std::string> marked;
  for (const auto& model : models) {
    if (model.type != "html") continue;
    auto element = business.getElementByHTMLUrl(model.intactUrl);
    if (!element) continue;
    auto mark = element->attributeForName("update");
    if (!mark) continue;
    pf::logLine("update: mark " + mark->stringValue() + " " + model.intactUrl);
    if (openDownloads_.insert(model.intactUrl).second) marked.push_back(model.intactUrl);
  }
  // The total is known before the first download starts.
  downloadTags_ = static_cast<std::int64_t>(marked.size());
  downloadCount_ = downloadTags_;
  if (marked.empty()) {
    completeLoading();
    return;
  }
  for (const auto& url : marked) {
    pf::logLine("update: page download " + url);
    container::MwMenusManager::getInstance().updateTemplateWithUrl(url, weak_from_this());
  }
  if (auto d = delegate()) d->benginDownloadHTML();
}

void PylUpdateManager::didDownloadMenuCompletedWithResult(const pf::Value& result) {
  if (!pf::Thread::isMainThread()) {
    onMain(shared_from_this(), [result](PylUpdateManager& manager) { manager.didDownloadMenuCompletedWithResult(result); });
    return;
  }
  if (downloadTags_ <= 0) return;  // no download open: a stray end
  if (result.is_object() && result.contains("url") && result["url"].is_string()) {
    if (openDownloads_.erase(result["url"].get<std::string>()) == 0) return;  // not one of this run's
  }
  // A page that did not install keeps its mark: the next start downloads it again.
  pf::logLine("update: page download ended " + pf::description(result));
  --downloadTags_;
  if (downloadTags_ == 0) {
    completeLoading();
    container::MwMenusManager::getInstance().saveMenusXMLFile();
  }
  if (auto d = delegate())
    d->downloadProgress(static_cast<double>(downloadCount_ - downloadTags_) / static_cast<double>(downloadCount_));
}

}  // namespace app
