#pragma once
// The app's view frame helpers are the widgets' own (charts and grids use them below the app).

#include "widgets/LayoutMethods.h"

namespace app {
namespace LayoutMethods = ::widgets::LayoutMethods;
}  // namespace app
