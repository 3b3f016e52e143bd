#include "platform/net/HttpBodyStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace pf {

namespace {

class BytesStream final : public HttpBodyStream {
 public:
  explicit BytesStream(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
    std::size_t n = std::min(buffer.size(), bytes_.size() - offset_);
    if (n > 0) std::memcpy(buffer.data(), bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  std::optional<std::int64_t> length() const override { return static_cast<std::int64_t>(bytes_.size()); }
  bool rewind() override {
    offset_ = 0;
    return true;
  }

 private:
  Bytes bytes_;
  std::size_t offset_ = 0;
};

class FileStream final : public HttpBodyStream {
 public:
  FileStream(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~FileStream() override { ::close(fd_); }
  std::ptrdiff_t read(std::span<std::uint8_t> buffer) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? -1 : n;
    }
  }
  std::optional<std::int64_t> length() const override { return size_; }
  bool rewind() override { return ::lseek(fd_, 0, SEEK_SET) == 0; }

 private:
  int fd_;
  std::int64_t size_;
};

}  // namespace

std::shared_ptr<HttpBodyStream> HttpBodyStream::fromBytes(Bytes bytes) {
  return std::make_shared<BytesStream>(std::move(bytes));
}

std::shared_ptr<HttpBodyStream> HttpBodyStream::fromFile(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<FileStream>(fd, static_cast<std::int64_t>(st.st_size));
}

}  // namespace pf
