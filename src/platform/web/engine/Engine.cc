#include "platform/web/engine/Engine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Log.h"

// The engine's configuration hooks (see engine/duk_overrides.h.in).
extern "C" duk_bool_t fx_duk_exec_timeout_check(void* udata) {
  return udata && static_cast<const pf::web::Engine*>(udata)->timedOut() ? 1 : 0;
}

extern "C" duk_double_t fx_duk_date_now(duk_context*) {
  // Milliseconds on the process clock, whole as the platform's dates are read by pages.
  return std::floor(pf::Clock::now() * 1000.0);
}

namespace pf::web {

namespace {

// Each block carries its size in front, so the heap's total is known without asking malloc.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* allocHook(void* udata, duk_size_t size) { return static_cast<Engine*>(udata)->allocate(size); }
void* reallocHook(void* udata, void* ptr, duk_size_t size) {
  return static_cast<Engine*>(udata)->reallocate(ptr, size);
}
void freeHook(void* udata, void* ptr) { static_cast<Engine*>(udata)->release(ptr); }

[[noreturn]] void fatalHook(void* udata, const char* msg) {
  auto* e = static_cast<Engine*>(udata);
  logLine("Script engine fatal error in " + (e ? e->name() : std::string("?")) + ": " + (msg ? msg : "?"));
  std::abort();
}

// [error] -> ["<file>:<line>: <text>"]
duk_ret_t describeError(duk_context* ctx, void*) {
  std::string where;
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "fileName");
    duk_get_prop_string(ctx, -2, "lineNumber");
    if (duk_is_string(ctx, -2)) where = duk_get_string(ctx, -2);
    if (duk_is_number(ctx, -1)) where += (where.empty() ? "line " : ":") + std::to_string(duk_get_int(ctx, -1));
    duk_pop_2(ctx);
  }
  std::string text = safeText(ctx, -1);
  duk_pop(ctx);
  if (!where.empty()) text = where + ": " + text;
  duk_push_lstring(ctx, text.data(), text.size());
  return 1;
}

}  // namespace

std::string safeText(duk_context* ctx, duk_idx_t idx) {
  duk_size_t len = 0;
  const bool text = duk_is_string(ctx, idx) && !duk_is_symbol(ctx, idx);
  const char* s = text ? duk_get_lstring(ctx, idx, &len) : duk_safe_to_lstring(ctx, idx, &len);
  return s ? std::string(s, len) : std::string();
}

Engine::Engine(ScriptLimits limits, void* owner, std::string name)
    : limits_(limits), owner_(owner), name_(std::move(name)) {
  ctx_ = duk_create_heap(allocHook, reallocHook, freeHook, this, fatalHook);
  if (!ctx_) throw std::bad_alloc();
}

Engine::~Engine() {
  if (ctx_) duk_destroy_heap(ctx_);
}

void* Engine::ownerOf(duk_context* ctx) {
  duk_memory_functions funcs;
  duk_get_memory_functions(ctx, &funcs);
  return funcs.udata ? static_cast<Engine*>(funcs.udata)->owner_ : nullptr;
}

bool Engine::timedOut() const {
  if (depth_ == 0) return false;
  if (!expired_ && std::chrono::steady_clock::now() > deadline_) expired_ = true;
  return expired_;
}

bool Engine::refuseAllocation() {
  // Past the budget nothing more is allocated either: a built-in that runs long without
  // executing script (a huge join, a sort) fails at its next allocation instead of running on.
  if (depth_ == 0) return false;
  if (expired_) return true;
  return (++allocations_ & 255u) == 0 && timedOut();
}

void* Engine::allocate(std::size_t size) {
  if (size == 0 || refuseAllocation()) return nullptr;
  if (size > limits_.heapCap || heapBytes_ + size > limits_.heapCap) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  heapBytes_ += size;
  return block + kHeader;
}

void* Engine::reallocate(void* ptr, std::size_t size) {
  if (!ptr) return allocate(size);
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t old;
  std::memcpy(&old, block, sizeof old);
  if (size == 0) {
    release(ptr);
    return nullptr;
  }
  if (size > old && refuseAllocation()) return nullptr;
  if (size > old && (size > limits_.heapCap || heapBytes_ - old + size > limits_.heapCap)) return nullptr;
  auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
  if (!grown) return nullptr;  // the old block stays valid
  std::memcpy(grown, &size, sizeof size);
  heapBytes_ = heapBytes_ - old + size;
  return grown + kHeader;
}

