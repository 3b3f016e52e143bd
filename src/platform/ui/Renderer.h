#pragma once
// Rendering: draws the visible windows (by level) or one view, with presentation values,
// transforms about the anchor point, clipping and group opacity, into a bitmap at a given scale.

#include <memory>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace pf {

class Layer;
class View;

namespace render {

// The whole screen (black where no window covers it). scale 0: the main screen's scale.
std::shared_ptr<Image> screen(double scale = 0);
// One view and its subviews, in its bounds (the view's own position and transform are not applied).
std::shared_ptr<Image> view(View& view, double scale = 0);
// Draws a layer tree into ctx, whose space is the layer's superlayer's.
void layerTree(GraphicsContext& ctx, Layer& layer);
// Lays out every visible window (before rendering or probing frames).
void layoutWindows();

}  // namespace render
}  // namespace pf
