#pragma once
// The drawing context: a thin layer over cairo with the platform's drawing model (a current
// path, fill and stroke colours, line settings, blend modes, global alpha, clipping, gradients,
// shadows, transparency layers) in a y-down coordinate space measured in points.
//
// Views draw into the current context (pushed by the renderer or by an image context); the
// stack is per thread.

#include <cairo.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Path.h"

namespace pf {

class Image;

// The platform's blend modes, with their platform values.
enum class BlendMode {
  Normal = 0, Multiply, Screen, Overlay, Darken, Lighten, ColorDodge, ColorBurn, SoftLight,
  HardLight, Difference, Exclusion, Hue, Saturation, Color, Luminosity, Clear, Copy, SourceIn,
  SourceOut, SourceAtop, DestinationOver, DestinationIn, DestinationOut, DestinationAtop, XOR,
  PlusDarker, PlusLighter
};
enum class LineCap { Butt = 0, Round = 1, Square = 2 };
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };
enum class FillRule { Winding, EvenOdd };
enum class PathDrawingMode { Fill = 0, EOFill = 1, Stroke = 2, FillStroke = 3, EOFillStroke = 4 };

// Colour stops; without locations the colours are spread evenly from 0 to 1.
struct Gradient {
  std::vector<Color> colors;
  std::vector<double> locations;

  static Gradient make(std::vector<Color> colors, std::vector<double> locations = {});
  double location(std::size_t i) const;
};
enum GradientDrawingOptions : unsigned {
  kGradientDrawsBeforeStartLocation = 1,
  kGradientDrawsAfterEndLocation = 2,
};

class GraphicsContext {
 public:
  // Draws through cr (not owned). size is the drawable size in points, scale the pixels per point.
  GraphicsContext(cairo_t* cr, Size size, double scale);
  ~GraphicsContext();
  GraphicsContext(const GraphicsContext&) = delete;
  GraphicsContext& operator=(const GraphicsContext&) = delete;

  // The cairo context, for drawing with cairo directly (every clip set so far applied to it).
  cairo_t* cairo() {
    applyPendingClip();
    return cr_;
  }
  Size size() const { return size_; }
  double scale() const { return scale_; }

  void save();
  void restore();

  // Coordinate space.
  void translate(double tx, double ty);
  void scaleBy(double sx, double sy);
  void rotate(double angle);
  void concat(const AffineTransform& t);
  AffineTransform ctm() const;  // user space to device pixels

  // Paint settings (saved and restored with save/restore).
  void setFillColor(const Color& c);
  void setStrokeColor(const Color& c);
  void setLineWidth(double w);
  void setLineCap(LineCap cap);
  void setLineJoin(LineJoin join);
  void setMiterLimit(double limit);
  void setLineDash(double phase, const std::vector<double>& lengths);
  void setAlpha(double alpha);
  void setBlendMode(BlendMode mode);
  void setShouldAntialias(bool on);
  // A shadow under everything drawn next; a clear colour or a zero alpha switches it off.
  void setShadow(Size offset, double blur, const Color& color);
  void clearShadow();

  const Color& fillColor() const { return state().fill; }
  const Color& strokeColor() const { return state().stroke; }
  double alpha() const { return state().alpha; }
  BlendMode blendMode() const { return state().blend; }

  // The current path.
  void beginPath();
  void moveTo(double x, double y);
  void lineTo(double x, double y);
  void curveTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
  void quadCurveTo(double cx, double cy, double x, double y);
  // clockwiseFlag: 0 sweeps towards larger angles, 1 towards smaller (see Path.h).
  void addArc(double cx, double cy, double radius, double startAngle, double endAngle, int clockwiseFlag);
  void addArcToPoint(double x1, double y1, double x2, double y2, double radius);
  void addRect(const Rect& r);
  void addEllipse(const Rect& r);
  void addPath(const Path& path);
  void closePath();
  bool hasCurrentPoint() const;
  Point currentPoint() const;