void Engine::release(void* ptr) {
  if (!ptr) return;
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t old;
  std::memcpy(&old, block, sizeof old);
  heapBytes_ -= old;
  std::free(block);
}

Engine::Entry::Entry(Engine& e) : e_(e) {
  if (e_.depth_++ == 0) {
    e_.expired_ = false;
    double budget = e_.limits_.timeBudgetSeconds;
    if (!(budget > 0) || budget > 86400) budget = 86400;
    e_.deadline_ = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(budget));
  }
}

Engine::Entry::~Entry() { --e_.depth_; }

void Engine::reportError(const char* context) {
  // Describing the error must not be refused as the script's own allocations were.
  const bool expired = depth_ > 0 && expired_;
  const int depth = depth_;
  depth_ = 0;
  std::string what = expired ? "stopped after its time budget: " : "";
  if (duk_safe_call(ctx_, describeError, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
    // Even describing failed (the heap is exhausted): the bare fact is logged.
    what += "script error";
  } else {
    what += safeText(ctx_, -1);
  }
  duk_pop(ctx_);
  depth_ = depth;
  logLine(name_ + ": " + context + ": " + what);
}

bool Engine::run(std::string_view code, const std::string& fileName, std::string* text) {
  Entry entry(*this);
  duk_push_lstring(ctx_, fileName.data(), fileName.size());
  const duk_uint_t flags = text ? DUK_COMPILE_EVAL : 0;
  if (duk_pcompile_lstring_filename(ctx_, flags, code.data(), code.size()) != 0) {
    reportError("script error");
    return false;
  }
  duk_push_global_object(ctx_);
  if (duk_pcall_method(ctx_, 0) != DUK_EXEC_SUCCESS) {
    reportError("script error");
    return false;
  }
  if (text) *text = duk_is_undefined(ctx_, -1) ? std::string() : safeText(ctx_, -1);
  duk_pop(ctx_);
  return true;
}

namespace {

// Text as the engine keeps it: characters beyond U+FFFF as surrogate pairs in their 3-byte forms,
// as the engine's own reader makes them from script or JSON text.
std::string_view engineText(const std::string& text, std::string& scratch) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0xF0) ++i;
  if (i == text.size()) return text;
  scratch.assign(text, 0, i);
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0xF0) {
      scratch += text[i++];
      continue;
    }
    const char32_t c = decodeUtf8(text, i) - 0x10000;
    for (const char32_t unit : {0xD800 + (c >> 10), 0xDC00 + (c & 0x3FF)}) {
      scratch += static_cast<char>(0xE0 | (unit >> 12));
      scratch += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      scratch += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return scratch;
}

struct KeptCall {
  void*& function;  // the kept function's heap object, once compiled
  unsigned slot;
  std::string_view source;
  const std::string* fileName;
  std::span<const Value> arguments;
  bool refused = false;
};

void pushText(duk_context* ctx, const std::string& text, std::string& scratch) {
  const std::string_view kept = engineText(text, scratch);
  duk_push_lstring(ctx, kept.data(), kept.size());
}

// Pushes the value as JSON.parse makes it from the value's JSON text: members and items are
// defined as own properties, so no setter a page put on a prototype runs. False (with what it
// pushed left on the stack) for a value that has no JSON text.
bool pushValue(duk_context* ctx, const Value& value, std::string& scratch, std::size_t depth = 0) {
  constexpr duk_uint_t kOwn = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WEC;
  switch (value.type()) {
    case Value::value_t::null: duk_push_null(ctx); return true;
    case Value::value_t::boolean: duk_push_boolean(ctx, value.get<bool>()); return true;
    case Value::value_t::number_integer:
      duk_push_number(ctx, static_cast<double>(value.get<std::int64_t>()));
      return true;
    case Value::value_t::number_unsigned:
      duk_push_number(ctx, static_cast<double>(value.get<std::uint64_t>()));
      return true;
    case Value::value_t::number_float: {
      const double d = value.get<double>();
      if (!std::isfinite(d)) return false;
      duk_push_number(ctx, d);
      return true;
    }
    case Value::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      if (!isValidUtf8(text)) return false;
      pushText(ctx, text, scratch);
      return true;
    }
    case Value::value_t::array: {
      if (depth >= Engine::kMaxDepth) return false;
      duk_require_stack(ctx, 3);
      const duk_idx_t array = duk_push_array(ctx);
      duk_uarridx_t index = 0;
      for (const auto& item : value) {
        duk_push_uint(ctx, index++);
        if (!pushValue(ctx, item, scratch, depth + 1)) return false;
        duk_def_prop(ctx, array, kOwn);
      }
      return true;
    }
    case Value::value_t::object: {
      if (depth >= Engine::kMaxDepth) return false;
      duk_require_stack(ctx, 3);
      const duk_idx_t object = duk_push_object(ctx);
      for (const auto& [key, member] : value.get_ref<const Value::object_t&>()) {
        if (!isValidUtf8(key)) return false;
        pushText(ctx, key, scratch);
        if (!pushValue(ctx, member, scratch, depth + 1)) return false;
        duk_def_prop(ctx, object, kOwn);
      }
      return true;
    }
    default: return false;  // binary data, a discarded value
  }
}

