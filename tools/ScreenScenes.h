#pragma once
// The native screens in the states people review, rendered to images: shared by the
// render_screens tool and the reference-image tests.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Image.h"

namespace screens {

// "watchlist" (three groups, one closed, editing controls), "watchlist-delete" (the delete
// confirmation) and "search" (filtered by "美元", keyboard up).
std::vector<std::string> names();
// The whole 375x667 screen at the scale; the icons are read from imageDir. Null for an unknown name.
std::shared_ptr<pf::Image> render(const std::string& name, double scale, const std::filesystem::path& imageDir);

}  // namespace screens
