#pragma once
// Least crash collection: a terminate handler stores a report (the uncaught exception's type and
// reason) as one file under Documents/crash before the process ends; stored reports go to the
// server as "mwframework.do?act=PEMBCRLG" with the report text under "CRASHLOG" and are deleted
// once the server answers "AAAAAAA".

#include <filesystem>
#include <string>
#include <string_view>

namespace container {

inline constexpr const char* kCrashReportAct = "mwframework.do?act=PEMBCRLG";

class MwCrashCollect {
 public:
  // Installs the terminate handler (once; later calls do nothing).
  static void install();
  // Stores one report now; false when it cannot be written.
  static bool storeReport(const std::string& name, const std::string& reason);
  // Sends every stored report (blocking business requests: not on the main thread); answers how
  // many were accepted and deleted.
  static int sendStoredReports();
  static std::filesystem::path reportFolder();
  // Whether `name` is one that storeReport gives a report: "report-<ms>-<n>.json".
  static bool isReportName(std::string_view name);
};

}  // namespace container
