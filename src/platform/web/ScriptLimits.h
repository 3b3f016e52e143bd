#pragma once
// Limits of one page's script engine.

#include <cstddef>

namespace pf {

struct ScriptLimits {
  double timeBudgetSeconds = 10;    // real time one entry (a script, a timer, a listener) may run
  std::size_t heapCap = 64u << 20;  // bytes one page's heap may hold
};

}  // namespace pf
