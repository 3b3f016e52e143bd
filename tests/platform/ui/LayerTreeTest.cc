#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/View.h"

namespace {

using pf::Color;
using pf::Layer;
using pf::Rect;

std::shared_ptr<pf::View> canvas() {
  auto v = pf::View::make(Rect(0, 0, 40, 40));
  v->setBackgroundColor(Color::white(1));
  return v;
}

TEST(LayerTree, ShapeLayersDrawDashedPaths) {
  auto v = canvas();
  auto dots = pf::ShapeLayer::make();
  dots->setFrame(Rect(0, 0, 40, 40));
  pf::Path p;
  p.moveTo({0, 20});
  p.lineTo({40, 20});
  dots->setPath(p);
  dots->setFillColor(Color::clear());
  dots->setStrokeColor(Color::black());
  dots->setLineWidth(2);
  dots->setLineDashPattern({3, 1});
  v->layer().addSublayer(dots);
  auto img = pf::render::view(*v, 1);
  EXPECT_LT(img->pixel(1, 20).r, 0.1);
  EXPECT_GT(img->pixel(3, 20).r, 0.9);  // gap
  EXPECT_GT(img->pixel(1, 10).r, 0.9);
  dots->removeFromSuperlayer();
  EXPECT_TRUE(v->layer().sublayers().empty());
}

TEST(LayerTree, BordersCornersAndContents) {
  auto v = canvas();
  auto box = Layer::make();
  box->setFrame(Rect(5, 5, 30, 30));
  box->setBackgroundColor(Color::red());
  box->setCornerRadius(10);
  box->setBorderWidth(2);
  box->setBorderColor(Color::blue());
  v->layer().addSublayer(box);
  auto img = pf::render::view(*v, 1);
  EXPECT_TRUE(img->pixel(20, 20).near(Color::red()));
  EXPECT_TRUE(img->pixel(20, 5).near(Color::blue(), 0.05));  // border along the top
  EXPECT_TRUE(img->pixel(6, 6).near(Color::white(1), 0.05));  // rounded corner

  pf::ImageContext ic({1, 1}, false, 1);
  ic.context().setFillColor(Color::green());
  ic.context().fillRect(Rect(0, 0, 1, 1));
  auto pic = Layer::make();
  pic->setFrame(Rect(0, 0, 10, 10));
  pic->setContents(ic.image());
  pic->setZPosition(5);
  v->layer().insertSublayer(pic, 0);  // below the box in order, above it by z position
  img = pf::render::view(*v, 1);
  EXPECT_TRUE(img->pixel(8, 8).near(Color::green(), 0.05));
}

TEST(LayerTree, ConversionsAndHiddenLayers) {
  auto root = Layer::make();
  root->setFrame(Rect(0, 0, 100, 100));
  auto child = Layer::make();
  child->setFrame(Rect(10, 20, 50, 50));
  child->setAffineTransform(pf::AffineTransform::scale(2, 2));  // about the centre (35, 45)
  root->addSublayer(child);
  auto p = child->convertPoint({0, 0}, root.get());
  EXPECT_NEAR(p.x, -15, 1e-9);
  EXPECT_NEAR(p.y, -5, 1e-9);
  auto back = root->convertPoint(p, child.get());
  EXPECT_NEAR(back.x, 0, 1e-9);
  EXPECT_EQ(child->frame(), Rect(-15, -5, 100, 100));
  EXPECT_EQ(child->superlayer(), root);
  root->addSublayer(child);  // adding again moves it to the top, once
  EXPECT_EQ(root->sublayers().size(), 1u);

  auto v = canvas();
  auto hidden = Layer::make();
  hidden->setFrame(Rect(0, 0, 40, 40));
  hidden->setBackgroundColor(Color::black());
  hidden->setHidden(true);
  v->layer().addSublayer(hidden);
  auto img = pf::render::view(*v, 1);
  EXPECT_TRUE(img->pixel(20, 20).near(Color::white(1)));
}

struct Recorder : pf::AnimationDelegate {
  std::vector<bool> stops;
  void animationDidStop(pf::Animation&, bool finished) override { stops.push_back(finished); }
};

TEST(LayerTree, TimingRepeatsAndReversal) {
  pf::VirtualTimeScope time;
  EXPECT_NEAR(pf::TimingFunction::easeIn().evaluate(0.5), 0.3154, 1e-3);
  EXPECT_NEAR(pf::TimingFunction::easeOut().evaluate(0.5), 0.6846, 1e-3);
  EXPECT_DOUBLE_EQ(pf::TimingFunction::linear().evaluate(2), 1);

  auto layer = Layer::make();
  auto a = pf::BasicAnimation::make("position.x");
  a->fromValue = 0.0;
  a->toValue = 100.0;
  a->duration = 1;
  a->autoreverses = true;
  a->repeatCount = 2;
  layer->addAnimation(a, "x");
  time.advance(1.5);
  EXPECT_NEAR(layer->presentationProps().position.x, 50, 1e-4);  // on the way back
  time.advance(1.0);
  EXPECT_NEAR(layer->presentationProps().position.x, 50, 1e-4);  // second round, going out
  time.advance(2.0);
  EXPECT_FALSE(layer->animationForKey("x"));

  auto forever = pf::BasicAnimation::make("opacity");
  forever->fromValue = 0.0;
  forever->repeatCount = std::numeric_limits<double>::infinity();
  auto rec = std::make_shared<Recorder>();
  forever->delegate = rec;
  layer->addAnimation(forever, "spin");
  time.advance(100);
  EXPECT_TRUE(layer->animationForKey("spin"));
  layer->removeAllAnimations();
  time.advance(0.01);
  EXPECT_EQ(rec->stops, std::vector<bool>{false});
}

TEST(LayerTree, KeyframeModesAndGroupedChildren) {
  pf::VirtualTimeScope time;
  auto layer = Layer::make();
  auto d = pf::KeyframeAnimation::make("opacity");
  d->values = {0.1, 0.5, 0.9};
  d->calculationMode = "discrete";
  d->duration = 3;
  layer->addAnimation(d, "d");
  time.advance(1.5);
  EXPECT_DOUBLE_EQ(layer->presentationProps().opacity, 0.5);
  layer->removeAnimationForKey("d");

  auto cubic = pf::KeyframeAnimation::make("transform.rotation.z");
  cubic->values = {0.2, -0.17, 0.12, -0.06, 0.0};
  cubic->calculationMode = "cubic";
  cubic->duration = 1;
  layer->addAnimation(cubic, "r");
  time.advance(0.5);
  double mid = layer->presentationProps().transform.decompose().rotation;
  EXPECT_NEAR(mid, 0.12, 1e-6);  // passes through its keyframes
  time.advance(1);

  auto group = pf::AnimationGroup::make();
  auto late = pf::BasicAnimation::make("opacity");
  late->fromValue = 0.0;
  late->toValue = 1.0;
  late->beginTime = 1.0;  // relative to the group
  late->duration = 1.0;
  group->animations = {late};
  group->duration = 2.0;
  layer->addAnimation(group, "g");
  time.advance(0.5);
  EXPECT_DOUBLE_EQ(layer->presentationProps().opacity, 1.0);  // the child has not begun
  time.advance(1.0);
  EXPECT_NEAR(layer->presentationProps().opacity, 0.5, 1e-6);
}

TEST(LayerTree, ActionsCanBeDisabled) {
  pf::VirtualTimeScope time;
  auto v = pf::View::make(Rect(0, 0, 10, 10));
  pf::View::animate(1.0, [&] {
    pf::withoutActions([&] { v->setAlpha(0.5); });
    v->setCenter({50, 50});
  });
  EXPECT_FALSE(v->layer().animationForKey("opacity"));
  EXPECT_TRUE(v->layer().animationForKey("position"));
  pf::View::animate(1.0, [&] { pf::View::performWithoutAnimation([&] { v->setAlpha(1); }); });
  EXPECT_FALSE(v->layer().animationForKey("opacity"));
  EXPECT_FALSE(pf::View::inAnimationBlock());
}

}  // namespace
