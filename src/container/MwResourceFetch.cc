#include "container/MwResourceFetch.h"

#include <mutex>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/UrlSession.h"

namespace container {
namespace {

class FetchDelegate : public pf::UrlSessionDelegate {
 public:
  FetchDelegate(std::filesystem::path destination, std::uint64_t maxBytes)
      : destination_(std::move(destination)), maxBytes_(maxBytes) {}

  void downloadTaskDidWriteData(pf::UrlSession&, pf::UrlSessionTask& task, std::int64_t, std::int64_t total,
                                std::int64_t expected) override {
    if (static_cast<std::uint64_t>(std::max<std::int64_t>(total, expected)) > maxBytes_) {
      fail(MwResourceFetch::makeError(kMwResourceTooLarge, "download too large"));
      task.cancel();
    }
  }

  void downloadTaskDidFinishDownloading(pf::UrlSession&, pf::UrlSessionTask& task, const pf::Url& location) override {
    auto response = task.response();
    const int status = response ? response->statusCode() : 0;
    if (status != 200) {
      auto error = MwResourceFetch::makeError(kMwResourceStatus, "answer " + std::to_string(status));
      error.userInfo["status"] = status;
      fail(std::move(error));
      return;
    }
    auto attributes = pf::FileManager::attributesOfItem(location.path());
    if (!attributes || attributes->size > maxBytes_) {
      fail(MwResourceFetch::makeError(kMwResourceTooLarge, "download too large"));
      return;
    }
    // The temporary file is the loader's: move it next to the destination, then over it.
    const auto staged = destination_.string() + ".part";
    pf::FileManager::removeItem(staged);
    pf::Error error;
    if (!pf::FileManager::moveItem(location.path(), staged, &error) ||
        ::rename(staged.c_str(), destination_.c_str()) != 0) {
      pf::FileManager::removeItem(staged);
      fail(MwResourceFetch::makeError(kMwResourceInstall, "cannot keep the download"));
      return;
    }
    pf::MutexLock lock(mutex_);
    saved_ = true;
  }

  void taskDidComplete(pf::UrlSession&, pf::UrlSessionTask&, const std::optional<pf::Error>& error) override {
    if (error) {
      auto wrapped = MwResourceFetch::makeError(kMwResourceTransport, "download failed");
      fail(wrapped.withUnderlying(*error));
    }
    done_->signal();
  }

  bool result(pf::Error* error) {
    pf::MutexLock lock(mutex_);
    if (error_) {
      if (error) *error = *error_;
      return false;
    }
    if (!saved_ && error) *error = MwResourceFetch::makeError(kMwResourceTransport, "nothing downloaded");
    return saved_;
  }

  std::shared_ptr<pf::DispatchSemaphore> done_ = pf::DispatchSemaphore::make(0);

 private:
  void fail(pf::Error error) {
    pf::MutexLock lock(mutex_);
    if (!error_) error_ = std::move(error);
  }

  std::filesystem::path destination_;
  std::uint64_t maxBytes_;
  pf::Mutex mutex_;
  std::optional<pf::Error> error_ PF_GUARDED_BY(mutex_);
  bool saved_ PF_GUARDED_BY(mutex_) = false;
};

}  // namespace

pf::Error MwResourceFetch::makeError(std::int64_t code, const std::string& reason) {
  return pf::Error(kMwResourceErrorDomain, code, {{pf::kLocalizedDescriptionKey, reason}});
}

bool MwResourceFetch::download(const std::string& url, const std::filesystem::path& destination,
                               std::uint64_t maxBytes, pf::Error* error) {
  auto parsed = pf::Url::parse(url);
  if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https")) {
    if (error) *error = makeError(kMwResourceBadUrl, "bad resource URL");
    return false;
  }
  auto delegate = std::make_shared<FetchDelegate>(destination, maxBytes);
  auto session = pf::UrlSession::make(pf::UrlSessionConfiguration::defaultConfiguration(), delegate, nullptr);
  auto task = session->downloadTask(pf::UrlRequest(*parsed, kTimeout));
  task->resume();
  delegate->done_->wait();
  session->finishTasksAndInvalidate();
  return delegate->result(error);
}

}  // namespace container
