#pragma once
// The menu file (Documents/release/menu.xml) and the page package downloads.
//
// The menu is read with its keyed file hash; a file that does not read or verify counts as absent.
// Page package downloads run on an operation queue, one download per page url at a time; every
// delegate registered for the url while it runs hears its end once, on the main queue, whatever
// the result. A download is installed only from a 200, within 32 MiB, with the package hash of
// the business file, through a staging folder and one swap; then the page's update mark goes.
// A failure leaves the old pages byte for byte and the mark set.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "container/MwXMLDocument.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace container {

inline constexpr const char* kMenuFileName = "menu.xml";
inline constexpr const char* kPackagePathPrefix = "mwframework/data/iphone/";

// Both operations required. Arguments: {"url": page url, "result": 0 installed, 1 failed} for the
// end, {"url", "rate": fraction of bytes so far} for progress (not sent by this manager's
// downloads, which report their end only).
class MwMenuManagerDelegate {
 public:
  virtual ~MwMenuManagerDelegate() = default;
  virtual void didDownloadMenuRateWithResult(const pf::Value& result) = 0;
  virtual void didDownloadMenuCompletedWithResult(const pf::Value& result) = 0;
};

class MwMenusManager {
 public:
  static MwMenusManager& getInstance();

  // Reads the menu file; true when it read and verified (its root element is then kept).
  bool loadMenuFile();
  std::optional<MwXMLElement> menuRootElement();
  // Replaces the kept menu by a verified text (the menu check's download); false when it does not
  // verify or read. The file is written atomically.
  bool replaceMenuWithVerifiedText(const std::string& text);

  // Ignores an empty url; else registers the delegate for it and queues the download unless one
  // for the url runs already.
  void updateTemplateWithUrl(const std::string& url, std::weak_ptr<MwMenuManagerDelegate> delegate);
  // Writes the kept menu tree back with the keyed file hash (atomically); false without a menu or
  // when it cannot be written.
  bool saveMenusXMLFile();

  // Installs one page package now, on the calling thread (the queue's step): 0 or 1.
  int downloadAndInstall(const std::string& url);

  std::filesystem::path menuFilePath() const;
  static std::filesystem::path releasePath();

  // Tests: waits until every queued download has ended (their delegate calls may still be on the
  // main queue).
  void waitUntilIdleForTesting();
  static void resetForTesting();

 private:
  MwMenusManager();
  void finish(const std::string& url, int result);

  std::shared_ptr<pf::DispatchQueue> queue_;  // "my.framework.menumanager": the delegate table
  std::shared_ptr<pf::OperationQueue> downloads_;
  std::map<std::string, std::vector<std::weak_ptr<MwMenuManagerDelegate>>> delegates_;  // on queue_

  pf::Mutex menuMutex_;
  std::shared_ptr<MwXMLDocument> menu_ PF_GUARDED_BY(menuMutex_);
};

}  // namespace container
