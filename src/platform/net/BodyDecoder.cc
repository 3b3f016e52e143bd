#include "platform/net/BodyDecoder.h"

#include <zlib.h>

#include <algorithm>

namespace pf {

// One zlib stream. Its form is told from its first two bytes: gzip's magic for a gzip coding, a
// zlib header, else raw deflate (which some servers send for deflate, and for gzip too), after
// which up to four bytes of a trailer zlib does not read are let pass.
class BodyDecoder::Stage {
 public:
  explicit Stage(Coding coding) : coding_(coding) {}
  ~Stage() {
    if (started_) inflateEnd(&z_);
  }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  enum class Result { Ok, Corrupt, Stopped };
  Result decode(std::span<const std::uint8_t> input, const Sink& sink) {
    if (input.empty()) return Result::Ok;
    sawInput_ = true;
    if (ended_) return trailing(input.size());
    if (!started_) {
      while (headLength_ < 2 && !input.empty()) {
        head_[headLength_++] = input.front();
        input = input.subspan(1);
      }
      if (headLength_ < 2) return Result::Ok;
      if (!begin()) return Result::Corrupt;
      const Result first = run(std::span<const std::uint8_t>(head_, 2), sink);
      if (first != Result::Ok) return first;
      if (ended_) return trailing(input.size());
    }
    return run(input, sink);
  }
  bool complete() const { return !sawInput_ || ended_; }

 private:
  bool begin() {
    const bool gzipMagic = head_[0] == 0x1f && head_[1] == 0x8b;
    const bool zlibHeader =
        (head_[0] & 0x0f) == Z_DEFLATED && (head_[0] >> 4) <= 7 && ((head_[0] << 8) | head_[1]) % 31 == 0;
    int windowBits = -MAX_WBITS;
    if (coding_ == Coding::Gzip && gzipMagic) {
      windowBits = MAX_WBITS + 16;
    } else if (zlibHeader) {
      windowBits = MAX_WBITS;
    } else {
      trailerAllowance_ = 4;
    }
    if (inflateInit2(&z_, windowBits) != Z_OK) return false;
    started_ = true;
    return true;
  }
  Result trailing(std::size_t length) {
    if (length > trailerAllowance_) return Result::Corrupt;
    trailerAllowance_ -= length;
    return Result::Ok;
  }
  Result run(std::span<const std::uint8_t> input, const Sink& sink) {
    z_.next_in = const_cast<Bytef*>(input.data());
    z_.avail_in = static_cast<uInt>(input.size());
    for (;;) {
      Bytes piece(kPiece);
      z_.next_out = piece.data();
      z_.avail_out = static_cast<uInt>(piece.size());
      const int status = inflate(&z_, Z_NO_FLUSH);
      const std::size_t produced = piece.size() - z_.avail_out;
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return Result::Corrupt;
      if (produced > 0) {
        piece.resize(produced);
        if (!sink(std::move(piece))) return Result::Stopped;
      }
      if (status == Z_STREAM_END) {
        ended_ = true;
        return trailing(z_.avail_in);
      }
      // Z_BUF_ERROR: nothing more to do until more bytes come.
      if (status == Z_BUF_ERROR || (z_.avail_in == 0 && produced < kPiece)) return Result::Ok;
    }
  }

  const Coding coding_;
  z_stream z_{};
  std::uint8_t head_[2] = {0, 0};
  std::size_t headLength_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool sawInput_ = false;
  std::size_t trailerAllowance_ = 0;
};

std::unique_ptr<BodyDecoder> BodyDecoder::forAnswer(const HttpHeaders& headers) {
  std::vector<Coding> codings;
  bool refused = false;
  for (const auto& name : headers.listValues("Content-Encoding")) {
    if (asciiEqualsIgnoringCase(name, "identity")) continue;
    if (asciiEqualsIgnoringCase(name, "gzip") || asciiEqualsIgnoringCase(name, "x-gzip")) {
      codings.push_back(Coding::Gzip);
    } else if (asciiEqualsIgnoringCase(name, "deflate")) {
      codings.push_back(Coding::Deflate);
    } else {
      refused = true;
    }
  }
  if (codings.empty() && !refused) return nullptr;
  auto decoder = std::unique_ptr<BodyDecoder>(new BodyDecoder());
  decoder->refused_ = refused || codings.size() > kMaxCodings;
  if (!decoder->refused_) {
    for (auto it = codings.rbegin(); it != codings.rend(); ++it) decoder->stages_.push_back(std::make_unique<Stage>(*it));
  }
  return decoder;
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::decode(std::span<const std::uint8_t> input, const Sink& sink) {
  if (input.empty()) return true;
  if (refused_) {
    corrupt_ = true;
    return false;
  }
  return feed(0, input, sink);
}

bool BodyDecoder::complete() const {
  return std::all_of(stages_.begin(), stages_.end(), [](const auto& stage) { return stage->complete(); });
}

bool BodyDecoder::feed(std::size_t index, std::span<const std::uint8_t> input, const Sink& sink) {
  const bool last = index + 1 == stages_.size();
  const Sink next = last ? sink : Sink([&](Bytes&& piece) { return feed(index + 1, piece, sink); });
  switch (stages_[index]->decode(input, next)) {
    case Stage::Result::Ok: return true;
    case Stage::Result::Stopped: return false;
    case Stage::Result::Corrupt: corrupt_ = true; return false;
  }
  return false;
}

}  // namespace pf
