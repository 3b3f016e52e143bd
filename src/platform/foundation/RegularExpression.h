#pragma once
// Regular expressions with the platform's syntax (ICU's: possessive quantifiers such as
// "{1,12}+", "\d", "\w", ranges of any code point), compiled once and shared between threads:
// each match borrows a clone of the compiled pattern from a small pool. Matches run under a time
// and a backtracking-stack limit; a match that exceeds one counts as no match, so no text hangs.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"

struct URegularExpression;

namespace pf {

class RegularExpression {
 public:
  enum Options : unsigned { kNoOptions = 0, kCaseInsensitive = 1 };

  // The compiled pattern, or null when it does not compile.
  static std::shared_ptr<const RegularExpression> make(std::string_view pattern, unsigned options = kNoOptions);

  ~RegularExpression();
  RegularExpression(const RegularExpression&) = delete;
  RegularExpression& operator=(const RegularExpression&) = delete;

  // Whether the whole text matches (the predicate form "SELF MATCHES pattern").
  bool matchesWhole(std::string_view text) const { return run(text, true); }
  // Whether the pattern matches somewhere in the text.
  bool find(std::string_view text) const { return run(text, false); }

  // Limits every match runs under (ICU's time steps, roughly milliseconds; stack bytes).
  static constexpr std::int32_t kTimeLimit = 1000;
  static constexpr std::int32_t kStackLimit = 1 << 20;

 private:
  explicit RegularExpression(URegularExpression* compiled);
  bool run(std::string_view text, bool whole) const;
  URegularExpression* borrow() const;
  void giveBack(URegularExpression* clone) const;

  URegularExpression* compiled_;  // never matched against: the source of the clones
  mutable Mutex mutex_;
  mutable std::vector<URegularExpression*> idle_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
