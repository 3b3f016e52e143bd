#pragma once
// One script heap (duktape) with a time budget and a memory cap. Every entry into the engine is a
// protected call: a script error, a time-out or an exhausted heap is logged with its file and line
// and the engine stays usable. Main thread only.
//
// Internal to the page host: includes the engine's own header.

#include <chrono>
#include <cstddef>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "duktape.h"
#include "platform/foundation/Value.h"
#include "platform/web/ScriptLimits.h"

namespace pf::web {

class Engine {
 public:
  // `owner` is handed back to native functions through ownerOf(ctx); `name` prefixes log lines.
  Engine(ScriptLimits limits, void* owner, std::string name);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  duk_context* ctx() const { return ctx_; }
  bool isRunning() const { return depth_ > 0; }
  std::size_t heapBytes() const { return heapBytes_; }
  const std::string& name() const { return name_; }
  static void* ownerOf(duk_context* ctx);

  // Compiles and runs a program. On success with wantText, *text is the completion value as text
  // ("" for undefined). Returns false (logged) for a syntax error, a thrown error or a time-out.
  bool run(std::string_view code, const std::string& fileName, std::string* text = nullptr);
  // Calls the function kept in the heap's stash under `slot` with the arguments made values of the
  // engine's own, as JSON.parse makes them from their JSON text (members defined as own properties,
  // characters beyond U+FFFF as surrogate pairs). An empty slot is first filled by compiling
  // `source`, a function expression, in the global scope (script cannot reach the stash). Results
  // and errors as in run; kRefused, with nothing run, when an argument has no JSON text (see
  // hasJsonForm).
  enum class CallResult { kDone, kFailed, kRefused };
  CallResult callKept(unsigned slot, std::string_view source, const std::string& fileName,
                      std::span<const Value> arguments, std::string* text = nullptr);
  // Whether the value can be written as JSON text (a fragment allowed): no number that is not
  // finite, no binary data, every text UTF-8, at most kMaxDepth levels.
  static bool hasJsonForm(const Value& value);
  static constexpr std::size_t kMaxDepth = 512;
  // Runs fn (which leaves one value) in a protected call and drops its value. Returns false
  // (logged) when it throws.
  bool safeCall(duk_safe_call_function fn, void* udata);
  // Calls method `name` of the object at `objIndex` with the `nargs` values on top (popped).
  bool callMethod(duk_idx_t objIndex, const char* name, int nargs);

  // Logs the error value on top of the stack (with its file and line) and pops it.
  void reportError(const char* context);

  // Hooks for the engine's configuration.
  bool timedOut() const;
  void* allocate(std::size_t size);
  void* reallocate(void* ptr, std::size_t size);
  void release(void* ptr);

  // While alive, the engine counts as running (the budget is armed by the outermost one).
  class Entry {
   public:
    explicit Entry(Engine& e);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

   private:
    Engine& e_;
  };

 private:
  ScriptLimits limits_;
  void* owner_;
  std::string name_;
  duk_context* ctx_ = nullptr;
  int depth_ = 0;
  std::vector<void*> kept_;  // callKept's functions by slot (heap objects the stash keeps)
  bool refuseAllocation();

  std::chrono::steady_clock::time_point deadline_;
  mutable bool expired_ = false;
  unsigned allocations_ = 0;
  std::size_t heapBytes_ = 0;
};

// The value at idx as text without running page code that could throw (ToString guarded).
std::string safeText(duk_context* ctx, duk_idx_t idx);

}  // namespace pf::web
