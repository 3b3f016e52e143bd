#pragma once
// The answer record of a plug-in: data, result code and the continue flag, made into the answer
// dictionary {"data", "result": 0, "continue"}.

#include <cstdint>

#include "platform/foundation/Value.h"

namespace app {

class PylResult {
 public:
  // initWithData: (needContinue NO, result 0).
  explicit PylResult(pf::Value data) : PylResult(std::move(data), false, 0) {}
  PylResult(pf::Value data, bool needContinue) : PylResult(std::move(data), needContinue, 0) {}
  PylResult(pf::Value data, bool needContinue, std::int64_t result)
      : data_(std::move(data)), result_(result), needContinue_(needContinue) {}

  // {"data": data ("" when null), "result": 0, "continue": needContinue}.
  pf::Value getSuccessResult() const;

  const pf::Value& data() const { return data_; }
  void setData(pf::Value data) { data_ = std::move(data); }
  std::int64_t result() const { return result_; }
  void setResult(std::int64_t result) { result_ = result; }
  bool needContinue() const { return needContinue_; }
  void setNeedContinue(bool value) { needContinue_ = value; }

 private:
  pf::Value data_;
  std::int64_t result_;
  bool needContinue_;
};

}  // namespace app
