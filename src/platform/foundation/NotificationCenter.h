#pragma once
// Named notifications: post (name, object, user info), delivered synchronously on the posting
// thread to every matching observer in the order they were added. Observers are callbacks
// (optionally run on an operation queue, the poster waiting until they ran) or member functions
// of a target held weakly (a target that is gone is skipped and forgotten). An observer removed
// during a delivery, by itself or by another observer, is not called afterwards; one added during
// a delivery first hears the next post. Adding the same observer twice delivers twice, as the
// platform does.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace pf {

class OperationQueue;

// The platform's "any object": nil, a payload Value, or an object known by its address. An object
// given as const (payloads always are) is handed back only as const.
class AnyObject {
 public:
  AnyObject() = default;
  AnyObject(std::nullptr_t) {}  // NOLINT: nil converts implicitly
  AnyObject(Value value)         // NOLINT: payloads convert implicitly
      : pointer_(std::make_shared<const Value>(std::move(value))), type_(&typeid(Value)), readOnly_(true) {}
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, Value> && !std::is_same_v<std::remove_cvref_t<T>, AnyObject> &&
             !std::is_same_v<std::remove_cvref_t<T>, std::nullptr_t> && std::is_constructible_v<Value, T>)
  AnyObject(T&& payload) : AnyObject(Value(std::forward<T>(payload))) {}  // NOLINT: texts, numbers
  template <class T>
  AnyObject(std::shared_ptr<T> object)  // NOLINT: objects convert implicitly
      : pointer_(std::move(object)),
        type_(pointer_ ? &typeid(std::remove_cv_t<T>) : nullptr),
        readOnly_(std::is_const_v<T>) {}
  template <class T>
  AnyObject(const std::weak_ptr<T>& object) : AnyObject(object.lock()) {}

  bool isNil() const { return !pointer_; }
  explicit operator bool() const { return !isNil(); }
  // The payload, or nullptr when the object is nil or not a Value.
  const Value* value() const { return type_ == &typeid(Value) ? static_cast<const Value*>(pointer_.get()) : nullptr; }
  // The object when it was given as a shared_ptr of exactly T, else null; one given as const is
  // answered only to as<const T>().
  template <class T>
  std::shared_ptr<T> as() const {
    if (!type_ || *type_ != typeid(std::remove_cv_t<T>)) return nullptr;
    if (readOnly_ && !std::is_const_v<T>) return nullptr;
    return std::const_pointer_cast<T>(std::static_pointer_cast<const T>(pointer_));
  }
  const void* identity() const { return pointer_.get(); }
  // Same object (not equal values): the platform compares senders by identity.
  bool operator==(const AnyObject& other) const { return pointer_ == other.pointer_; }

 private:
  std::shared_ptr<const void> pointer_;
  const std::type_info* type_ = nullptr;
  bool readOnly_ = false;
};

// "(null)" for nil, the description of a payload, "<object 0x...>" for other objects.
std::string description(const AnyObject& object);

struct Notification {
  std::string name;
  AnyObject object;
  Value userInfo;  // null when the poster gave none
};

using NotificationHandler = std::function<void(const Notification&)>;
using ObserverToken = std::uint64_t;

class NotificationCenter {
 public:
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process's default centre.
  static NotificationCenter& defaultCenter();
  // Forgets every observer of the default centre (tests).
  static void resetDefaultCenter();

  // A callback for `name` ("" for every name) from `object` (nil for any sender). With a queue the
  // callback runs there and the poster waits for it (run directly when already on that queue).
  ObserverToken addObserver(std::string name, AnyObject object, NotificationHandler handler,
                            std::shared_ptr<OperationQueue> queue = nullptr);

  // A target's callback; the target only identifies the observer for removal.
  ObserverToken addObserver(const void* target, std::string name, AnyObject object, NotificationHandler handler);

  // A member function of a target held weakly.
  template <class T>
  ObserverToken addObserver(const std::shared_ptr<T>& target, void (T::*method)(const Notification&),
                            std::string name, AnyObject object = {}) {
    std::weak_ptr<T> weak = target;
    return addEntry(target.get(), std::move(name), std::move(object), [weak, method](const Notification& n) {
      if (auto strong = weak.lock()) ((*strong).*method)(n);
    }, nullptr, [weak] { return weak.expired(); });
  }

  void removeObserver(ObserverToken token);
  // Every observation of the target, or those matching a name and/or object ("" and nil match all).
  void removeObserver(const void* target, std::string_view name = {}, const AnyObject& object = {});
  template <class T>
  void removeObserver(const std::shared_ptr<T>& target, std::string_view name = {}, const AnyObject& object = {}) {
    removeObserver(static_cast<const void*>(target.get()), name, object);
  }

  void post(const Notification& notification);
  void post(std::string name, AnyObject object = {}, Value userInfo = nullptr);

  std::size_t observerCount() const;
  // Whether any observer listens to `name` (or to every name): a poster may skip the work of
  // preparing a notification nobody hears.
  bool hasObserversFor(std::string_view name) const;

 private:
  struct Entry;
  ObserverToken addEntry(const void* target, std::string name, AnyObject object, NotificationHandler handler,
                         std::shared_ptr<OperationQueue> queue, std::function<bool()> expired);

  mutable Mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_ PF_GUARDED_BY(mutex_);
  ObserverToken nextToken_ PF_GUARDED_BY(mutex_) = 1;
};

}  // namespace pf
