#include "appnet/TnqHTTPRequestOperation.h"

#include "platform/net/UrlError.h"

namespace appnet {

namespace {

std::shared_ptr<pf::DispatchQueue> httpRequestOperationProcessingQueue() {
  static auto queue = pf::DispatchQueue::makeConcurrent(TnqName(".networking.http-request.processing"));
  return queue;
}

std::shared_ptr<pf::DispatchGroup> httpRequestOperationCompletionGroup() {
  static auto group = pf::DispatchGroup::make();
  return group;
}

// The first byte of a "Content-Range: bytes first-last/total" value.
std::optional<std::uint64_t> contentRangeStart(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  const std::string& text = *value;
  const auto space = text.find(' ');
  if (space == std::string::npos || text.compare(0, space, "bytes") != 0) return std::nullopt;
  std::uint64_t start = 0;
  std::size_t i = space + 1;
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (start > (UINT64_MAX - 9) / 10) return std::nullopt;
    start = start * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (i >= text.size() || text[i] != '-') return std::nullopt;
  return start;
}

}  // namespace

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperation::make(pf::UrlRequest request) {
  return std::make_shared<TnqHTTPRequestOperation>(std::move(request));
}

TnqHTTPRequestOperation::TnqHTTPRequestOperation(pf::UrlRequest request)
    : TnqURLConnectionOperation(std::move(request)) {}

std::shared_ptr<TnqHTTPResponseSerializer> TnqHTTPRequestOperation::responseSerializer() const {
  pf::MutexLock lock(lock_);
  // The default raw serializer is made on first use (operations made by a manager get the
  // manager's at once).
  if (!serializer_ && !serializerSet_) serializer_ = TnqHTTPResponseSerializer::serializer();
  return serializer_;
}

void TnqHTTPRequestOperation::setResponseSerializer(std::shared_ptr<TnqHTTPResponseSerializer> serializer) {
  pf::MutexLock lock(lock_);
  serializer_ = std::move(serializer);
  serializerSet_ = true;
  responseObject_ = {};
  serializationError_.reset();
  serialized_ = false;
}

TnqResponseObject TnqHTTPRequestOperation::responseObject() {
  pf::MutexLock lock(lock_);
  if (!serialized_ && isFinished() && !TnqURLConnectionOperation::error()) {
    serialized_ = true;
    // The kept response and bytes are read in place: the serializer copies what it keeps.
    const auto& resp = responseLocked();
    const auto& data = responseDataLocked();
    std::optional<pf::Error> serializerError;
    if (auto serializer = responseSerializer())
      responseObject_ = TnqGuardedResponseObject(*serializer, resp ? &*resp : nullptr, data, &serializerError);
    if (serializerError) serializationError_ = serializerError;
  }
  return responseObject_;
}

std::optional<pf::Error> TnqHTTPRequestOperation::responseSerializationError() const {
  pf::MutexLock lock(lock_);
  return serializationError_;
}

std::optional<pf::Error> TnqHTTPRequestOperation::error() const {
  pf::MutexLock lock(lock_);
  if (serializationError_) return serializationError_;
  return TnqURLConnectionOperation::error();
}

// The completion starts on the thread that finished the operation: its first step only hands the
// work to the processing queue, so a hop through the completion queue first would add latency
// without changing where the serializer or the caller's blocks run.
void TnqHTTPRequestOperation::setCompletionBlockWithSuccess(Success success, Failure failure) {
  std::weak_ptr<TnqHTTPRequestOperation> weak = std::static_pointer_cast<TnqHTTPRequestOperation>(shared_from_this());
  pf::MutexLock lock(lock_);
  pf::Operation::setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
    auto operation = weak.lock();
    if (!operation) return;
    auto group = operation->completionGroup;
    if (group) group->enter();
    httpRequestOperationProcessingQueue()->async([operation, group, success, failure] {
      auto queue = operation->completionQueue ? operation->completionQueue : pf::DispatchQueue::main();
      auto blockGroup = group ? group : httpRequestOperationCompletionGroup();
      if (operation->error()) {
        if (failure) queue->async(blockGroup, [operation, failure] { failure(operation, *operation->error()); });
      } else {
        TnqResponseObject object = operation->responseObject();
        if (auto error = operation->error()) {
          if (failure) queue->async(blockGroup, [operation, failure, error] { failure(operation, *error); });
        } else if (success) {
          queue->async(blockGroup, [operation, success, object] { success(operation, object); });
        }
      }
      if (group) group->leave();
    });
  });
}

