#pragma once
// One HTTP exchange over the URL connection facade, run as a concurrent operation. Every
// connection of the process is driven by one network thread ("TnqNet") with its own run loop;
// start, cancel, pause and resume only post work to it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appnet/TnqHTTPSupport.h"
#include "appnet/TnqSecurityPolicy.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace appnet {

extern const std::string kTnqNetworkingOperationDidStartNotification;   // "com.tnq.networking.operation.start"
extern const std::string kTnqNetworkingOperationDidFinishNotification;  // "com.tnq.networking.operation.finish"

// Where received bytes go: memory (the default) or a file, or a caller's own sink. The operation's
// own memory stream keeps at most kTnqMaximumInMemoryResponseLength bytes (a longer answer fails the
// load with -1103); one a caller sets is not limited.
class TnqURLOutputStream {
 public:
  virtual ~TnqURLOutputStream() = default;
  virtual void open() {}
  virtual void close() {}
  virtual bool hasSpaceAvailable() const { return !streamError(); }
  // Bytes taken (possibly fewer than offered), or -1 with streamError() set.
  virtual std::ptrdiff_t write(const std::uint8_t* bytes, std::size_t length) = 0;
  virtual std::optional<pf::Error> streamError() const = 0;
  // The bytes of a memory stream.
  virtual std::optional<pf::Bytes> dataWrittenToMemory() const { return std::nullopt; }
  // How many bytes a memory stream holds (nullopt for any other stream), read without a copy where
  // the stream can.
  virtual std::optional<std::uint64_t> lengthWrittenToMemory() const {
    if (auto data = dataWrittenToMemory()) return data->size();
    return std::nullopt;
  }
  // The bytes of a memory stream, handed over without a copy where the stream can (it is left
  // empty); used by the operation for a stream of its own when the load has finished.
  virtual std::optional<pf::Bytes> takeDataWrittenToMemory() { return dataWrittenToMemory(); }
  // The write position of a file stream.
  virtual std::optional<std::uint64_t> fileCurrentOffset() const { return std::nullopt; }

  static std::shared_ptr<TnqURLOutputStream> toMemory();
  static std::shared_ptr<TnqURLOutputStream> toFile(const std::filesystem::path& path, bool append);
};

class TnqURLConnectionOperation : public pf::Operation {
 public:
  enum State : std::int64_t { Paused = -1, Ready = 1, Executing = 2, Finished = 3 };
  using ProgressBlock = std::function<void(std::int64_t, std::int64_t, std::int64_t)>;
  using AuthenticationChallengeBlock =
      std::function<void(pf::UrlConnection&, const std::shared_ptr<pf::UrlAuthenticationChallenge>&)>;
  using RedirectResponseBlock = std::function<std::optional<pf::UrlRequest>(
      pf::UrlConnection&, const pf::UrlRequest&, const pf::UrlResponse&)>;

  static std::shared_ptr<TnqURLConnectionOperation> make(pf::UrlRequest request);
  explicit TnqURLConnectionOperation(pf::UrlRequest request);
  ~TnqURLConnectionOperation() override;

  // The shared network thread, made on first use.
  static std::shared_ptr<pf::Thread> networkRequestThread();

  // ---- state
  void start() override;
  void cancel() override;
  virtual void pause();
  void resume();
  bool isPaused() const { return state() == Paused; }
  bool isReady() const override;
  bool isExecuting() const override { return state() == Executing; }
  bool isFinished() const override { return state() == Finished; }
  bool isAsynchronous() const override { return true; }
  State state() const;
  // Applies the transition rules (invalid transitions are ignored).
  void setState(State state);

  // ---- properties
  std::vector<pf::RunLoopMode> runLoopModes{pf::kRunLoopCommonModes};
  pf::UrlRequest request() const;
  void setRequest(pf::UrlRequest request);
  std::optional<pf::UrlResponse> response() const;
  // The transport error, or the cancellation error.
  virtual std::optional<pf::Error> error() const;
  // The received body, kept once and read-only: whoever reads it shares it (the plain response
  // serializer's object is the same bytes).
  std::shared_ptr<const pf::Bytes> responseData() const;
  std::optional<std::string> responseString();
  TnqStringEncoding responseStringEncoding();
  std::int64_t totalBytesRead() const;

  bool shouldUseCredentialStorage = true;
  std::optional<pf::UrlCredential> credential;
  std::shared_ptr<TnqSecurityPolicy> securityPolicy;
  std::shared_ptr<pf::DispatchQueue> completionQueue;
  std::shared_ptr<pf::DispatchGroup> completionGroup;
  pf::Value userInfo;

  std::shared_ptr<TnqURLOutputStream> outputStream();
  void setOutputStream(std::shared_ptr<TnqURLOutputStream> stream);
  std::shared_ptr<pf::HttpBodyStream> inputStream() const { return request().httpBodyStream(); }
  void setInputStream(std::shared_ptr<pf::HttpBodyStream> stream);

  // The caller's block runs on completionQueue (main queue) inside completionGroup.
  void setCompletionBlock(std::function<void()> block);
  void setUploadProgressBlock(ProgressBlock block);
  void setDownloadProgressBlock(ProgressBlock block);
  void setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
  void setRedirectResponseBlock(RedirectResponseBlock block);

