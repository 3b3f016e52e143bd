#include "PageFixture.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace webtest {
namespace {

using pf::Color;
using pf::Rect;

// Pixels in the rectangle (points) whose colour is near `c`.
int count(const pf::Image& img, const Rect& r, const Color& c, double tolerance = 0.1) {
  int n = 0;
  for (double y = r.y(); y < r.maxY(); y += 1)
    for (double x = r.x(); x < r.maxX(); x += 1) n += img.colorAt({x, y}).near(c, tolerance) ? 1 : 0;
  return n;
}
int dark(const pf::Image& img, const Rect& r) {
  int n = 0;
  for (double y = r.y(); y < r.maxY(); y += 1)
    for (double x = r.x(); x < r.maxX(); x += 1) {
      Color c = img.colorAt({x, y});
      n += (c.a > 0.5 && c.r + c.g + c.b < 1.2) ? 1 : 0;
    }
  return n;
}

class PageRender : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    pf::Screen::main()->setBounds(Rect(0, 0, 320, 480));
    window = pf::Window::make(Rect(0, 0, 320, 480));
    window->addSubview(view);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window.reset();
    pf::Application::shared().reset();
    pf::Screen::main()->reset();
  }
  std::shared_ptr<pf::Window> window;
};

TEST_F(PageRender, BlocksStackWithTheirMarginsColoursAndText) {
  load(R"(<div style="background-color: #ff0000; padding: 20px"></div>
          <div id="g" style="background: rgb(0, 128, 0); margin: 10px 30px; padding: 5px; color: white">
            Hello <b>bold</b> world</div>
          <p style="display: none; background: blue; padding: 50px">hidden</p>
          <h1 style="color: #00f">Heading</h1>)");
  auto img = pf::render::view(*view, 1);
  // Body margin 8: the red block spans 8..312 across and 8..48 down.
  EXPECT_TRUE(img->colorAt({10, 10}).near(Color::red(), 0.02));
  EXPECT_TRUE(img->colorAt({310, 46}).near(Color::red(), 0.02));
  EXPECT_TRUE(img->colorAt({4, 20}).near(Color::whiteColor(), 0.02));
  EXPECT_TRUE(img->colorAt({100, 50}).near(Color::whiteColor(), 0.02));
  // The green block: margins 10 and 30, so from x 38 and y 58, with white text inside.
  Color green = Color::rgb(0, 128 / 255.0, 0);
  EXPECT_TRUE(img->colorAt({39, 59}).near(green, 0.02));
  EXPECT_TRUE(img->colorAt({36, 59}).near(Color::whiteColor(), 0.02));
  EXPECT_GT(count(*img, Rect(40, 62, 200, 20), Color::whiteColor(), 0.3), 20);
  // Nothing blue where the hidden paragraph would be; the heading's text is blue.
  EXPECT_GT(count(*img, Rect(8, 90, 300, 60), Color::blue(), 0.3), 20);
  EXPECT_EQ(count(*img, Rect(8, 90, 300, 60), Color::blue(), 0.02) < 2000, true);
}

TEST_F(PageRender, ATapOnAButtonRunsItsListenerAndThePageShowsTheAnswer) {
  load(R"(<button id="go" style="padding: 10px 40px">Ask</button>
          <p id="out" style="font-size: 24px"></p>
          <script>
            var clicks = [];
            document.getElementById('go').addEventListener('click', function (e) {
              clicks.push(e.target.id + '/' + e.currentTarget.id);
              document.getElementById('out').textContent = 'ANSWER 42';
            });
            document.body.onclick = function () { clicks.push('body'); };
          </script>)");
  Rect out(8, 60, 300, 40);
  auto before = pf::render::view(*view, 1);
  EXPECT_EQ(dark(*before, out), 0);

  // The button (grey, only as wide as its text) takes the tap; the event bubbles to the body.
  EXPECT_TRUE(before->colorAt({12, 16}).near(Color::white(0.9), 0.02));
  EXPECT_TRUE(before->colorAt({250, 16}).near(Color::whiteColor(), 0.02));
  window->tapAt({20, 20});
  EXPECT_EQ(view->evaluateScript("clicks.join()"), "go/go,body");
  auto after = pf::render::view(*view, 1);
  EXPECT_GT(dark(*after, out), 30);

  // A tap beside the button reaches the body only.
  window->tapAt({250, 20});
  EXPECT_EQ(view->evaluateScript("clicks.join()"), "go/go,body,body");
}

