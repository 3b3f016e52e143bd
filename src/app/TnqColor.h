#pragma once
// The app's colour helpers are the widgets' own (charts and grids use them below the app).

#include "widgets/TnqColor.h"

namespace app {
namespace TnqColor = ::widgets::TnqColor;
}  // namespace app
