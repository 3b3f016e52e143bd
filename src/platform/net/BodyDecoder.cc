#include "platform/net/BodyDecoder.h"

#include <zlib.h>

#include <algorithm>

namespace pf {

// One coding's zlib stream. Its form is told from its first two bytes: gzip's magic for a gzip
// coding, a zlib header, else raw deflate (which some servers send for deflate, and for gzip too),
// after which up to four bytes of a trailer zlib does not read are let pass. A gzip stream may hold
// several members, one after another: each is decoded and its trailer checked in turn, and what
// follows a member's end must begin another.
//
// The stage reads its input from a span: the caller's bytes during one decode call (borrowed), or
// bytes of its own (a piece the stage before made, or what was left when the sink held).
class BodyDecoder::Stage {
 public:
  explicit Stage(Coding coding) : coding_(coding) {}
  ~Stage() {
    if (started_) inflateEnd(&z_);
  }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  bool hasInput() const { return !input_.empty() || !headFeed_.empty(); }
  void take(Bytes&& bytes) {
    owned_ = std::move(bytes);
    input_ = owned_;
    borrowed_ = false;
  }
  // Reads `bytes` after what is left: borrowed when nothing is, else joined in its own buffer.
  void append(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (input_.empty()) {
      input_ = bytes;
      borrowed_ = true;
      return;
    }
    Bytes joined;
    joined.reserve(input_.size() + bytes.size());
    joined.insert(joined.end(), input_.begin(), input_.end());
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    take(std::move(joined));
  }
  // Copies what is left of borrowed bytes, which the caller takes back.
  void keep() {
    if (borrowed_ && !input_.empty()) take(Bytes(input_.begin(), input_.end()));
    borrowed_ = false;
  }
  void drop() {
    input_ = {};
    borrowed_ = false;
  }

  // The next decoded piece (at most kPiece bytes) of the input it has; NeedInput once it has used
  // its input up and has nothing more to give without more.
  Step step(Bytes& piece) {
    for (;;) {
      if (!started_) {
        while (headLength_ < 2 && !input_.empty()) {
          head_[headLength_++] = input_.front();
          input_ = input_.subspan(1);
        }
        if (headLength_ < 2) return Step::NeedInput;
        if (!begin()) return Step::Corrupt;
        headFeed_ = std::span<const std::uint8_t>(head_, 2);
      }
      std::span<const std::uint8_t>& source = headFeed_.empty() ? input_ : headFeed_;
      if (ended_) {
        if (source.empty()) return Step::NeedInput;
        if (!afterEnd(source)) return Step::Corrupt;
        continue;
      }
      if (source.empty() && !outputWaiting_) return Step::NeedInput;
      piece.resize(kPiece);
      z_.next_in = const_cast<Bytef*>(source.data());
      z_.avail_in = static_cast<uInt>(source.size());
      z_.next_out = piece.data();
      z_.avail_out = static_cast<uInt>(kPiece);
      const int status = inflate(&z_, Z_NO_FLUSH);
      const std::size_t used = source.size() - z_.avail_in;
      const std::size_t produced = kPiece - z_.avail_out;
      source = source.subspan(used);
      // A full piece may leave more output inside zlib, to be had without more input.
      outputWaiting_ = z_.avail_out == 0;
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return Step::Corrupt;
      if (status == Z_STREAM_END) {
        ended_ = true;
        outputWaiting_ = false;
      }
      if (produced > 0) {
        piece.resize(produced);
        return Step::Piece;
      }
      if (status == Z_STREAM_END) continue;
      // Z_BUF_ERROR or nothing moved: zlib waits for more bytes (with bytes before it, it would
      // have read them or failed).
      if (used == 0) return source.empty() ? Step::NeedInput : Step::Corrupt;
    }
  }
  // Whether the stream reached its end, if it got a byte at all, with nothing after it unread.
  bool complete() const { return headLength_ == 0 || (ended_ && !hasInput()); }

 private:
  bool begin() {
    const bool gzipMagic = head_[0] == 0x1f && head_[1] == 0x8b;
    const bool zlibHeader =
        (head_[0] & 0x0f) == Z_DEFLATED && (head_[0] >> 4) <= 7 && ((head_[0] << 8) | head_[1]) % 31 == 0;
    int windowBits = -MAX_WBITS;
    if (coding_ == Coding::Gzip && gzipMagic) {
      windowBits = MAX_WBITS + 16;
      members_ = true;
    } else if (zlibHeader) {
      windowBits = MAX_WBITS;
    } else {
      trailerAllowance_ = 4;
    }
    if (inflateInit2(&z_, windowBits) != Z_OK) return false;
    started_ = true;
    return true;
  }
  // Bytes after the stream's end: another gzip member, or the stray trailer bytes let pass.
  bool afterEnd(std::span<const std::uint8_t>& source) {
    if (members_) {
      // zlib checks the whole magic; a byte that cannot begin it is no member, even alone.
      if (source.front() != 0x1f || inflateReset(&z_) != Z_OK) return false;
      ended_ = false;
      return true;
    }
    if (source.size() > trailerAllowance_) return false;
    trailerAllowance_ -= source.size();
    source = {};
    return true;
  }

  const Coding coding_;
  z_stream z_{};
  std::uint8_t head_[2] = {0, 0};
  std::size_t headLength_ = 0;
  // The two head bytes, read before the input once the form is known.
  std::span<const std::uint8_t> headFeed_;
  std::span<const std::uint8_t> input_;
  Bytes owned_;
  bool borrowed_ = false;
  bool started_ = false;
  bool ended_ = false;
  bool members_ = false;
  bool outputWaiting_ = false;
  std::size_t trailerAllowance_ = 0;
};

std::unique_ptr<BodyDecoder> BodyDecoder::forAnswer(const HttpHeaders& headers) {
  std::vector<Coding> codings;
  bool refused = false;
  for (const auto& name : headers.listValues("Content-Encoding")) {
    if (asciiEqualsIgnoringCase(name, "identity") || asciiEqualsIgnoringCase(name, "none")) continue;
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
  if (corrupt_) return false;
  if (refused_) {
    if (input.empty()) return true;
    corrupt_ = true;
    return false;
  }
  Stage& first = *stages_.front();
  first.append(input);
  holding_ = false;
  for (;;) {
    Bytes piece;
    switch (pull(stages_.size() - 1, piece)) {
      case Step::NeedInput: return true;  // every stage used its input up: nothing borrowed is left
      case Step::Corrupt:
        corrupt_ = true;
        first.drop();
        return false;
      case Step::Piece:
        if (!sink(std::move(piece))) {
          holding_ = true;
          first.keep();
          return true;
        }
        break;
    }
  }
}

BodyDecoder::Step BodyDecoder::pull(std::size_t index, Bytes& piece) {
  Stage& stage = *stages_[index];
  for (;;) {
    const Step step = stage.step(piece);
    if (step != Step::NeedInput || index == 0) return step;
    Bytes input;
    const Step before = pull(index - 1, input);
    if (before != Step::Piece) return before;
    stage.take(std::move(input));
  }
}

bool BodyDecoder::complete() const {
  return std::all_of(stages_.begin(), stages_.end(), [](const auto& stage) { return stage->complete(); });
}

}  // namespace pf