TEST_F(PageRender, InlineElementsTakeTheirOwnTapsAndLinksNavigate) {
  load(R"(<p style="font-size: 20px">Plain text <span id="s" style="color: red">RED</span></p>
          <p><a href="next.html" id="a">a link</a> <a href="#top" id="frag">top</a></p>
          <script>
            var hits = [];
            document.getElementById('s').onclick = function () { hits.push('span'); };
            document.querySelector('p').onclick = function (e) { hits.push('p:' + e.target.tagName); };
          </script>)");
  write("next.html", "<p>next</p>");
  auto img = pf::render::view(*view, 1);
  // Find the red text and tap it.
  double redX = -1;
  for (double x = 8; x < 312 && redX < 0; x += 1)
    for (double y = 24; y < 50; y += 1)
      if (img->colorAt({x, y}).near(Color::red(), 0.25)) {
        redX = x;
        break;
      }
  ASSERT_GT(redX, 0);
  window->tapAt({redX + 2, 36});
  window->tapAt({12, 36});
  EXPECT_EQ(view->evaluateScript("hits.join()"), "span,p:SPAN,p:P");

  // The link's own line (margins do not collapse: it starts at 82): a page link navigates.
  window->tapAt({12, 90});
  pump();
  EXPECT_EQ(delegate->requests, std::vector<std::string>{"next.html"});
  EXPECT_EQ(view->currentPath(), (dir / "next.html").string());
}

TEST_F(PageRender, NativeViewsInTheScrollViewScrollWithThePage) {
  std::string body;
  for (int i = 0; i < 40; ++i) body += "<p>Line " + std::to_string(i) + " of the board</p>";
  body += "<div style='background: #0000ff; padding: 30px'></div>";
  load(body);
  const double height = view->contentHeight();
  EXPECT_GT(height, 1000);
  EXPECT_EQ(view->scrollView()->contentSize().height, height);

  auto native = pf::View::make(Rect(20, 100, 100, 50));
  native->setBackgroundColor(Color::green());
  view->scrollView()->insertSubview(native, 1);
  auto top = pf::render::view(*view, 1);
  EXPECT_TRUE(top->colorAt({50, 120}).near(Color::green(), 0.02));

  // Scrolled to the end: the native view has gone up with the text, the blue block is in sight.
  view->scrollView()->setContentOffset({0, height - 480});
  auto end = pf::render::view(*view, 1);
  EXPECT_FALSE(end->colorAt({50, 120}).near(Color::green(), 0.02));
  EXPECT_GT(count(*end, Rect(8, 380, 300, 92), Color::blue(), 0.02), 1000);
  view->scrollView()->setContentOffset({0, 60});
  auto some = pf::render::view(*view, 2);
  EXPECT_TRUE(some->colorAt({50, 45}).near(Color::green(), 0.02));
  EXPECT_FALSE(some->colorAt({50, 35}).near(Color::green(), 0.02));

  // A page that gets shorter keeps its end in sight.
  view->scrollView()->setContentOffset({0, height - 480});
  view->evaluateScript("var ps = document.querySelectorAll('p'); for (var i = 0; i < 30; i++) document.body.removeChild(ps[i]);");
  EXPECT_LT(view->contentHeight(), height - 500);
  EXPECT_EQ(view->scrollView()->contentOffset().y, view->contentHeight() - 480);
  view->scrollView()->setContentOffset({0, 60});

  // A tap on the native view stays there; the page behind it hears nothing.
  view->evaluateScript("var tapped = 0; document.body.onclick = function () { tapped++; };");
  window->tapAt({50, 60});
  window->tapAt({250, 60});
  EXPECT_EQ(view->evaluateScript("tapped"), "1");
}

