#include "app/PylResult.h"

namespace app {

pf::Value PylResult::getSuccessResult() const {
  pf::Value answer = pf::Value::object();
  answer["data"] = data_.is_null() ? pf::Value("") : data_;
  answer["result"] = 0;
  answer["continue"] = needContinue_;
  return answer;
}

}  // namespace app