void TnqHTTPRequestOperation::pause() {
  TnqURLConnectionOperation::pause();
  pf::MutexLock lock(lock_);
  auto stream = outputStream();
  std::uint64_t offset = 0;
  if (auto fileOffset = stream->fileCurrentOffset()) offset = *fileOffset;
  else if (auto length = stream->lengthWrittenToMemory()) offset = *length;
  pf::UrlRequest changed = request();
  if (auto resp = response())
    if (auto etag = resp->valueForHttpHeaderField("ETag")) changed.setValue(*etag, "If-Range");
  changed.setValue("bytes=" + std::to_string(offset) + "-", "Range");
  setRequest(std::move(changed));
  resumeOffset_ = offset;
}

void TnqHTTPRequestOperation::connectionDidReceiveResponse(pf::UrlConnection& connection,
                                                           const pf::UrlResponse& response) {
  TnqURLConnectionOperation::connectionDidReceiveResponse(connection, response);
  if (!resumeOffset_) return;
  const std::uint64_t offset = *resumeOffset_;
  resumeOffset_.reset();
  if (offset == 0) return;
  if (response.statusCode() == 206 && contentRangeStart(response.valueForHttpHeaderField("Content-Range")) == offset)
    return;
  if (response.statusCode() == 206 || !ownsOutputStream()) {
    // The answer does not continue where the earlier bytes end, and they cannot be dropped from
    // the caller's stream (a file or memory of theirs, which stays theirs): the load fails rather
    // than splicing two bodies together.
    connection.cancel();
    connectionDidFailWithError(&connection, pf::makeUrlError(pf::UrlErrorCode::kBadServerResponse, request().url(),
                                                             "the resumed answer does not continue at byte " +
                                                                 std::to_string(offset)));
    return;
  }
  // A whole new body: the earlier bytes go.
  useOwnMemoryStream();
  outputStream()->open();
}

void TnqHTTPRequestOperation::encodeWithCoder(pf::Value& coder) {
  TnqURLConnectionOperation::encodeWithCoder(coder);
  pf::MutexLock lock(lock_);
  if (auto serializer = responseSerializer()) coder["responseSerializer"] = serializer->archive();
}

void TnqHTTPRequestOperation::initWithCoder(const pf::Value& coder) {
  TnqURLConnectionOperation::initWithCoder(coder);
  if (const pf::Value* s = pf::valueForKey(coder, "responseSerializer"))
    if (auto serializer = TnqHTTPResponseSerializer::unarchive(*s)) setResponseSerializer(serializer);
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperation::unarchive(const pf::Value& coder) {
  auto request = unarchiveRequest(pf::valueForKey(coder, "request"));
  if (!request) return nullptr;
  auto operation = make(std::move(*request));
  operation->initWithCoder(coder);
  return operation;
}

std::shared_ptr<TnqURLConnectionOperation> TnqHTTPRequestOperation::makeCopy(pf::UrlRequest request) const {
  return make(std::move(request));
}

std::shared_ptr<TnqHTTPRequestOperation> TnqHTTPRequestOperation::copyOperation() const {
  auto c = std::static_pointer_cast<TnqHTTPRequestOperation>(copy());
  if (auto s = responseSerializer()) c->setResponseSerializer(s->copy());
  c->completionQueue = completionQueue;
  c->completionGroup = completionGroup;
  return c;
}

}  // namespace appnet
