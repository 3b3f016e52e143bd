#pragma once
// Layers: the tree that is rendered. A layer keeps model values (what code set) and computes
// presentation values (model values with its running animations applied at the current media
// time). Every view owns one layer; standalone layers (shape layers, custom drawing) join a
// view's layer as sublayers. Transactions group changes and run a completion once every
// animation added inside them has ended.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Path.h"

namespace pf {

class Image;
class Layer;

// Every animatable value of a layer (shape-layer values included).
struct LayerProps {
  Rect bounds;
  Point position;
  Point anchorPoint{0.5, 0.5};
  double zPosition = 0;
  Transform3D transform;
  double opacity = 1;
  bool hidden = false;
  bool masksToBounds = false;
  OptColor backgroundColor;
  double cornerRadius = 0;
  double borderWidth = 0;
  Color borderColor = Color::black();
  Color shadowColor = Color::black();
  double shadowOpacity = 0;
  Size shadowOffset{0, -3};
  double shadowRadius = 3;
  std::optional<Path> shadowPath;
  std::shared_ptr<Image> contents;
  double contentsScale = 1;
  // Shape layers.
  std::optional<Path> path;
  OptColor fillColor = Color::black();
  OptColor strokeColor;
  double lineWidth = 1;
  LineCap lineCap = LineCap::Butt;
  LineJoin lineJoin = LineJoin::Miter;
  std::vector<double> lineDashPattern;
  double lineDashPhase = 0;
  FillRule fillRule = FillRule::Winding;
  double strokeStart = 0;
  double strokeEnd = 1;
  // Dynamic values set by key (a layer subclass's own animatable properties).
  std::map<std::string, AnimValue> custom;

  double customDouble(const std::string& key, double fallback = 0) const;
};

// The owner of a layer (its view): draws its content and supplies actions for property changes.
class LayerDelegate {
 public:
  virtual ~LayerDelegate() = default;
  virtual void drawLayer(Layer& layer, GraphicsContext& ctx) {}
  // The animation to run for a change of key, or none.
  virtual std::shared_ptr<Animation> actionForLayer(Layer& layer, const std::string& key) { return nullptr; }
};

class Layer : public std::enable_shared_from_this<Layer> {
 public:
  Layer();
  virtual ~Layer();
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  static std::shared_ptr<Layer> make() { return std::make_shared<Layer>(); }

  // ---- model values
  const LayerProps& model() const { return model_; }
  Rect bounds() const { return model_.bounds; }
  Point position() const { return model_.position; }
  Point anchorPoint() const { return model_.anchorPoint; }
  Transform3D transform() const { return model_.transform; }
  AffineTransform affineTransform() const { return model_.transform.affine(); }
  double opacity() const { return model_.opacity; }
  bool isHidden() const { return model_.hidden; }
  bool masksToBounds() const { return model_.masksToBounds; }
  OptColor backgroundColor() const { return model_.backgroundColor; }
  double cornerRadius() const { return model_.cornerRadius; }
  double borderWidth() const { return model_.borderWidth; }
  Color borderColor() const { return model_.borderColor; }
  Color shadowColor() const { return model_.shadowColor; }
  double shadowOpacity() const { return model_.shadowOpacity; }
  Size shadowOffset() const { return model_.shadowOffset; }
  double shadowRadius() const { return model_.shadowRadius; }
  std::optional<Path> shadowPath() const { return model_.shadowPath; }
  std::shared_ptr<Image> contents() const { return model_.contents; }
  double contentsScale() const { return model_.contentsScale; }
  double zPosition() const { return model_.zPosition; }
  Rect frame() const;

  void setBounds(const Rect& r);
  void setPosition(Point p);
  void setAnchorPoint(Point p);
  void setTransform(const Transform3D& t);
  void setAffineTransform(const AffineTransform& t) { setTransform(Transform3D::fromAffine(t)); }
  void setOpacity(double v);
  void setHidden(bool v);
  void setMasksToBounds(bool v);
  void setBackgroundColor(OptColor c);
  void setCornerRadius(double v);
  void setBorderWidth(double v);
  void setBorderColor(const Color& c);
  void setShadowColor(const Color& c);
  void setShadowOpacity(double v);
  void setShadowOffset(Size s);
  void setShadowRadius(double v);
  void setShadowPath(std::optional<Path> p);
  void setContents(std::shared_ptr<Image> image);
  void setContentsScale(double v);
  void setZPosition(double v);
  void setFrame(const Rect& r);

  // Any animatable key path ("position.x", "transform.scale", a custom key ...).
  std::optional<AnimValue> valueForKeyPath(const std::string& keyPath) const { return getKeyPath(model_, keyPath); }
  void setValueForKeyPath(const std::string& keyPath, const AnimValue& value);

  std::string name;

