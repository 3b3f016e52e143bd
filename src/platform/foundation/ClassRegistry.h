#pragma once
// Class look-up by name: a registry per base class from a name to a factory making a new
// instance, filled by registration functions (the platform looked classes up by their name).
// Thread-safe.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

template <class Base>
class ClassRegistry {
 public:
  using Factory = std::function<std::shared_ptr<Base>()>;

  // The one registry of this base class.
  static ClassRegistry& shared() {
    static ClassRegistry registry;
    return registry;
  }

  // Registers (or replaces) a factory under the name.
  void add(std::string name, Factory factory) {
    MutexLock lock(mutex_);
    factories_[std::move(name)] = std::move(factory);
  }
  // Registers the default constructor of T (a kind of Base) under the name.
  template <class T>
  void add(std::string name) {
    static_assert(std::is_base_of_v<Base, T>, "the class is no kind of the registry's base");
    add(std::move(name), [] { return std::static_pointer_cast<Base>(std::make_shared<T>()); });
  }

  bool contains(std::string_view name) const {
    MutexLock lock(mutex_);
    return factories_.find(name) != factories_.end();
  }
  // A new instance of the class registered under the name, or null.
  std::shared_ptr<Base> make(std::string_view name) const {
    Factory factory;
    {
      MutexLock lock(mutex_);
      auto it = factories_.find(name);
      if (it == factories_.end()) return nullptr;
      factory = it->second;
    }
    return factory();
  }
  std::vector<std::string> names() const {
    MutexLock lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [name, _] : factories_) out.push_back(name);
    return out;
  }
  void remove(std::string_view name) {
    MutexLock lock(mutex_);
    if (auto it = factories_.find(name); it != factories_.end()) factories_.erase(it);
  }
  // Forgets every class (tests).
  void reset() {
    MutexLock lock(mutex_);
    factories_.clear();
  }

 private:
  mutable Mutex mutex_;
  std::map<std::string, Factory, std::less<>> factories_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
