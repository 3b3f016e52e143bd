#include "platform/web/PageLayout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/ui/GraphicsContext.h"
#include "platform/web/Css.h"
#include "platform/web/Document.h"

namespace pf::web {

namespace {

constexpr double kDefaultFontSize = 16;

struct Edges {
  double top = 0, right = 0, bottom = 0, left = 0;
};

enum class Display { None, Block, Inline };

struct Style {
  Display display = Display::Inline;
  Font font = Font::systemFont(kDefaultFontSize);
  Color color = Color::black();
  OptColor background;
  Edges margin, padding;
  TextAlignment align = TextAlignment::Left;
  bool shrink = false;  // a block as wide as its content (buttons)
};

bool isOneOf(const std::string& tag, std::initializer_list<const char*> tags) {
  return std::any_of(tags.begin(), tags.end(), [&](const char* t) { return tag == t; });
}

std::optional<Edges> parseEdges(std::string_view text, double em) {
  auto parts = splitWords(text);
  if (parts.empty() || parts.size() > 4) return std::nullopt;
  std::array<double, 4> v{};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    auto len = parts[i] == "auto" ? std::optional<double>(0) : parseCssLength(parts[i], em);
    if (!len) return std::nullopt;
    v[i] = *len;
  }
  switch (parts.size()) {
    case 1: return Edges{v[0], v[0], v[0], v[0]};
    case 2: return Edges{v[0], v[1], v[0], v[1]};
    case 3: return Edges{v[0], v[1], v[2], v[1]};
    default: return Edges{v[0], v[1], v[2], v[3]};
  }
}

void applyEdges(Edges& edges, const std::map<std::string, std::string>& style, const std::string& name, double em) {
  if (auto it = style.find(name); it != style.end())
    if (auto e = parseEdges(it->second, em)) edges = *e;
  static const char* const kSides[] = {"-top", "-right", "-bottom", "-left"};
  double* fields[] = {&edges.top, &edges.right, &edges.bottom, &edges.left};
  for (int i = 0; i < 4; ++i) {
    auto it = style.find(name + kSides[i]);
    if (it == style.end()) continue;
    auto len = it->second == "auto" ? std::optional<double>(0) : parseCssLength(it->second, em);
    if (len) *fields[i] = *len;
  }
}

// Tag defaults, then the inline style, over what the parent passes down.
Style computeStyle(const Node& n, const Style& parent) {
  Style s;
  s.font = parent.font;
  s.color = parent.color;
  s.align = parent.align;
  const std::string& tag = n.tag;
  const double em = parent.font.pointSize;
  if (isOneOf(tag, {"head", "script", "style", "title", "meta", "link", "template", "noscript", "base"})) {
    s.display = Display::None;
    return s;
  }
  if (isOneOf(tag, {"html", "body", "div", "p", "ul", "ol", "li", "section", "header", "footer", "nav", "article",
                    "aside", "main", "form", "table", "thead", "tbody", "tfoot", "tr", "td", "th", "pre",
                    "blockquote", "hr", "dl", "dt", "dd", "fieldset", "figure", "center", "address", "h1", "h2",
                    "h3", "h4", "h5", "h6", "button"}))
    s.display = Display::Block;
  static const std::pair<const char*, std::pair<double, double>> kHeadings[] = {
      {"h1", {2.0, 0.67}}, {"h2", {1.5, 0.83}}, {"h3", {1.17, 1.0}},
      {"h4", {1.0, 1.33}}, {"h5", {0.83, 1.67}}, {"h6", {0.67, 2.33}}};
  for (const auto& [h, f] : kHeadings) {
    if (tag != h) continue;
    s.font.pointSize = em * f.first;
    s.font.weight = Font::Weight::Bold;
    s.margin.top = s.margin.bottom = s.font.pointSize * f.second;
  }
  if (tag == "body") s.margin = {8, 8, 8, 8};
  if (tag == "p" || tag == "blockquote" || tag == "ul" || tag == "ol" || tag == "dl")
    s.margin.top = s.margin.bottom = em;
  if (tag == "ul" || tag == "ol") s.padding.left = 40;
  if (tag == "blockquote") s.margin.left = s.margin.right = 40;
  if (tag == "b" || tag == "strong" || tag == "th") s.font.weight = Font::Weight::Bold;
  if (tag == "a") s.color = Color::rgb(0, 0, 0.93);
  if (tag == "small") s.font.pointSize = em * 0.83;
  if (tag == "button") {
    s.shrink = true;
    s.background = Color::white(0.9);
    s.padding = {6, 12, 6, 12};
    s.margin = {4, 0, 4, 0};
    s.align = TextAlignment::Center;
  }
  if (tag == "hr") {
    s.background = Color::white(0.75);
    s.padding.top = 1;
    s.margin.top = s.margin.bottom = 8;
  }

  const auto& st = n.style;
  if (auto it = st.find("font-size"); it != st.end()) {
    std::string v = lowerAscii(it->second);
    static const std::pair<const char*, double> kSizes[] = {{"xx-small", 9},  {"x-small", 10}, {"small", 13},
                                                            {"medium", 16},  {"large", 18},   {"x-large", 24},
                                                            {"xx-large", 32}};
    bool named = false;
    for (const auto& [k, size] : kSizes)
      if (v == k) s.font.pointSize = size, named = true;
    if (!named)
      if (auto len = parseCssLength(v, em); len && *len > 0) s.font.pointSize = std::min(*len, 500.0);
  }
  const double ownEm = s.font.pointSize;
  if (auto it = st.find("font-weight"); it != st.end()) {
    std::string v = lowerAscii(it->second);
    int number = std::atoi(v.c_str());
    if (v == "bold" || v == "bolder" || number >= 600) s.font.weight = Font::Weight::Bold;
    else if (v == "lighter" || (number > 0 && number <= 300)) s.font.weight = Font::Weight::Light;
    else if (v == "normal" || number > 0) s.font.weight = Font::Weight::Regular;
  }
  if (auto it = st.find("color"); it != st.end())
    if (auto c = parseCssColor(it->second)) s.color = *c;
  for (const char* key : {"background", "background-color"})
    if (auto it = st.find(key); it != st.end())
      if (auto c = parseCssColor(it->second)) s.background = c->isClear() ? OptColor() : c;
  applyEdges(s.margin, st, "margin", ownEm);
  applyEdges(s.padding, st, "padding", ownEm);
  if (auto it = st.find("text-align"); it != st.end()) {
    std::string v = lowerAscii(it->second);
    if (v == "center") s.align = TextAlignment::Center;
    else if (v == "right") s.align = TextAlignment::Right;
    else if (v == "left") s.align = TextAlignment::Left;
  }
  if (auto it = st.find("display"); it != st.end()) {
    std::string v = lowerAscii(it->second);
    if (v == "none") s.display = Display::None;
    else if (v == "inline") s.display = Display::Inline;
    else if (v == "block" || v == "flex" || v == "list-item" || v == "table" || v == "inline-block")
      s.display = Display::Block;
  }
  return s;
}

struct InlineRange {
  std::size_t start, end;
  const Node* node;
};

}  // namespace

