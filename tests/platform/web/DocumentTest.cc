#include <gtest/gtest.h>

#include "platform/web/Css.h"
#include "platform/web/Document.h"
#include "platform/web/PageLayout.h"

namespace {

using pf::web::Document;
using pf::web::wellFormedUtf8;

TEST(PageText, MalformedTextBecomesWellFormedUtf8) {
  EXPECT_EQ(wellFormedUtf8("plain 中文 \xF0\x9F\x98\x80"), "plain 中文 \xF0\x9F\x98\x80");
  // A surrogate pair in 3-byte forms joins into one character; halves alone and stray bytes do not.
  EXPECT_EQ(wellFormedUtf8("\xED\xA0\xBD\xED\xB8\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(wellFormedUtf8("a\xED\xA0\xBD" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(wellFormedUtf8("\xED\xB8\x80\xED\xA0\xBD"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(wellFormedUtf8("x\xFF\xC3"), "x\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(wellFormedUtf8("\xE4\xB8"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(PageText, CssColoursAndLengths) {
  using pf::Color;
  using pf::web::parseCssColor;
  using pf::web::parseCssLength;
  EXPECT_EQ(parseCssColor(" RED "), Color::red());
  EXPECT_TRUE(parseCssColor("#f80")->near(Color::rgb(1, 0x88 / 255.0, 0)));
  EXPECT_TRUE(parseCssColor("#FF8800")->near(Color::rgb(1, 0x88 / 255.0, 0)));
  EXPECT_TRUE(parseCssColor("#ff880080")->near(Color::rgb(1, 0x88 / 255.0, 0, 0x80 / 255.0)));
  EXPECT_TRUE(parseCssColor("rgb(255, 136, 0)")->near(Color::rgb(1, 0x88 / 255.0, 0)));
  EXPECT_TRUE(parseCssColor("rgba(0,0,255,0.5)")->near(Color::rgb(0, 0, 1, 0.5)));
  EXPECT_TRUE(parseCssColor("rgb(100%, 0%, 300)")->near(Color::rgb(1, 0, 1)));
  EXPECT_TRUE(parseCssColor("transparent")->isClear());
  for (const char* bad : {"", "#12", "#ggg", "rgb(1,2)", "rgb(a,b,c)", "reddish", "rgb(1,2,3"})
    EXPECT_FALSE(parseCssColor(bad)) << bad;

  EXPECT_EQ(parseCssLength("12px", 16), 12);
  EXPECT_EQ(parseCssLength("12", 16), 12);
  EXPECT_EQ(parseCssLength("1.5em", 16), 24);
  EXPECT_EQ(parseCssLength("9pt", 16), 12);
  EXPECT_EQ(parseCssLength("1e9px", 16), 1e5);
  for (const char* bad : {"", "px", "10%", "nan", "inf", "10vw"}) EXPECT_FALSE(parseCssLength(bad, 16)) << bad;
}

TEST(PageDocument, ReadsWhateverTheParserRecovers) {
  auto doc = Document::parse(R"(<!DOCTYPE html><html lang="zh"><head><title>A</title>
      <script type="module">no</script><script type="text/javascript">one</script></head>
      <body style="margin:0" class="dark"><p>first<p>second <b>bold</div><script src="x.js"></script></body></html>)");
  EXPECT_EQ(doc->title(), "A");
  EXPECT_EQ(doc->attribute(doc->root(), "LANG"), "zh");
  EXPECT_EQ(doc->attribute(doc->body(), "style"), "margin:0");
  EXPECT_EQ(doc->attribute(doc->body(), "class"), "dark");
  auto scripts = doc->scripts();
  ASSERT_EQ(scripts.size(), 2u);
  EXPECT_EQ(scripts[0].text, "one");
  EXPECT_EQ(scripts[1].src, "x.js");
  EXPECT_EQ(doc->query(doc->body(), "p", true)->size(), 2u);
  EXPECT_EQ(doc->textContent(doc->query(doc->body(), "p b", false)->front()), "bold");

  // A fragment without html or body lands in the body; nothing at all is the empty document.
  auto bare = Document::parse("just <i>text</i>");
  EXPECT_EQ(bare->textContent(bare->body()), "just text");
  auto empty = Document::parse("");
  EXPECT_EQ(empty->body()->children.size(), 0u);
  EXPECT_EQ(empty->title(), "");
  empty->setTitle("Made");
  EXPECT_EQ(empty->title(), "Made");
  EXPECT_EQ(empty->innerHtml(empty->head()), "<title>Made</title>");
}

TEST(PageDocument, ChangesCountAndLimitsHold) {
  Document doc;
  const auto before = doc.version();
  pf::web::Node* div = doc.createElement("div");
  doc.insertChild(doc.body(), div);
  EXPECT_GT(doc.version(), before);
  const auto afterInsert = doc.version();
  doc.setStyleValue(div, "color", " red ");
  EXPECT_EQ(doc.attribute(div, "style"), "color: red;");
  EXPECT_GT(doc.version(), afterInsert);
  // Nodes are never put inside themselves or under text, and ids stay valid after removal.
  pf::web::Node* text = doc.createText("t");
  EXPECT_FALSE(doc.insertChild(div, div));
  EXPECT_FALSE(doc.insertChild(text, doc.createElement("b")));
  EXPECT_FALSE(doc.insertChild(div, doc.body()));
  doc.insertChild(div, text);
  EXPECT_TRUE(doc.removeChild(div, text));
  EXPECT_FALSE(doc.removeChild(div, text));
  EXPECT_EQ(doc.node(text->id), text);
  EXPECT_EQ(doc.node(-1), nullptr);
  EXPECT_EQ(doc.node(1 << 30), nullptr);
  // The node table is bounded.
  while (doc.createText("x")) {
  }
  EXPECT_EQ(doc.nodeCount(), Document::kMaxNodes);
  EXPECT_EQ(doc.createElement("p"), nullptr);
}

TEST(PageLayout, ParagraphsWrapAtTheWidthAndFindTheirInlineElements) {
  auto doc = Document::parse("<p id='p'>Some words <span id='s'>inside</span> and more words after them</p>");
  pf::web::PageLayout wide, narrow;
  wide.build(*doc, 1000);
  narrow.build(*doc, 120);
  EXPECT_GT(narrow.height(), wide.height() + 20);
  const pf::web::Node* p = doc->elementById("p");
  const pf::Rect frame = wide.frameOf(p);
  EXPECT_EQ(frame.origin, (pf::Point{8, 24}));  // body margin 8, paragraph margin 16
  EXPECT_EQ(frame.width(), 984);
  EXPECT_EQ(wide.elementAt({12, 30}), p);
  EXPECT_EQ(wide.elementAt({990, 30}), p);     // beyond the text, still the paragraph
  EXPECT_EQ(wide.elementAt({4, 30}), doc->body()->parent);  // the margin belongs to html
  EXPECT_EQ(wide.elementAt({12, 1000}), nullptr);
  bool found = false;
  for (double x = 8; x < 400 && !found; x += 2) found = wide.elementAt({x, 30}) == doc->elementById("s");
  EXPECT_TRUE(found);
}

}  // namespace