// [] -> [result]; runs inside a protected call, so the engine's errors unwind to it.
duk_ret_t callKeptFunction(duk_context* ctx, void* udata) {
  auto& call = *static_cast<KeptCall*>(udata);
  if (call.function) {
    duk_push_heapptr(ctx, call.function);
  } else {
    duk_push_lstring(ctx, call.fileName->data(), call.fileName->size());
    duk_compile_lstring_filename(ctx, DUK_COMPILE_FUNCTION, call.source.data(), call.source.size());
    // The stash keeps it reachable for the heap's life; the pointer finds it.
    duk_push_heap_stash(ctx);
    duk_dup(ctx, -2);
    duk_put_prop_index(ctx, -2, call.slot);
    duk_pop(ctx);
    call.function = duk_get_heapptr(ctx, -1);
  }
  std::string scratch;
  for (const auto& argument : call.arguments) {
    if (!pushValue(ctx, argument, scratch)) {
      call.refused = true;
      return DUK_RET_TYPE_ERROR;
    }
  }
  duk_call(ctx, static_cast<duk_idx_t>(call.arguments.size()));
  return 1;
}

}  // namespace

bool Engine::hasJsonForm(const Value& value) {
  // Exactly what pushValue refuses: the JSON writer's own checks.
  JsonWriteOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxDepth;
  return writeJson(value, options).has_value();
}

Engine::CallResult Engine::callKept(unsigned slot, std::string_view source, const std::string& fileName,
                                    std::span<const Value> arguments, std::string* text) {
  Entry entry(*this);
  if (kept_.size() <= slot) kept_.resize(slot + 1, nullptr);
  void* function = kept_[slot];
  KeptCall call{function, slot, source, &fileName, arguments};
  const bool ran = duk_safe_call(ctx_, callKeptFunction, &call, 0, 1) == DUK_EXEC_SUCCESS;
  kept_[slot] = function;  // compiled at the first call, whatever the call did then
  if (!ran) {
    if (call.refused) {
      duk_pop(ctx_);
      return CallResult::kRefused;
    }
    reportError("script error");
    return CallResult::kFailed;
  }
  if (text) *text = duk_is_undefined(ctx_, -1) ? std::string() : safeText(ctx_, -1);
  duk_pop(ctx_);
  return CallResult::kDone;
}

bool Engine::safeCall(duk_safe_call_function fn, void* udata) {
  Entry entry(*this);
  if (duk_safe_call(ctx_, fn, udata, 0, 1) != DUK_EXEC_SUCCESS) {
    reportError("script error");
    return false;
  }
  duk_pop(ctx_);
  return true;
}

bool Engine::callMethod(duk_idx_t objIndex, const char* name, int nargs) {
  Entry entry(*this);
  objIndex = duk_normalize_index(ctx_, objIndex);
  duk_get_prop_string(ctx_, objIndex, name);  // a plain data property of our own object: cannot throw
  duk_dup(ctx_, objIndex);
  // [args... fn this] -> [fn this args...]
  duk_insert(ctx_, -2 - nargs);
  duk_insert(ctx_, -2 - nargs);
  if (duk_pcall_method(ctx_, nargs) != DUK_EXEC_SUCCESS) {
    reportError("script error");
    return false;
  }
  duk_pop(ctx_);
  return true;
}

}  // namespace pf::web
