#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"

namespace {

using pf::BasicAnimation;
using pf::Layer;
using pf::Point;

struct Recorder : pf::AnimationDelegate {
  std::vector<bool> stops;
  int starts = 0;
  void animationDidStart(pf::Animation&) override { ++starts; }
  void animationDidStop(pf::Animation&, bool finished) override { stops.push_back(finished); }
};

double opacityNow(const Layer& l) { return l.presentationProps().opacity; }

TEST(LayerAnimation, BasicAnimationRunsOnTheClockAndIsRemoved) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  auto rec = std::make_shared<Recorder>();
  auto a = BasicAnimation::make("opacity");
  a->fromValue = 0.0;
  a->toValue = 1.0;
  a->duration = 1.0;
  a->delegate = rec;
  layer->addAnimation(a, "fade");
  EXPECT_DOUBLE_EQ(opacityNow(*layer), 0.0);
  time.advance(0.25);
  EXPECT_NEAR(opacityNow(*layer), 0.25, 1e-6);
  EXPECT_EQ(rec->starts, 1);
  time.advance(0.5);
  EXPECT_NEAR(opacityNow(*layer), 0.75, 1e-6);
  EXPECT_TRUE(rec->stops.empty());
  time.advance(0.3);
  EXPECT_EQ(rec->stops, std::vector<bool>{true});
  EXPECT_FALSE(layer->animationForKey("fade"));
  EXPECT_DOUBLE_EQ(opacityNow(*layer), 1.0);  // the model value again
  EXPECT_DOUBLE_EQ(layer->opacity(), 1.0);
}

TEST(LayerAnimation, FillForwardsKeepsTheFinalStateAndReplacementEndsUnfinished) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  layer->setBounds(pf::Rect(0, 0, 10, 10));
  auto rec = std::make_shared<Recorder>();
  auto scale = BasicAnimation::make("transform.scale");
  scale->fromValue = 1.0;
  scale->toValue = 10.0;
  scale->duration = 1.0;
  scale->removedOnCompletion = false;
  scale->fillMode = pf::FillMode::Forwards;
  scale->delegate = rec;
  layer->addAnimation(scale, "grow");
  time.advance(2);
  EXPECT_EQ(rec->stops, std::vector<bool>{true});
  EXPECT_TRUE(layer->animationForKey("grow"));
  EXPECT_NEAR(layer->presentationProps().transform.decompose().sx, 10, 1e-6);

  auto rec2 = std::make_shared<Recorder>();
  auto move = BasicAnimation::make("position");
  move->toValue = Point{100, 0};
  move->duration = 1;
  move->delegate = rec2;
  layer->addAnimation(move, "move");
  time.advance(0.5);
  layer->addAnimation(move, "move");  // replaces the running one
  time.advance(0.01);
  EXPECT_EQ(rec2->stops, std::vector<bool>{false});
}

TEST(LayerAnimation, TransformSubPathsKeepTheOtherComponents) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  layer->setAffineTransform(pf::AffineTransform::rotation(0.5));
  auto group = pf::AnimationGroup::make();
  auto s = BasicAnimation::make("transform.scale");
  s->fromValue = 1.0;
  s->toValue = 3.0;
  auto ty = BasicAnimation::make("transform.translation.y");
  ty->toValue = 600.0;
  group->animations = {s, ty};
  group->duration = 1.0;
  layer->addAnimation(group, "g");
  time.advance(0.5);
  auto parts = layer->presentationProps().transform.decompose();
  EXPECT_NEAR(parts.sx, 2.0, 1e-6);
  EXPECT_NEAR(parts.rotation, 0.5, 1e-6);
  EXPECT_NEAR(parts.ty, 300.0, 1e-6);
}

TEST(LayerAnimation, KeyframesFollowKeyTimesAndPaths) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  auto k = pf::KeyframeAnimation::make("opacity");
  k->values = {0.0, 1.0, 0.5};
  k->keyTimes = {0, 0.8, 1};
  k->duration = 1;
  layer->addAnimation(k, "k");
  time.advance(0.4);
  EXPECT_NEAR(opacityNow(*layer), 0.5, 1e-6);
  time.advance(0.5);
  EXPECT_NEAR(opacityNow(*layer), 0.75, 1e-6);

  auto p = pf::KeyframeAnimation::make("position");
  pf::Path path;
  path.moveTo({0, 0});
  path.lineTo({100, 0});
  path.lineTo({100, 100});
  p->path = path;
  p->duration = 2;
  layer->addAnimation(p, "p");
  time.advance(0.5);
  EXPECT_NEAR(layer->presentationProps().position.x, 50, 1e-6);
  time.advance(1.0);
  EXPECT_NEAR(layer->presentationProps().position.y, 50, 1e-6);
}

TEST(LayerAnimation, TransactionCompletionWaitsForEveryAnimation) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  int completions = 0;
  pf::Transaction::begin();
  pf::Transaction::setCompletionBlock([&] { ++completions; });
  auto a = BasicAnimation::make("opacity");
  a->fromValue = 0.0;
  a->duration = 0.5;
  auto b = BasicAnimation::make("opacity");
  b->fromValue = 0.0;
  b->duration = 1.0;
  layer->addAnimation(a, "a");
  layer->addAnimation(b, "b");
  pf::Transaction::commit();
  time.advance(0.75);
  EXPECT_EQ(completions, 0);
  time.advance(0.5);
  EXPECT_EQ(completions, 1);

  pf::Transaction::begin();
  pf::Transaction::setCompletionBlock([&] { ++completions; });
  pf::Transaction::commit();
  time.advance(0.01);
  EXPECT_EQ(completions, 2);  // nothing added: right after the commit
}

TEST(ViewAnimation, BlockAndBeginCommitFormsAnimateAndComplete) {
  pf::VirtualTimeScope time;
  auto view = pf::View::make(pf::Rect(0, 0, 100, 100));
  std::vector<bool> done;
  pf::View::animate(1.0, 0, pf::kAnimationCurveLinear, [&] { view->setAlpha(0); }, [&](bool f) { done.push_back(f); });
  EXPECT_DOUBLE_EQ(view->alpha(), 0);  // the model changes at once
  time.advance(0.25);
  EXPECT_NEAR(opacityNow(view->layer()), 0.75, 1e-6);
  time.advance(1);
  EXPECT_EQ(done, std::vector<bool>{true});

  // A delayed animation holds its start value until it begins.
  pf::View::animate(1.0, 0.5, pf::kAnimationCurveLinear, [&] { view->setCenter({0, 0}); });
  time.advance(0.25);
  EXPECT_DOUBLE_EQ(view->layer().presentationProps().position.x, 50);

  std::vector<bool> stopped;
  pf::View::beginAnimations();
  pf::View::setAnimationDuration(0.3);
  pf::View::setAnimationDidStop([&](bool f) { stopped.push_back(f); });
  view->setAlpha(1);
  pf::View::commitAnimations();
  time.advance(0.1);
  pf::View::animate(0.3, [&] { view->setAlpha(0.5); });  // interrupts
  time.advance(0.05);
  EXPECT_EQ(stopped, std::vector<bool>{false});

  std::vector<bool> empty;
  pf::View::animate(0.3, [] {}, [&](bool f) { empty.push_back(f); });
  EXPECT_TRUE(empty.empty());  // never at once
  time.advance(0.01);
  EXPECT_EQ(empty, std::vector<bool>{true});
}

}  // namespace