struct PageLayout::Box {
  Rect frame;
  const Node* node = nullptr;
  OptColor background;
  std::shared_ptr<text::Paragraph> paragraph;
  Color color;
  std::vector<InlineRange> ranges;
};

namespace {

class Builder {
 public:
  explicit Builder(std::vector<PageLayout::Box>& boxes) : boxes_(boxes) {}

  // Lays out element n (a block) with its margin box's top-left at (x, y) and `width` across;
  // returns the margin box's height.
  double block(const Node& n, const Style& s, double x, double y, double width) {
    const double left = x + s.margin.left;
    const double top = y + s.margin.top;
    const double outer = std::max(0.0, width - s.margin.left - s.margin.right);
    const double inner = std::max(1.0, outer - s.padding.left - s.padding.right);
    const std::size_t me = boxes_.size();
    boxes_.push_back({Rect(left, top, outer, 0), &n, s.background, nullptr, s.color, {}});
    double cy = top + s.padding.top;
    double widest = 0;
    std::vector<const Node*> run;
    auto flush = [&] {
      if (run.empty()) return;
      widest = std::max(widest, paragraph(run, n, s, left + s.padding.left, cy, inner, cy));
      run.clear();
    };
    for (const Node* c : n.children) {
      if (!c->isElement()) {
        run.push_back(c);
        continue;
      }
      Style cs = computeStyle(*c, s);
      if (cs.display == Display::None) continue;
      if (cs.display == Display::Inline) {
        run.push_back(c);
        continue;
      }
      flush();
      const std::size_t child = boxes_.size();
      cy += block(*c, cs, left + s.padding.left, cy, inner);
      if (child < boxes_.size()) widest = std::max(widest, boxes_[child].frame.width() + cs.margin.left + cs.margin.right);
    }
    flush();
    double height = cy + s.padding.bottom - top;
    Box& box = boxes_[me];
    box.frame.size.height = height;
    if (s.shrink) box.frame.size.width = std::min(outer, widest + s.padding.left + s.padding.right);
    return s.margin.top + height + s.margin.bottom;
  }

 private:
  using Box = PageLayout::Box;

