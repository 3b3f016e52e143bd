#include "platform/foundation/RegularExpression.h"

#include <unicode/uregex.h>
#include <unicode/utext.h>

#include <climits>

namespace pf {
namespace {

// Clones kept for reuse; more concurrent matches than this make clones that are closed after use.
constexpr std::size_t kMaxIdleClones = 8;

bool applyLimits(URegularExpression* re) {
  UErrorCode status = U_ZERO_ERROR;
  uregex_setTimeLimit(re, RegularExpression::kTimeLimit, &status);
  uregex_setStackLimit(re, RegularExpression::kStackLimit, &status);
  return U_SUCCESS(status);
}

}  // namespace

std::shared_ptr<const RegularExpression> RegularExpression::make(std::string_view pattern, unsigned options) {
  if (pattern.size() > INT32_MAX) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  UText* source = utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &status);
  if (U_FAILURE(status)) return nullptr;
  std::uint32_t flags = (options & kCaseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
  URegularExpression* re = uregex_openUText(source, flags, nullptr, &status);
  utext_close(source);
  if (U_FAILURE(status)) {
    if (re) uregex_close(re);
    return nullptr;
  }
  return std::shared_ptr<const RegularExpression>(new RegularExpression(re));
}

RegularExpression::RegularExpression(URegularExpression* compiled) : compiled_(compiled) {}

RegularExpression::~RegularExpression() {
  for (auto* clone : idle_) uregex_close(clone);
  uregex_close(compiled_);
}

URegularExpression* RegularExpression::borrow() const {
  MutexLock lock(mutex_);
  if (!idle_.empty()) {
    URegularExpression* re = idle_.back();
    idle_.pop_back();
    return re;
  }
  UErrorCode status = U_ZERO_ERROR;
  URegularExpression* re = uregex_clone(compiled_, &status);
  if (U_FAILURE(status) || !re || !applyLimits(re)) {
    if (re) uregex_close(re);
    return nullptr;
  }
  return re;
}

void RegularExpression::giveBack(URegularExpression* re) const {
  UErrorCode status = U_ZERO_ERROR;
  uregex_setText(re, u"", 0, &status);  // drop the reference to the caller's text
  MutexLock lock(mutex_);
  if (U_SUCCESS(status) && idle_.size() < kMaxIdleClones) {
    idle_.push_back(re);
    return;
  }
  uregex_close(re);
}

bool RegularExpression::run(std::string_view text, bool whole) const {
  if (text.size() > INT32_MAX) return false;
  URegularExpression* re = borrow();
  if (!re) return false;
  UErrorCode status = U_ZERO_ERROR;
  UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  bool found = false;
  if (U_SUCCESS(status)) {
    uregex_setUText(re, ut, &status);
    if (U_SUCCESS(status)) found = whole ? uregex_matches(re, 0, &status) : uregex_find(re, 0, &status);
    found = found && U_SUCCESS(status);  // over the time or stack limit: no match
  }
  giveBack(re);
  if (ut) utext_close(ut);
  return found;
}

}  // namespace pf