  // Operations to enqueue: the given ones and one that calls `completion` on the main queue once
  // all have completed; `progress` hears (finished, total) after each.
  static std::vector<std::shared_ptr<pf::Operation>> batchOfRequestOperations(
      const std::vector<std::shared_ptr<TnqURLConnectionOperation>>& operations,
      std::function<void(std::size_t, std::size_t)> progress,
      std::function<void(const std::vector<std::shared_ptr<TnqURLConnectionOperation>>&)> completion);

  virtual std::string className() const { return "TnqURLConnectionOperation"; }
  std::string description() const;

  // ---- archiving and copying
  static bool supportsSecureCoding() { return true; }
  virtual void encodeWithCoder(pf::Value& coder);
  // Restores what the archive holds into this (freshly made) operation.
  virtual void initWithCoder(const pf::Value& coder);
  static std::shared_ptr<TnqURLConnectionOperation> unarchive(const pf::Value& coder);
  std::shared_ptr<TnqURLConnectionOperation> copy() const;

  // Archive forms of requests and responses.
  static pf::Value archiveRequest(const pf::UrlRequest& request);
  static std::optional<pf::UrlRequest> unarchiveRequest(const pf::Value* value);
  static pf::Value archiveResponse(const pf::UrlResponse& response);
  static std::optional<pf::UrlResponse> unarchiveResponse(const pf::Value* value);

 protected:
  mutable pf::RecursiveMutex lock_;
  void copyInto(TnqURLConnectionOperation& copy) const;
  // The response has arrived (network thread, under the lock).
  virtual void connectionDidReceiveResponse(pf::UrlConnection& connection, const pf::UrlResponse& response)
      PF_REQUIRES(lock_);
  // Ends the load with the error (the connection, if any, already cancelled).
  void connectionDidFailWithError(pf::UrlConnection* connection, const pf::Error& error);
  virtual std::shared_ptr<TnqURLConnectionOperation> makeCopy(pf::UrlRequest request) const;
  // A new memory stream of the operation's own (limited to kTnqMaximumInMemoryResponseLength) in place
  // of the current one.
  void useOwnMemoryStream() PF_REQUIRES(lock_);
  // Whether the output stream is one the operation made (nobody else reads it).
  bool ownsOutputStream() const PF_REQUIRES(lock_) { return ownsOutputStream_; }
  // The response and its bytes as kept, without copies (lock_ held).
  const std::optional<pf::UrlResponse>& responseLocked() const PF_REQUIRES(lock_) { return response_; }
  const std::shared_ptr<const pf::Bytes>& responseDataLocked() const PF_REQUIRES(lock_) { return responseData_; }

 private:
  class ConnectionDelegate;
  friend class ConnectionDelegate;
  std::shared_ptr<TnqURLConnectionOperation> self();
  void operationDidStart();
  void operationDidPause();
  void cancelConnection();
  void finish();
  void postOnMain(const std::string& name);
  // Connection events (network thread).
  void connectionDidReceiveChallenge(pf::UrlConnection& connection,
                                     const std::shared_ptr<pf::UrlAuthenticationChallenge>& challenge);
  std::optional<pf::UrlRequest> connectionWillSendRequest(pf::UrlConnection& connection, pf::UrlRequest request,
                                                          const pf::UrlResponse& redirect);
  void connectionDidSendBodyData(std::int64_t written, std::int64_t total, std::int64_t expected);
  // Called with lock_ held (the connection's delegate takes it).
  void connectionDidReceiveData(pf::UrlConnection& connection, const pf::Bytes& data) PF_REQUIRES(lock_);
  void connectionDidFinishLoading(pf::UrlConnection& connection);

  // Read without the lock (the operation queue asks while it holds its own lock); changes are
  // serialised by stateMutex_.
  std::atomic<State> state_{Ready};
  pf::Mutex stateMutex_;
  pf::UrlRequest request_ PF_GUARDED_BY(lock_);
  std::optional<pf::UrlResponse> response_ PF_GUARDED_BY(lock_);
  std::optional<pf::Error> error_ PF_GUARDED_BY(lock_);
  std::shared_ptr<const pf::Bytes> responseData_ PF_GUARDED_BY(lock_);
  std::optional<std::string> responseString_ PF_GUARDED_BY(lock_);
  TnqStringEncoding responseStringEncoding_ PF_GUARDED_BY(lock_) = 0;
  std::shared_ptr<TnqURLOutputStream> outputStream_ PF_GUARDED_BY(lock_);
  bool ownsOutputStream_ PF_GUARDED_BY(lock_) = false;  // made by the operation: nobody else reads it
  std::shared_ptr<pf::UrlConnection> connection_ PF_GUARDED_BY(lock_);
  std::shared_ptr<ConnectionDelegate> connectionDelegate_ PF_GUARDED_BY(lock_);
  std::atomic<std::int64_t> totalBytesRead_{0};
  ProgressBlock uploadProgress_ PF_GUARDED_BY(lock_);
  ProgressBlock downloadProgress_ PF_GUARDED_BY(lock_);
  AuthenticationChallengeBlock authenticationChallenge_ PF_GUARDED_BY(lock_);
  RedirectResponseBlock redirectResponse_ PF_GUARDED_BY(lock_);
};

}  // namespace appnet
