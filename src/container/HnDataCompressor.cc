#include "container/HnDataCompressor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/foundation/FileManager.h"

namespace container {
namespace {

constexpr std::size_t kFileChunk = 262144;  // 256 KiB per read
// Growth of a block's output when half the input is less (a one-byte block grows at all).
constexpr std::size_t kMinimumGrowth = 64;
// zlib counts in 32-bit units; longer inputs are fed in slices.
constexpr std::size_t kSlice = std::size_t{1} << 30;

std::string format(const char* pattern, const std::string& a, const std::string& b = {}) {
  int n = std::snprintf(nullptr, 0, pattern, a.c_str(), b.c_str());
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  std::snprintf(out.data(), out.size() + 1, pattern, a.c_str(), b.c_str());
  return out;
}

pf::Value posixError(int code) {
  return pf::Value{{"domain", "NSPOSIXErrorDomain"},
                   {"code", code},
                   {"userInfo", pf::Value{{pf::kLocalizedDescriptionKey, std::strerror(code)}}}};
}

pf::Error failure(std::string description, std::optional<int> underlyingErrno = std::nullopt) {
  pf::Value info{{pf::kLocalizedDescriptionKey, std::move(description)}};
  if (underlyingErrno) info[pf::kUnderlyingErrorKey] = posixError(*underlyingErrno);
  return pf::Error(kHnHTTPRequestErrorDomain, kHnCompressionErrorCode, std::move(info));
}

// Reads until the buffer is full or the file ends: a short read from the kernel is not the end.
// The count read, or -1 with errno set.
ssize_t readFully(int fd, std::uint8_t* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  // Closes now; false (errno set) when the close reports a failure.
  bool close() {
    int f = fd;
    fd = -1;
    return f < 0 || ::close(f) == 0;
  }
};

}  // namespace

std::shared_ptr<HnDataCompressor> HnDataCompressor::compressor() {
  auto made = std::make_shared<HnDataCompressor>();
  made->setupStream();
  return made;
}

HnDataCompressor::~HnDataCompressor() { closeStream(); }

pf::Error HnDataCompressor::deflateErrorWithCode(int code) {
  return failure("Compression of data failed with code " + std::to_string(code));
}

std::optional<pf::Error> HnDataCompressor::setupStream() {
  if (streamReady_) return std::nullopt;
  zStream_ = z_stream{};
  zStream_.zalloc = Z_NULL;
  zStream_.zfree = Z_NULL;
  zStream_.opaque = Z_NULL;
  zStream_.avail_in = 0;
  zStream_.next_in = Z_NULL;
  int status = deflateInit2(&zStream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) return deflateErrorWithCode(status);
  streamReady_ = true;
  return std::nullopt;
}

std::optional<pf::Error> HnDataCompressor::closeStream() {
  if (!streamReady_) return std::nullopt;
  streamReady_ = false;
  int status = deflateEnd(&zStream_);
  if (status != Z_OK) return deflateErrorWithCode(status);
  return std::nullopt;
}

std::optional<pf::Bytes> HnDataCompressor::compressBytes(const std::uint8_t* bytes, std::size_t length,
                                                         pf::Error* error, bool shouldFinish) {
  if (length == 0 || !bytes) return std::nullopt;
  return run(bytes, length, error, shouldFinish);
}

std::optional<pf::Bytes> HnDataCompressor::finishWithoutInput(pf::Error* error) {
  return run(nullptr, 0, error, true);
}

std::optional<pf::Bytes> HnDataCompressor::run(const std::uint8_t* bytes, std::size_t length, pf::Error* error,
                                               bool shouldFinish) {
  if (!streamReady_) {
    if (error) *error = deflateErrorWithCode(Z_STREAM_ERROR);
    return std::nullopt;
  }
  const std::size_t step = std::max(length / 2, kMinimumGrowth);
  pf::Bytes out(length / 2);
  const std::uint8_t* next = bytes;
  std::size_t left = length;
  const uLong before = zStream_.total_out;
  zStream_.avail_in = 0;
  int status = Z_OK;
  do {
    if (zStream_.avail_in == 0 && left > 0) {
      std::size_t slice = std::min(left, kSlice);
      zStream_.next_in = const_cast<Bytef*>(next);
      zStream_.avail_in = static_cast<uInt>(slice);
      next += slice;
      left -= slice;
    }
    std::size_t produced = zStream_.total_out - before;
    if (produced >= out.size()) out.resize(out.size() + step);
    zStream_.next_out = out.data() + produced;
    zStream_.avail_out = static_cast<uInt>(std::min(out.size() - produced, kSlice));
    const bool finishing = shouldFinish && left == 0;
    status = deflate(&zStream_, finishing ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    // No progress possible: the previous round filled the output exactly and took all input.
    if (status == Z_BUF_ERROR && !finishing && zStream_.avail_in == 0 && left == 0) break;
    if (status != Z_OK) {
      zStream_.next_in = Z_NULL;
      zStream_.avail_in = 0;
      if (error) *error = deflateErrorWithCode(status);
      return std::nullopt;
    }
  } while (zStream_.avail_out == 0 || zStream_.avail_in > 0 || left > 0);
  zStream_.next_in = Z_NULL;
  zStream_.avail_in = 0;
  out.resize(zStream_.total_out - before);
  return out;
}

std::optional<pf::Bytes> HnDataCompressor::compressData(const pf::Bytes& data, pf::Error* error) {
  if (data.empty()) return std::nullopt;
  auto made = compressor();
  return made->compressBytes(data.data(), data.size(), error, true);
}

bool HnDataCompressor::compressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                            pf::Error* error) {
  auto fail = [&](pf::Error e) {
    if (error) *error = std::move(e);
    return false;
  };
  // Creating the destination first would empty the source if both were the same file.
  struct stat sourceStat {}, destinationStat {};
  if (::stat(sourcePath.c_str(), &sourceStat) == 0 && ::stat(destinationPath.c_str(), &destinationStat) == 0 &&
      sourceStat.st_dev == destinationStat.st_dev && sourceStat.st_ino == destinationStat.st_ino)
    return fail(failure(format("Compression of %s failed because the source and the destination are the same file",
                               sourcePath)));

  Fd out{::open(destinationPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
  if (out.fd < 0)
    return fail(failure(format("Compression of %s failed because we were to create a file at %s", sourcePath,
                               destinationPath)));
  if (::stat(sourcePath.c_str(), &sourceStat) != 0)
    return fail(failure(format("Compression of %s failed the file dose not exist", sourcePath)));

  auto compressor = HnDataCompressor::compressor();
  auto readFailure = [&](int code) {
    compressor->closeStream();
    return fail(failure(
        format("Compression of %s failed because we were unable to read from the source data file", sourcePath),
        code));
  };
  auto writeFailure = [&](int code) {
    compressor->closeStream();
    return fail(failure(format("Compression of %s failed because we were unable to write to the destination "
                               "data file at %s",
                               sourcePath, destinationPath),
                        code));
  };
  Fd in{::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return readFailure(errno);

  pf::Bytes chunk(kFileChunk);
  bool finished = false;
  while (compressor->streamReady() && !finished) {
    ssize_t got = readFully(in.fd, chunk.data(), chunk.size());
    if (got < 0) return readFailure(errno);
    pf::Error compressionError;
    std::optional<pf::Bytes> compressed;
    if (got == 0) {
      // The end came right after a full chunk (or the file is empty): the trailer is still due.
      compressed = compressor->finishWithoutInput(&compressionError);
      finished = true;
    } else {
      finished = static_cast<std::size_t>(got) < chunk.size();
      compressed = compressor->compressBytes(chunk.data(), static_cast<std::size_t>(got), &compressionError,
                                             finished);
    }
    if (!compressed) {
      compressor->closeStream();
      return fail(compressionError);
    }
    if (!pf::FileManager::writeAll(out.fd, *compressed)) return writeFailure(errno);
  }
  in.close();
  if (!out.close()) return writeFailure(errno);
  if (auto closing = compressor->closeStream()) return fail(*closing);
  return true;
}

}  // namespace container