TEST_F(PageRender, AnElementsFrameIsWhereATapReachesIt) {
  std::string body = "<p>first</p><div id='box' style='background: #ff0000; padding: 12px 20px; margin: 0 40px'>"
                     "<span id='word'>inside</span></div><p id='gone' style='display: none'>x</p>";
  for (int i = 0; i < 30; ++i) body += "<p>Line " + std::to_string(i) + "</p>";
  body += "<div id='far' style='padding: 10px'>far</div>"
          "<script>var hits = []; document.body.onclick = function (e) { hits.push(e.target.id); };</script>";
  load(body);
  auto frame = view->elementFrame("box");
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->x(), 48);  // body margin 8 + 40
  EXPECT_EQ(frame->width(), 320 - 16 - 80);
  auto img = pf::render::view(*view, 1);
  EXPECT_TRUE(img->colorAt({frame->x() + 1, frame->y() + 1}).near(Color::red(), 0.02));
  EXPECT_FALSE(img->colorAt({frame->x() - 1, frame->y() - 1}).near(Color::red(), 0.02));
  window->tapAt({frame->x() + 4, frame->midY()});
  // An inline element answers the paragraph it lies in.
  auto word = view->elementFrame("word");
  ASSERT_TRUE(word);
  EXPECT_TRUE(frame->contains(word->center()));

  // Below the screen, then scrolled into sight: the frame follows the page.
  auto far = view->elementFrame("far");
  ASSERT_TRUE(far);
  EXPECT_GT(far->y(), 480);
  view->scrollView()->setContentOffset({0, far->y() - 100});
  auto scrolled = view->elementFrame("far");
  ASSERT_TRUE(scrolled);
  EXPECT_EQ(scrolled->y(), 100);
  window->tapAt(scrolled->center());
  EXPECT_EQ(view->evaluateScript("hits.join()"), "box,far");

  EXPECT_FALSE(view->elementFrame("gone")) << "an element that is not drawn has no frame";
  EXPECT_FALSE(view->elementFrame("nobody"));
  EXPECT_FALSE(view->elementFrame(""));
  view->evaluateScript("document.getElementById('box').style.display = 'none'");
  EXPECT_FALSE(view->elementFrame("box")) << "the layout is brought up to date first";
}

TEST_F(PageRender, TheBodysBackgroundCoversTheWholePage) {
  load("<p>short</p>");
  view->evaluateScript("document.body.style.backgroundColor = '#00ff00'");
  auto img = pf::render::view(*view, 1);
  // Margins and the space below the content included, as the page's own background.
  EXPECT_TRUE(img->colorAt({2, 2}).near(Color::green(), 0.02));
  EXPECT_TRUE(img->colorAt({300, 470}).near(Color::green(), 0.02));
  view->evaluateScript("document.documentElement.style.background = 'blue'");
  img = pf::render::view(*view, 1);
  EXPECT_TRUE(img->colorAt({2, 2}).near(Color::blue(), 0.02));
  EXPECT_TRUE(img->colorAt({20, 12}).near(Color::green(), 0.02));
}

TEST_F(PageRender, ScriptChangesRelayoutOnceAndFollowTheWidth) {
  load("<div id='box' style='padding: 10px'>text</div>");
  const double h1 = view->contentHeight();
  view->evaluateScript("var b = document.getElementById('box'); b.style.padding = '50px';"
                       "b.style.backgroundColor = 'yellow';");
  EXPECT_NEAR(view->contentHeight(), h1 + 80, 0.01);
  auto img = pf::render::view(*view, 1);
  EXPECT_TRUE(img->colorAt({100, 20}).near(Color::yellow(), 0.02));

  std::string words;
  for (int i = 0; i < 60; ++i) words += "word ";
  view->evaluateScript("b.style.padding = '0'; b.textContent = '" + words + "'");
  const double wide = view->contentHeight();
  view->setFrame(Rect(0, 0, 160, 480));
  window->layoutIfNeeded();
  EXPECT_GT(view->contentHeight(), wide * 1.5);
  EXPECT_EQ(view->scrollView()->contentSize().width, 160);
}

}  // namespace
}  // namespace webtest