  // The inline content in `run` as one paragraph at (x, y); advances y; returns its width.
  double paragraph(const std::vector<const Node*>& run, const Node& owner, const Style& s, double x, double y,
                   double width, double& cy) {
    text_.clear();
    runs_.clear();
    ranges_.clear();
    lastSpace_ = true;
    for (const Node* n : run) inlineNode(*n, s);
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
    if (text_.empty()) return 0;
    for (auto& r : runs_) r.end = std::min(r.end, text_.size());
    for (auto& r : ranges_) r.end = std::min(r.end, text_.size());
    // Shrunk boxes centre within their own width later; the paragraph aligns within this width.
    auto p = std::make_shared<text::Paragraph>(text_, s.font, width, runs_, s.shrink ? TextAlignment::Left : s.align);
    Size size = p->size();
    Box box;
    box.frame = Rect(x, y, s.shrink ? size.width : width, size.height);
    box.node = &owner;
    box.paragraph = std::move(p);
    box.color = s.color;
    box.ranges = ranges_;
    boxes_.push_back(std::move(box));
    cy = y + size.height;
    return size.width;
  }

  void inlineNode(const Node& n, const Style& s) {
    if (!n.isElement()) {
      const std::size_t start = text_.size();
      for (char c : n.text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
          if (!lastSpace_) text_ += ' ';
          lastSpace_ = true;
        } else {
          text_ += c;
          lastSpace_ = false;
        }
      }
      if (text_.size() > start) runs_.push_back({start, text_.size(), s.font, s.color});
      return;
    }
    if (n.tag == "br") {
      while (!text_.empty() && text_.back() == ' ') text_.pop_back();
      text_ += '\n';
      lastSpace_ = true;
      return;
    }
    Style cs = computeStyle(n, s);
    if (cs.display == Display::None) return;
    const std::size_t start = text_.size();
    const std::size_t at = ranges_.size();
    ranges_.push_back({start, start, &n});
    for (const Node* c : n.children) inlineNode(*c, cs);
    ranges_[at].end = text_.size();
  }

  std::vector<Box>& boxes_;
  std::string text_;
  std::vector<text::TextRun> runs_;
  std::vector<InlineRange> ranges_;
  bool lastSpace_ = true;
};

}  // namespace

PageLayout::PageLayout() = default;
PageLayout::~PageLayout() = default;
PageLayout::PageLayout(PageLayout&&) noexcept = default;
PageLayout& PageLayout::operator=(PageLayout&&) noexcept = default;

void PageLayout::build(const Document& doc, double width) {
  boxes_.clear();
  Style base;
  base.display = Display::Block;
  Builder builder(boxes_);
  height_ = builder.block(*doc.root(), computeStyle(*doc.root(), base), 0, 0, std::max(0.0, width));
  // The page's background (the root's, else the body's) covers the whole canvas, margins included.
  canvas_.reset();
  for (Box& b : boxes_) {
    if (b.node != doc.root() && b.node != doc.body()) continue;
    if (b.paragraph || !b.background) continue;
    canvas_ = b.background;
    b.background.reset();
    break;
  }
}

void PageLayout::paint(GraphicsContext& ctx, const Rect& dirty) const {
  if (canvas_ && !dirty.isNull()) {
    ctx.setFillColor(*canvas_);
    ctx.fillRect(dirty);
  }
  for (const Box& b : boxes_) {
    if (b.frame.maxY() < dirty.y() || b.frame.y() > dirty.maxY()) continue;
    if (b.background) {
      ctx.setFillColor(*b.background);
      ctx.fillRect(b.frame);
    }
    if (b.paragraph) b.paragraph->draw(ctx, b.frame.origin, b.color);
  }
}

const Node* PageLayout::elementAt(Point p) const {
  for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) {
    const Box& b = *it;
    if (!b.frame.contains(p)) continue;
    if (b.paragraph) {
      auto index = b.paragraph->indexAt(Point{p.x - b.frame.x(), p.y - b.frame.y()});
      const Node* best = nullptr;
      std::size_t bestLength = SIZE_MAX;
      if (index)
        for (const InlineRange& r : b.ranges)
          if (*index >= r.start && *index < r.end && r.end - r.start <= bestLength) {
            best = r.node;
            bestLength = r.end - r.start;
          }
      if (best) return best;
    }
    return b.node;
  }
  return nullptr;
}

Rect PageLayout::frameOf(const Node* node) const {
  for (const Box& b : boxes_)
    if (b.node == node && !b.paragraph) return b.frame;
  for (const Box& b : boxes_)
    for (const InlineRange& r : b.ranges)
      if (r.node == node) return b.frame;
  return Rect();
}

}  // namespace pf::web
