#pragma once
// The outer server packet: package flag, error code and message around an inner packet.
// Wire format: docs/packets.md.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "container/MwDataPackage.h"

namespace container {

class MwComPackage {
 public:
  MwComPackage(int packageFlag, std::int64_t errCode, std::optional<std::string> errMsg,
               std::shared_ptr<MwDataPackage> data);

  int getPackageFlag() const { return packageFlag_; }
  std::int64_t getErrCode() const { return errCode_; }
  const std::optional<std::string>& getErrMsg() const { return errMsg_; }
  std::shared_ptr<MwDataPackage> getDataPackage() const { return data_; }

  // The packet's JSON text, the inner packet encoded by its flags; nullopt when that fails.
  std::optional<std::string> toJSONString() const;
  // The parsed packet, or null when the text is not one (or longer than kMaxPacketText).
  static std::shared_ptr<MwComPackage> parseJSONString(std::string_view text);

  // The business payload read as JSON (nullopt without an inner packet, payload or valid JSON).
  std::optional<pf::Value> businessObject() const;

  static constexpr std::size_t kMaxPacketText = 16 * 1024 * 1024;

 private:
  int packageFlag_;
  std::int64_t errCode_;
  std::optional<std::string> errMsg_;
  std::shared_ptr<MwDataPackage> data_;
};

}  // namespace container
