#include "container/MwComPackage.h"

#include "container/MwJSON.h"

namespace container {

MwComPackage::MwComPackage(int packageFlag, std::int64_t errCode, std::optional<std::string> errMsg,
                           std::shared_ptr<MwDataPackage> data)
    : packageFlag_(packageFlag), errCode_(errCode), errMsg_(std::move(errMsg)), data_(std::move(data)) {}

std::optional<std::string> MwComPackage::toJSONString() const {
  pf::Value object = pf::Value::object();
  object["flag"] = packageFlag_;
  object["errCode"] = errCode_;
  object["errMsg"] = errMsg_ ? pf::Value(*errMsg_) : pf::Value(nullptr);
  if (data_) {
    auto inner = data_->toJSON();
    if (!inner) return std::nullopt;
    object["data"] = std::move(*inner);
  } else {
    object["data"] = nullptr;
  }
  return MwJSON::JSONString(object);
}

std::shared_ptr<MwComPackage> MwComPackage::parseJSONString(std::string_view text) {
  if (text.empty() || text.size() > kMaxPacketText) return nullptr;
  auto parsed = MwJSON::objectFromJSONString(text);
  if (!parsed || !parsed->is_object()) return nullptr;
  const pf::Value& object = *parsed;

  int packageFlag = 0;
  std::int64_t errCode = 0;
  std::optional<std::string> errMsg;
  if (auto it = object.find("flag"); it != object.end() && !it->is_null()) {
    auto value = pf::exactInteger<int>(*it);
    if (!value) return nullptr;
    packageFlag = *value;
  }
  if (auto it = object.find("errCode"); it != object.end() && !it->is_null()) {
    auto value = pf::exactInteger<std::int64_t>(*it);
    if (!value) return nullptr;
    errCode = *value;
  }
  if (auto it = object.find("errMsg"); it != object.end() && !it->is_null()) {
    if (!it->is_string()) return nullptr;
    errMsg = it->get<std::string>();
  }
  std::shared_ptr<MwDataPackage> data;
  if (auto it = object.find("data"); it != object.end() && !it->is_null()) {
    data = MwDataPackage::fromJSON(*it);
    if (!data) return nullptr;
  }
  return std::make_shared<MwComPackage>(packageFlag, errCode, std::move(errMsg), std::move(data));
}

std::optional<pf::Value> MwComPackage::businessObject() const {
  if (!data_ || !data_->getBusiness()) return std::nullopt;
  return MwJSON::objectFromJSONData(*data_->getBusiness());
}

}  // namespace container
