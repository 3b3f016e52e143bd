#pragma once
// Views: a rectangle of the screen with its layer, subviews, layout and drawing. Geometry lives
// in the layer (frame, bounds, center, transform, alpha); the bounds' origin is the scroll offset
// of the content. Changes made inside a view animation block become layer animations on the
// clock (a layer subclass's own drawn keys too, from their presentation values); the block's
// completion waits for all of them. Views are held by shared_ptr; a superview owns its subviews.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Layer.h"

namespace pf {

class Window;
class GestureRecognizer;
class LayoutConstraint;
class ViewController;

enum AutoresizingMask : unsigned {
  kAutoresizingNone = 0,
  kAutoresizingFlexibleLeftMargin = 1 << 0,
  kAutoresizingFlexibleWidth = 1 << 1,
  kAutoresizingFlexibleRightMargin = 1 << 2,
  kAutoresizingFlexibleTopMargin = 1 << 3,
  kAutoresizingFlexibleHeight = 1 << 4,
  kAutoresizingFlexibleBottomMargin = 1 << 5,
};

enum class ContentMode {
  ScaleToFill = 0, ScaleAspectFit, ScaleAspectFill, Redraw, Center, Top, Bottom, Left, Right,
  TopLeft, TopRight, BottomLeft, BottomRight
};

// Accessibility traits with the platform's bit values.
enum AccessibilityTrait : std::uint64_t {
  kAccessibilityTraitNone = 0,
  kAccessibilityTraitButton = 1 << 0,
  kAccessibilityTraitLink = 1 << 1,
  kAccessibilityTraitImage = 1 << 2,
  kAccessibilityTraitSelected = 1 << 3,
  kAccessibilityTraitStaticText = 1 << 6,
  kAccessibilityTraitNotEnabled = 1 << 8,
  kAccessibilityTraitUpdatesFrequently = 1 << 9,
  kAccessibilityTraitAllowsDirectInteraction = 1 << 13,
};

// View animation options with the platform's bit values.
enum ViewAnimationOptions : unsigned {
  kAnimationLayoutSubviews = 1 << 0,
  kAnimationAllowUserInteraction = 1 << 1,
  kAnimationBeginFromCurrentState = 1 << 2,
  kAnimationRepeat = 1 << 3,
  kAnimationAutoreverse = 1 << 4,
  kAnimationAllowAnimatedContent = 1 << 7,
  kAnimationCurveEaseInOut = 0 << 16,
  kAnimationCurveEaseIn = 1 << 16,
  kAnimationCurveEaseOut = 2 << 16,
  kAnimationCurveLinear = 3 << 16,
  kAnimationTransitionCrossDissolve = 5 << 20,
};
enum class AnimationCurve { EaseInOut = 0, EaseIn = 1, EaseOut = 2, Linear = 3 };

// A touch delivered to a view (position in the view's coordinates).
struct Touch {
  Point location;
  int tapCount = 1;
};

class View : public LayerDelegate, public std::enable_shared_from_this<View> {
 public:
  explicit View(const Rect& frame = Rect());
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  static std::shared_ptr<View> make(const Rect& frame = Rect()) { return std::make_shared<View>(frame); }

  // The platform class name ("UIView", "UILabel" ...), used in descriptions.
  virtual std::string className() const { return "UIView"; }

  // ---- geometry (model values)
  Rect frame() const;
  virtual void setFrame(const Rect& frame);
  Rect bounds() const { return layer_->bounds(); }
  virtual void setBounds(const Rect& bounds);
  Point center() const { return layer_->position(); }
  void setCenter(Point center);
  AffineTransform transform() const { return layer_->affineTransform(); }
  void setTransform(const AffineTransform& t);
  double alpha() const { return layer_->opacity(); }
  void setAlpha(double alpha);
  bool isHidden() const { return layer_->isHidden(); }
  virtual void setHidden(bool hidden);
  OptColor backgroundColor() const { return layer_->backgroundColor(); }
  virtual void setBackgroundColor(OptColor color);
  bool clipsToBounds() const { return layer_->masksToBounds(); }
  void setClipsToBounds(bool clips) { layer_->setMasksToBounds(clips); }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  bool clearsContextBeforeDrawing() const { return clearsContext_; }
  void setClearsContextBeforeDrawing(bool clears) { clearsContext_ = clears; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool isUserInteractionEnabled() const { return userInteraction_; }
  void setUserInteractionEnabled(bool enabled) { userInteraction_ = enabled; }
  ContentMode contentMode() const { return contentMode_; }
  void setContentMode(ContentMode mode);
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool on) { translatesMask_ = on; }

  Layer& layer() const { return *layer_; }
  const std::shared_ptr<Layer>& layerPtr() const { return layer_; }

