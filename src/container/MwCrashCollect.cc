#include "container/MwCrashCollect.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include <cxxabi.h>

#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Sandbox.h"

namespace container {
namespace {

constexpr std::uint64_t kMaxReport = 256 * 1024;
std::atomic<bool> installed{false};
std::atomic<unsigned> sequence{0};

[[noreturn]] void onTerminate() {
  std::string name = "unknown";
  std::string reason;
  if (auto current = std::current_exception()) {
    if (auto* type = abi::__cxa_current_exception_type()) name = type->name();
    try {
      std::rethrow_exception(current);
    } catch (const pf::Exception& e) {
      name = e.name();
      reason = e.reason();
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
    }
  } else {
    name = "terminate";
  }
  MwCrashCollect::storeReport(name, reason);
  std::abort();
}

}  // namespace

std::filesystem::path MwCrashCollect::reportFolder() { return pf::Sandbox::documents() / "crash"; }

bool MwCrashCollect::isReportName(std::string_view name) {
  constexpr std::string_view kPrefix = "report-", kSuffix = ".json";
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
  auto rest = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  // Reads one number (a leading "-" allowed when `signedNumber`) off the front of `rest`.
  const auto number = [&rest](bool signedNumber) {
    std::size_t at = signedNumber && rest.starts_with('-') ? 1 : 0;
    const std::size_t start = at;
    while (at < rest.size() && rest[at] >= '0' && rest[at] <= '9') ++at;
    rest.remove_prefix(at);
    return at > start;
  };
  if (!number(true) || !rest.starts_with('-')) return false;
  rest.remove_prefix(1);
  return number(false) && rest.empty();
}

void MwCrashCollect::install() {
  if (installed.exchange(true)) return;
  std::set_terminate(onTerminate);
}

bool MwCrashCollect::storeReport(const std::string& name, const std::string& reason) {
  const pf::Value report{{"name", name}, {"reason", reason}, {"date", pf::Clock::now()}};
  auto text = pf::writeJson(report);
  if (!text) return false;
  pf::FileManager::createDirectory(reportFolder(), true);
  const auto file = reportFolder() / ("report-" + std::to_string(static_cast<long long>(pf::Clock::now() * 1000)) + "-" +
                                      std::to_string(sequence++) + ".json");
  return pf::FileManager::writeFile(file, *text, true);
}

int MwCrashCollect::sendStoredReports() {
  auto names = pf::FileManager::contentsOfDirectory(reportFolder());
  if (!names) return 0;
  int sent = 0;
  for (const auto& name : *names) {
    const auto file = reportFolder() / name;
    auto bytes = pf::FileManager::readRegularFile(file, nullptr, kMaxReport);
    if (!bytes) continue;
    auto answer = MwCommunicationHelper::synchBusinessRequest(
        kCrashReportAct, pf::Value{{"CRASHLOG", std::string(bytes->begin(), bytes->end())}});
    auto business = answer ? answer->businessObject() : std::nullopt;
    if (business && business->is_object() && business->value("RETCODE", pf::Value()) == "AAAAAAA") {
      pf::FileManager::removeItem(file);
      ++sent;
    }
  }
  return sent;
}

}  // namespace container
