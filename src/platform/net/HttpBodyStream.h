#pragma once
// A request body produced piece by piece (sent chunked when its length is unknown).
// The loader reads it on its own thread; read() must answer promptly (memory, files, generators).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

#include "platform/foundation/Bytes.h"

namespace pf {

class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;
  // Bytes copied into buffer, 0 at the end, -1 on an error (the load then fails).
  virtual std::ptrdiff_t read(std::span<std::uint8_t> buffer) = 0;
  // Total length when known in advance (sent as Content-Length), else nullopt (chunked).
  virtual std::optional<std::int64_t> length() const { return std::nullopt; }
  // Starts again from the first byte (for a redirect or an authentication retry); false when it
  // cannot, and the load then asks its delegate for a new stream.
  virtual bool rewind() { return false; }

  // A stream over bytes in memory, and one over a file (nullptr when it cannot be opened).
  static std::shared_ptr<HttpBodyStream> fromBytes(Bytes bytes);
  static std::shared_ptr<HttpBodyStream> fromFile(const std::filesystem::path& path);
};

}  // namespace pf
