#pragma once
// The menu and page update of one start: the update manager keeps its own copy of the menu file
// (<tmp>/pylvexTmp/menu.xml), asks the bank's server whether it is out of date
// ("updateMenu&hash=<MD5>"), fetches a fresh one from the front-end server when it is (or when
// there is none), marks every "html" entry in the business file and has the menu manager download
// each marked page. Its delegate hears when downloads begin, their progress and the end of the run.
//
// A run ends once, with updateCompelete: after the last download, at once when nothing is to be
// downloaded, and also when the menu check fails, is cancelled, times out or answers no dictionary
// (the pages in place then open). The menu file is replaced only by a 200 answer without error of
// at most 4 MiB that parses with a root element, written atomically, and only after the marks the
// comparison made are in the business file (a comparison whose write fails downloads nothing and
// leaves the old menu, so the next start compares again). Pages keep their mark until installed,
// and a menu that is up to date ("needUpdate" not 1) still downloads the pages that are marked:
// a run that was killed, or whose download failed, is taken up at the next start.
// Main thread.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/MenuXMLModel.h"
#include "appnet/TnqURLSessionManager.h"
#include "container/MwMenusManager.h"
#include "container/MwTaskListener.h"

namespace container {
class MwHttpTask;
}

namespace app {

class PylUpdateDelegate {
 public:
  virtual ~PylUpdateDelegate() = default;
  virtual void benginDownloadHTML() = 0;
  virtual void downloadProgress(double fraction) = 0;
  virtual void updateCompelete() = 0;
};

class PylUpdateManager : public container::MwTaskListener,
                         public container::MwMenuManagerDelegate,
                         public std::enable_shared_from_this<PylUpdateManager> {
 public:
  static std::shared_ptr<PylUpdateManager> sharedInstance();
  // Tests: the next sharedInstance() is a new manager.
  static void resetForTesting();

  std::shared_ptr<PylUpdateDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<PylUpdateDelegate> delegate) { delegate_ = std::move(delegate); }

  // Starts an update run.
  void benginLoading();
  // Tells the delegate updateCompelete, once per run.
  void completeLoading();
  void getMenuVersionRequest() {}

  // ---- steps
  bool checkMenuDirExist();
  // True when the menu file exists and reads (an unreadable one counts as absent).
  bool checkMenuFileExist();
  void sendRequestCommand();
  void downloadMenu();
  std::vector<MenuXMLModel> readMenuXML();
  // Compares the menu copy with the business file and downloads the marked pages.
  void compareMenuInsideList();
  // Downloads the pages of the menu whose business item is marked for update (none: the run ends).
  void downloadMarkedPages(const std::vector<MenuXMLModel>& models);

  const std::string& menuDirPath();
  const std::string& menuFilePath();
  std::shared_ptr<container::MwHttpTask> httpTask() const { return httpTask_; }
  std::int64_t downloadTags() const { return downloadTags_; }
  std::int64_t downloadCount() const { return downloadCount_; }

  // The menu check's answer.
  void onSuccessWithResult(const std::shared_ptr<container::MwComPackage>& result, container::MwBaseTask& task) override;
  void onErrorWithMessage(const std::shared_ptr<container::MwComPackage>& result, container::MwBaseTask& task) override;
  void onCancelByTask(container::MwBaseTask& task) override;
  void onTimeOutByTask(container::MwBaseTask& task) override;

  // One page download ended (whatever its result).
  void didDownloadMenuRateWithResult(const pf::Value& result) override {}
  void didDownloadMenuCompletedWithResult(const pf::Value& result) override;

  static constexpr std::int64_t kMenuCheckTag = 1000;
  static constexpr double kMenuCheckTimeout = 20.0;
  static constexpr std::uint64_t kMaxMenuBytes = 4u << 20;

 private:
  struct DownloadedMenu {
    pf::Bytes bytes;
    std::vector<MenuXMLModel> models;  // read from the bytes' one parse
  };
  // The downloaded menu when the answer qualifies (see the class comment).
  std::optional<DownloadedMenu> takeDownloadedMenu(const std::optional<pf::UrlResponse>& response,
                                                   const std::optional<pf::Error>& error);
  // Marks the menu's pages in the business file; then `fresh` (a downloaded menu) becomes the menu
  // copy and the marked pages download.
  void compareMenu(const std::vector<MenuXMLModel>& models, const pf::Bytes* fresh);

  std::weak_ptr<PylUpdateDelegate> delegate_;
  std::shared_ptr<container::MwHttpTask> httpTask_;
  std::shared_ptr<appnet::TnqURLSessionManager> menuSession_;  // kept while the menu downloads
  std::string menuDirPath_;
  std::string menuFilePath_;
  std::int64_t downloadTags_ = 0;
  std::int64_t downloadCount_ = 0;
  std::set<std::string> openDownloads_;  // page urls whose end has not come yet
  bool completed_ = false;               // this run told updateCompelete
};

}  // namespace app
