#pragma once
// Where the services of the REST API layer live: one object per service identifier, made by the
// shared service factory and kept for the rest of the run.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/ThreadAnnotations.h"

namespace app {

// Service identifiers.
inline constexpr const char* kTnqServiceInfo = "serviceInfo";
inline constexpr const char* kTnqServiceTradePre = "serviceTradePre";

// The "System.plist" keys that hold the two services' base URLs (scheme, host and port, no
// trailing "/").
inline constexpr const char* kTnqInfoServiceBaseUrlKey = "apiInfoBaseUrl";
inline constexpr const char* kTnqTradePreServiceBaseUrlKey = "apiTradePreBaseUrl";

// The value under a key of the main bundle's "System.plist" ("" when the file or key is missing).
std::string TnqSystemConfigurationValue(const std::string& key);

class TnqServerProtocal {
 public:
  virtual ~TnqServerProtocal() = default;
  virtual bool isOnline() const = 0;
  virtual std::string offlineApiBaseUrl() const = 0;
  virtual std::string onlineApiBaseUrl() const = 0;
  virtual std::string offlineApiVersion() const = 0;
  virtual std::string onlineApiVersion() const = 0;
  virtual std::string onlineApiServiceModule() const = 0;
  virtual std::string offlineApiServiceModule() const = 0;
};

// Answers from the child's online values when it is online, else from its offline ones ("" without
// a child).
class TnqServer {
 public:
  virtual ~TnqServer() = default;
  std::weak_ptr<TnqServerProtocal> child;

  std::string apiBaseUrl() const;
  std::string apiVersion() const;
  std::string apiService() const;
};

// A service whose online and offline values are the same.
class TnqFixedService : public TnqServer, public TnqServerProtocal {
 public:
  TnqFixedService(std::string baseUrl, std::string module);
  bool isOnline() const override { return true; }
  std::string offlineApiBaseUrl() const override { return baseUrl_; }
  std::string onlineApiBaseUrl() const override { return baseUrl_; }
  std::string offlineApiVersion() const override;
  std::string onlineApiVersion() const override { return offlineApiVersion(); }
  std::string onlineApiServiceModule() const override { return module_; }
  std::string offlineApiServiceModule() const override { return module_; }

 private:
  std::string baseUrl_;
  std::string module_;
};

// "serviceInfo": "/info" on the base URL under "apiInfoBaseUrl".
class TnqInfoService : public TnqFixedService {
 public:
  static std::shared_ptr<TnqInfoService> make();
  TnqInfoService();
};

// "serviceTradePre": "/autdTradePre" on the base URL under "apiTradePreBaseUrl".
class TnqTradePreService : public TnqFixedService {
 public:
  static std::shared_ptr<TnqTradePreService> make();
  TnqTradePreService();
};

class TnqServiceFactory {
 public:
  static std::shared_ptr<TnqServiceFactory> sharedInstance();
  static void resetSharedInstance();

  // The cached service, made on the first request; null for an unknown identifier.
  std::shared_ptr<TnqServer> serviceWithIdentifier(const std::string& identifier);
  // A new service, null for an unknown identifier.
  static std::shared_ptr<TnqServer> createServiceWithIdntifier(const std::string& identifier);

 private:
  pf::Mutex mutex_;
  std::map<std::string, std::shared_ptr<TnqServer>> serviceStorage_ PF_GUARDED_BY(mutex_);
};

}  // namespace app