  // ---- hierarchy
  std::shared_ptr<View> superview() const;
  View* superviewRaw() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  // The window the view is in (itself for a window), or null.
  std::shared_ptr<Window> window() const;
  void addSubview(const std::shared_ptr<View>& view);
  void insertSubview(const std::shared_ptr<View>& view, std::size_t index);
  void insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling);
  void insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const View* view);
  void sendSubviewToBack(const View* view);
  // Depth-first, the view itself first.
  std::shared_ptr<View> viewWithTag(int tag);
  bool isDescendantOf(const View* view) const;

  virtual void willMoveToSuperview(View* newSuperview) {}
  virtual void didMoveToSuperview() {}
  virtual void willMoveToWindow(Window* newWindow) {}
  virtual void didMoveToWindow() {}
  virtual void didAddSubview(View* subview) {}
  virtual void willRemoveSubview(View* subview) {}

  // ---- layout
  virtual void layoutSubviews();
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  // Lays out this view (when marked) and then every subview that is marked.
  void layoutIfNeeded();
  virtual Size sizeThatFits(Size size) const { return bounds().size; }
  void sizeToFit();

  // ---- drawing
  void setNeedsDisplay();
  bool needsDisplay() const { return layer_->needsDisplay(); }
  // Draws the view's own content into the current context (bounds coordinates).
  virtual void drawRect(const Rect& rect) {}

  // ---- events
  virtual std::shared_ptr<View> hitTest(Point point);
  virtual bool pointInside(Point point) const;
  // A view that does not handle a touch passes it on to its superview (location converted).
  virtual void touchesBegan(const Touch& touch);
  virtual void touchesMoved(const Touch& touch);
  virtual void touchesEnded(const Touch& touch);
  virtual void touchesCancelled(const Touch& touch);
  // ---- first responder: one view of the application at a time (see Keyboard.h)
  virtual bool canBecomeFirstResponder() const { return false; }
  // False when the view cannot become it or is in no window.
  bool becomeFirstResponder();
  bool resignFirstResponder();
  bool isFirstResponder() const;
  // Resigns the first responder when it is this view or one inside it; whether none is left there.
  bool endEditing(bool force);
  virtual void didBecomeFirstResponder() {}
  virtual void didResignFirstResponder() {}

  Point convertPoint(Point p, const View* to) const;  // to == nullptr: window coordinates
  Point convertPointFrom(Point p, const View* from) const;
  Rect convertRect(const Rect& r, const View* to) const;
  Rect convertRectFrom(const Rect& r, const View* from) const;

  // ---- gesture recognizers and constraints
  void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
  void removeGestureRecognizer(const GestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  void addConstraint(const std::shared_ptr<LayoutConstraint>& constraint);
  void addConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& constraints);
  void removeConstraint(const LayoutConstraint* constraint);
  const std::vector<std::shared_ptr<LayoutConstraint>>& constraints() const { return constraints_; }

  // ---- accessibility
  bool isAccessibilityElement = false;
  std::string accessibilityLabel;
  std::string accessibilityHint;
  std::string accessibilityValue;
  std::uint64_t accessibilityTraits = 0;

  // ---- objects attached by key (the platform's associated objects)
  std::shared_ptr<void> associatedObject(const std::string& key) const;
  // Attaches obj (nullptr detaches) and returns the object attached before.
  std::shared_ptr<void> setAssociatedObject(const std::string& key, std::shared_ptr<void> obj);

  // The view controller whose root view this is (set by the controller).
  ViewController* viewController() const { return controller_; }
  void setViewController(ViewController* controller) { controller_ = controller; }

  // ---- view animations
  static void animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
                      std::function<void(bool finished)> completion = {});
  static void animate(double duration, const std::function<void()>& animations,
                      std::function<void(bool finished)> completion = {});
  // A transition over the view's content (the content changes at once here; timing and
  // completion run on the clock).
  static void transition(View& view, double duration, unsigned options, const std::function<void()>& animations,
                         std::function<void(bool finished)> completion = {});
  static void beginAnimations(const std::string& animationId = {});
  static void setAnimationDuration(double seconds);
  static void setAnimationDelay(double seconds);
  static void setAnimationCurve(AnimationCurve curve);
  static void setAnimationBeginsFromCurrentState(bool on);
  static void setAnimationDidStop(std::function<void(bool finished)> didStop);
  static void commitAnimations();
  static void performWithoutAnimation(const std::function<void()>& fn);
  static bool inAnimationBlock();
  static constexpr double kDefaultAnimationDuration = 0.2;

  // LayerDelegate
  void drawLayer(Layer& layer, GraphicsContext& ctx) override;
  std::shared_ptr<Animation> actionForLayer(Layer& layer, const std::string& key) override;

 protected:
  // For subclasses that want a layer of their own class.
  View(const Rect& frame, std::shared_ptr<Layer> layer);

 private:
  void init(const Rect& frame);
  void resizeSubviews(Size oldSize);
  void moveToWindow(Window* oldWindow, Window* newWindow);
  // Takes the view out of its superview on its way to newSuperview (or none): the removal and
  // will-move hooks, without the window's.
  void detachFromSuperview(View* newSuperview);
  Window* windowRaw() const;

  std::shared_ptr<Layer> layer_;
  View* superview_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  std::vector<std::shared_ptr<LayoutConstraint>> constraints_;
  std::map<std::string, std::shared_ptr<void>> associated_;
  ViewController* controller_ = nullptr;
  int tag_ = 0;
  bool opaque_ = true;
  bool clearsContext_ = true;
  bool userInteraction_ = true;
  bool needsLayout_ = true;
  bool autoresizesSubviews_ = true;
  bool translatesMask_ = true;
  ContentMode contentMode_ = ContentMode::ScaleToFill;
  unsigned autoresizingMask_ = 0;
};

// Constraints installed on container (and its subviews) that place subviews which do not turn
// their autoresizing mask into constraints: equalities set frames, inequalities clamp them to the
// container. Runs as part of the container's layout.
void resolveConstraints(View& container);

}  // namespace pf