  // ---- presentation
  LayerProps presentationProps() const;
  LayerProps presentationPropsAt(double mediaTime) const;
  // A detached copy carrying the presentation values.
  std::shared_ptr<Layer> presentationLayer() const;

  // ---- tree
  const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
  std::shared_ptr<Layer> superlayer() const;
  void addSublayer(const std::shared_ptr<Layer>& layer);
  void insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index);
  void insertSublayerBelow(const std::shared_ptr<Layer>& layer, const Layer* sibling);
  void insertSublayerAbove(const std::shared_ptr<Layer>& layer, const Layer* sibling);
  void removeFromSuperlayer();

  LayerDelegate* delegate() const { return delegate_; }
  void setDelegate(LayerDelegate* d) { delegate_ = d; }

  // ---- geometry between layers (model values)
  AffineTransform transformToSuperlayer() const;
  AffineTransform transformToRoot() const;
  Point convertPoint(Point p, const Layer* to) const;  // to == nullptr: the root's space
  Rect convertRect(const Rect& r, const Layer* to) const;

  // ---- display
  void setNeedsDisplay() { needsDisplay_ = true; }
  bool needsDisplay() const { return needsDisplay_; }
  void clearNeedsDisplay() { needsDisplay_ = false; }
  // Whether changing key asks for a redraw (a subclass's own drawn property).
  virtual bool needsDisplayForKey(const std::string& key) const { return false; }
  // Draws the layer's own content with its presentation values; the default asks the delegate.
  virtual void drawInContext(GraphicsContext& ctx, const LayerProps& presentation);
  // Shape layers draw their path.
  virtual bool isShapeLayer() const { return false; }

  // ---- animations
  // Adds a copy of the animation under key (replacing one under the same key; an empty key
  // never replaces).
  void addAnimation(const std::shared_ptr<Animation>& animation, const std::string& key);
  std::shared_ptr<Animation> animationForKey(const std::string& key) const;
  std::vector<std::string> animationKeys() const;
  void removeAnimationForKey(const std::string& key);
  void removeAllAnimations();
  bool hasAnimations() const { return !animations_.empty(); }

  // The action to run when key changes (no implicit animations for standalone layers here; the
  // delegate, a view inside an animation block, may give one).
  virtual std::shared_ptr<Animation> actionForKey(const std::string& key);

 protected:
  // Changes a model value through fn, running the key's action (unless actions are disabled).
  void change(const std::string& key, const std::function<void()>& fn);
  LayerProps model_;

 private:
  struct Running {
    std::string key;
    std::shared_ptr<Animation> animation;
    double begin;
    std::uint64_t id;
  };
  void finish(std::uint64_t id, bool finished);
  void detach(Running running, bool finished);

  std::vector<std::shared_ptr<Layer>> sublayers_;
  Layer* superlayer_ = nullptr;
  LayerDelegate* delegate_ = nullptr;
  std::vector<Running> animations_;
  bool needsDisplay_ = false;
};

class ShapeLayer : public Layer {
 public:
  static std::shared_ptr<ShapeLayer> make() { return std::make_shared<ShapeLayer>(); }
  bool isShapeLayer() const override { return true; }
  void drawInContext(GraphicsContext& ctx, const LayerProps& presentation) override;

  std::optional<Path> path() const { return model_.path; }
  OptColor fillColor() const { return model_.fillColor; }
  OptColor strokeColor() const { return model_.strokeColor; }
  double lineWidth() const { return model_.lineWidth; }
  LineJoin lineJoin() const { return model_.lineJoin; }
  LineCap lineCap() const { return model_.lineCap; }
  std::vector<double> lineDashPattern() const { return model_.lineDashPattern; }

  void setPath(std::optional<Path> p);
  void setFillColor(OptColor c);
  void setStrokeColor(OptColor c);
  void setLineWidth(double w);
  void setLineJoin(LineJoin j);
  void setLineCap(LineCap c);
  void setLineDashPattern(std::vector<double> pattern);
  void setLineDashPhase(double phase);
  void setFillRule(FillRule rule);
  void setStrokeStart(double v);
  void setStrokeEnd(double v);
};

// Groups of layer changes. Transactions nest; the values of the innermost one apply.
class Transaction {
 public:
  static void begin();
  static void commit();
  static void setDisableActions(bool disable);
  static bool disableActions();
  static void setAnimationDuration(double seconds);
  static double animationDuration();
  // Runs (on the main run loop) once every animation added inside this transaction has ended;
  // right after the commit when none was added.
  static void setCompletionBlock(std::function<void()> block);

  // Internal: an animation was added to a layer while the transactions are open.
  static void track(const std::shared_ptr<Animation>& animation);
};

// Runs a block with actions disabled inside its own transaction.
void withoutActions(const std::function<void()>& fn);

// Runs fn on the main run loop in a later pass.
void runOnMainLater(std::function<void()> fn);

}  // namespace pf