  // Painting (each consumes the current path).
  void fillPath(FillRule rule = FillRule::Winding);
  void strokePath();
  void drawPath(PathDrawingMode mode);
  void clip(FillRule rule = FillRule::Winding);
  void clipToRect(const Rect& r);
  // The smallest rectangle of user space that holds the clip (what drawing can still reach).
  Rect clipBoundingBox();
  void fillRect(const Rect& r);
  void strokeRect(const Rect& r);
  void clearRect(const Rect& r);
  void fillEllipse(const Rect& r);
  void strokeEllipse(const Rect& r);
  void strokeLineSegments(const std::vector<Point>& points);  // pairs of points

  void drawLinearGradient(const Gradient& g, Point start, Point end, unsigned options = 0);
  void drawRadialGradient(const Gradient& g, Point startCenter, double startRadius, Point endCenter,
                          double endRadius, unsigned options = 0);
  void drawImage(const Image& image, const Rect& rect);

  // Everything between begin and end is composed alone, then laid down with the context's alpha,
  // blend mode and shadow at the time of begin.
  void beginTransparencyLayer();
  void endTransparencyLayer();

  // Runs a drawing operation with the state's alpha, blend mode and shadow applied to it as a
  // whole; used by text drawing.
  void paint(const std::function<void(cairo_t*)>& op);
  // One paint of a source: setup clips and sets the source on the cairo context it is given, and
  // the source is then painted with the state's alpha, blend mode and shadow (gradients, images).
  // Unlike paint, it needs no surface of its own when the blend mode allows composing straight
  // into the target.
  void paintSource(const std::function<void(cairo_t*)>& setup);

 private:
  // A clip to a path, kept in user space with the matrix, fill rule and antialiasing it was set
  // with, until something is drawn.
  struct PathClip {
    PathClip(cairo_t* cr, FillRule rule);
    ~PathClip();
    PathClip(const PathClip&) = delete;
    PathClip& operator=(const PathClip&) = delete;
    void addTo(cairo_t* cr) const;  // as the current path, in the space it was set in
    cairo_path_t* path;
    cairo_matrix_t matrix;
    cairo_fill_rule_t rule;
    cairo_antialias_t antialias;
  };
  struct State {
    Color fill = Color::black();
    Color stroke = Color::black();
    double alpha = 1;
    BlendMode blend = BlendMode::Normal;
    bool shadow = false;
    Size shadowOffset;
    double shadowBlur = 0;
    Color shadowColor;
    // The last path clip, not yet handed to cairo: a single paint of a source that follows fills
    // the path instead, so cairo composes only the pixels the path covers (through a clip it
    // would run the blend over every pixel of the clip's extents).
    std::shared_ptr<const PathClip> pendingClip;
  };
  State& state() { return stack_.back(); }
  const State& state() const { return stack_.back(); }
  void fillOrStroke(bool stroke, FillRule rule, bool preserve);
  void drawShadow(const std::function<void(cairo_t*)>& op);
  void applyPendingClip();
  // Whether rect (user space) holds all of the clip's path, as rectangles in device space.
  bool covers(const Rect& rect, const PathClip& clip);

  cairo_t* cr_;
  Size size_;
  double scale_;
  std::vector<State> stack_;
  std::vector<State> layerStates_;
};

// The current context of this thread (nullptr when none).
GraphicsContext* currentContext();
void pushContext(GraphicsContext* ctx);
void popContext();

// Pushes a context for the lifetime of the object.
class ContextScope {
 public:
  explicit ContextScope(GraphicsContext* ctx) { pushContext(ctx); }
  ~ContextScope() { popContext(); }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;
};

cairo_operator_t toCairo(BlendMode mode);
void setSource(cairo_t* cr, const Color& c, double alpha = 1.0);

// Blurs an A8 or ARGB32 image surface in place (three box passes approximate a gaussian).
void blurSurface(cairo_surface_t* surface, double radiusPixels);

}  // namespace pf
