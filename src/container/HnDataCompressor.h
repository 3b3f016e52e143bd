#pragma once
// gzip compression of data or of a whole file with zlib, one stream per compressor. Blocks
// compressed one after the other, the last one finishing, join into one gzip stream.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace container {

inline constexpr const char* kHnHTTPRequestErrorDomain = "HnHTTPRequestErrorDomain";
// Every failure of the compressor carries this code.
inline constexpr std::int64_t kHnCompressionErrorCode = 11;

class HnDataCompressor {
 public:
  // A new compressor whose stream is set up; a set-up failure leaves streamReady() false.
  static std::shared_ptr<HnDataCompressor> compressor();

  HnDataCompressor() = default;
  ~HnDataCompressor();
  HnDataCompressor(const HnDataCompressor&) = delete;
  HnDataCompressor& operator=(const HnDataCompressor&) = delete;

  // nullopt on success or when already set up; else the zlib failure.
  std::optional<pf::Error> setupStream();
  // nullopt when not set up or on success; else the zlib failure.
  std::optional<pf::Error> closeStream();

  // The compressed bytes this call produced; nullopt for an empty block (no error) or on a
  // failure (stored in *error when given). With shouldFinish the gzip trailer is written.
  std::optional<pf::Bytes> compressBytes(const std::uint8_t* bytes, std::size_t length, pf::Error* error,
                                         bool shouldFinish);

  // The gzip form of the whole data; nullopt for empty data (no error) or on a failure.
  static std::optional<pf::Bytes> compressData(const pf::Bytes& data, pf::Error* error);

  // Compresses the source file into the destination (created anew) in 256 KiB chunks.
  static bool compressDataFromFile(const std::string& sourcePath, const std::string& destinationPath,
                                   pf::Error* error);

  // "Compression of data failed with code %d".
  static pf::Error deflateErrorWithCode(int code);

  bool streamReady() const { return streamReady_; }

 private:
  // Ends the stream with no further input: the gzip trailer (and, on a stream that saw no
  // input, the header) for the file form, whose last read may be empty.
  std::optional<pf::Bytes> finishWithoutInput(pf::Error* error);
  std::optional<pf::Bytes> run(const std::uint8_t* bytes, std::size_t length, pf::Error* error, bool shouldFinish);

  z_stream zStream_{};
  bool streamReady_ = false;
};

}  // namespace container
