#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

using pf::Rect;

struct Hooks : pf::View {
  using View::View;
  std::vector<std::string> calls;
  void willMoveToSuperview(View* s) override { calls.push_back(s ? "willMove" : "willLeave"); }
  void didMoveToSuperview() override { calls.push_back("didMove"); }
  void didMoveToWindow() override { calls.push_back(window() ? "inWindow" : "noWindow"); }
};

class Lifecycle : public ::testing::Test {
 protected:
  void TearDown() override { pf::Application::shared().reset(); }
};

TEST_F(Lifecycle, MovesBetweenSuperviewsAndWindowsAreAnnounced) {
  auto window = pf::Window::make(Rect(0, 0, 100, 100));
  auto holder = pf::View::make(Rect(0, 0, 50, 50));
  auto v = std::make_shared<Hooks>(Rect(0, 0, 10, 10));
  holder->addSubview(v);
  EXPECT_EQ(v->calls, (std::vector<std::string>{"willMove", "didMove"}));
  v->calls.clear();
  window->addSubview(holder);
  EXPECT_EQ(v->calls, (std::vector<std::string>{"inWindow"}));
  EXPECT_EQ(v->window(), window);
  v->calls.clear();
  v->removeFromSuperview();
  EXPECT_EQ(v->calls, (std::vector<std::string>{"willLeave", "noWindow", "didMove"}));
  EXPECT_EQ(v->window(), nullptr);
}

TEST_F(Lifecycle, SubviewOrderingOperations) {
  auto p = pf::View::make(Rect(0, 0, 10, 10));
  auto a = pf::View::make(), b = pf::View::make(), c = pf::View::make();
  p->addSubview(a);
  p->addSubview(c);
  p->insertSubviewBelow(b, c.get());
  EXPECT_EQ(p->subviews()[1], b);
  p->sendSubviewToBack(c.get());
  EXPECT_EQ(p->subviews()[0], c);
  p->insertSubviewAbove(c, b.get());
  EXPECT_EQ(p->subviews().back(), c);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(p->layer().sublayers()[i].get(), &p->subviews()[i]->layer());
  auto other = pf::View::make();
  other->addSubview(b);  // taken from its old superview
  EXPECT_EQ(p->subviews().size(), 2u);
  EXPECT_EQ(b->superview(), other);
}

TEST_F(Lifecycle, LabelsSizeToTheirText) {
  auto label = pf::Label::make();
  label->setText("正在加载...");
  label->setFont(pf::Font::boldSystemFont(16));
  label->sizeToFit();
  EXPECT_EQ(label->bounds().size, pf::text::size("正在加载...", pf::Font::boldSystemFont(16)));
  auto many = pf::Label::make(Rect(0, 0, 60, 0));
  many->setNumberOfLines(0);
  many->setText("one two three four five six");
  auto fit = many->sizeThatFits({60, 1000});
  EXPECT_LE(fit.width, 60);
  EXPECT_GT(fit.height, 2 * label->bounds().height());
  many->setNumberOfLines(2);
  EXPECT_LT(many->sizeThatFits({60, 1000}).height, fit.height);
}

struct Tracked : pf::ViewController {
  std::vector<std::string>* log;
  std::string name;
  Tracked(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
  void viewDidLoad() override { log->push_back(name + ".load"); }
  void viewWillAppear(bool) override { log->push_back(name + ".willAppear"); }
  void viewDidDisappear(bool) override { log->push_back(name + ".didDisappear"); }
  void viewWillLayoutSubviews() override { log->push_back(name + ".layout"); }
};

TEST_F(Lifecycle, ControllersLoadLayOutAppearAndPresent) {
  std::vector<std::string> log;
  auto root = std::make_shared<Tracked>(&log, "root");
  auto window = pf::Window::make(Rect(0, 0, 320, 480));
  window->setRootViewController(root);
  window->makeKeyAndVisible();
  window->layoutIfNeeded();
  EXPECT_EQ(log, (std::vector<std::string>{"root.load", "root.layout"}));
  log.clear();
  auto modal = std::make_shared<Tracked>(&log, "modal");
  root->presentViewController(modal, true);
  EXPECT_EQ(root->presentedViewController(), modal);
  EXPECT_EQ(modal->view()->window(), window);
  modal->dismissViewController(true);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"modal.willAppear", "modal.load", "modal.didDisappear"}));
  EXPECT_EQ(root->interfaceOrientation(), pf::InterfaceOrientation::Portrait);
}

TEST_F(Lifecycle, TransitionsCompleteOnTheClock) {
  pf::VirtualTimeScope time;
  auto v = pf::View::make(Rect(0, 0, 10, 10));
  std::vector<bool> done;
  pf::View::transition(*v, 0.15, pf::kAnimationTransitionCrossDissolve, [&] { v->setAlpha(0.3); },
                       [&](bool f) { done.push_back(f); });
  EXPECT_DOUBLE_EQ(v->alpha(), 0.3);  // the change itself is immediate
  EXPECT_TRUE(v->layer().animationForKey("transition"));
  time.advance(0.1);
  EXPECT_TRUE(done.empty());
  time.advance(0.1);
  EXPECT_EQ(done, std::vector<bool>{true});
}

TEST_F(Lifecycle, StatusBarAndAssociatedObjects) {
  auto& app = pf::Application::shared();
  EXPECT_EQ(app.statusBarFrame().height(), 20);
  app.setStatusBarHeight(40);
  EXPECT_EQ(app.statusBarFrame().height(), 40);
  auto v = pf::View::make();
  auto first = std::make_shared<int>(1);
  EXPECT_EQ(v->setAssociatedObject("k", first), nullptr);
  EXPECT_EQ(v->setAssociatedObject("k", std::make_shared<int>(2)), first);
  EXPECT_EQ(*std::static_pointer_cast<int>(v->associatedObject("k")), 2);
  v->setAssociatedObject("k", nullptr);
  EXPECT_EQ(v->associatedObject("k"), nullptr);
}

}  // namespace
