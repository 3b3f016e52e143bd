// Texts of the charts from outside: record texts, time offsets, hex colours, series URLs through
// both URL readers, the refresh URL and the package file name.
#include <cstdint>
#include <string>

#include "kline/KLineDataManager.h"
#include "kline/KLineDrawing.h"
#include "kline/KLineManager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto manager = kline::KLineDataManager::make();
  static auto chart = kline::KLineManager::make();
  std::string text(reinterpret_cast<const char*>(data), size);
  manager->transformString(text, 0);
  manager->transformString(text, 1);
  kline::TradeModel::getTime(text);
  kline::ColorHelper::RGBWithHexString(text, 1.0);
  manager->kLineURL = text;
  manager->parseURL();
  if (manager->available() < 0 || manager->available() > kline::KLineDataManager::kMaxAvailable) __builtin_trap();
  chart->kLineURL = text;
  chart->parseURL();
  chart->latestDataURL();
  if (text.rfind("http", 0) != 0) manager->getKLineData(text, [](const kline::TradeRows&) {}, [] {});
  return 0;
}
