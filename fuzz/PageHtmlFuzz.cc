// Pages on arbitrary bytes: the HTML reader, the least DOM, the selector reader, the block layout
// and drawing, and the web view running whatever scripts the bytes hold (with a short time budget
// and a small heap). Nothing may crash, hang or leave the tree unsound.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/ui/Image.h"
#include "platform/ui/Window.h"
#include "platform/web/Document.h"
#include "platform/web/PageLayout.h"
#include "platform/web/WebView.h"

namespace {

void checkTree(const pf::web::Document& doc, const pf::web::Node* n, int depth) {
  if (depth > 300) std::abort();
  for (const pf::web::Node* c : n->children) {
    if (c->parent != n || !n->isElement()) std::abort();
    checkTree(doc, c, depth + 1);
  }
}

// The page tree the web view reads, removed at exit.
struct TempFolder {
  TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz_page_html-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    path = tmpl;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

const std::filesystem::path& folder() {
  static const TempFolder dir;
  return dir.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view html(reinterpret_cast<const char*>(data), size);

  auto doc = pf::web::Document::parse(html);
  checkTree(*doc, doc->root(), 0);
  (void)doc->title();
  (void)doc->scripts();
  // The first line doubles as a selector.
  std::string_view selector = html.substr(0, std::min(html.find('\n'), std::size_t{200}));
  if (auto found = doc->query(doc->root(), selector, true))
    for (const pf::web::Node* n : *found)
      if (!n->isElement()) std::abort();
  // What the DOM writes back reads again.
  auto again = pf::web::Document::parse(doc->innerHtml(doc->body()));
  checkTree(*again, again->root(), 0);

  pf::web::PageLayout layout;
  layout.build(*doc, size % 2 ? 320 : 7);
  {
    pf::ImageContext ic(pf::Size(320, std::min(layout.height() + 1, 600.0)), false, 1);
    layout.paint(ic.context(), pf::Rect(0, 0, 320, 600));
  }
  for (double y = 0; y < std::min(layout.height(), 600.0); y += 37) (void)layout.elementAt({50, y});

  // The whole road: a page file loaded into a web view, scripts and load handlers run.
  static std::shared_ptr<pf::Window> window = [] {
    auto w = pf::Window::make(pf::Rect(0, 0, 320, 480));
    w->setHidden(false);
    return w;
  }();
  static std::shared_ptr<pf::WebView> view = [] {
    auto v = pf::WebView::make(pf::Rect(0, 0, 320, 480));
    v->setPageRoot(folder().string());
    v->setScriptLimits({0.05, 8u << 20});
    window->addSubview(v);
    return v;
  }();
  const auto file = folder() / "page.html";
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(html.data(), static_cast<std::streamsize>(html.size()));
  view->loadFile(file.string());
  (void)view->evaluateScript("document.body.innerHTML.length");
  if (!window->tapAt({40, 20})) std::abort();  // the page's content takes every tap
  (void)view->contentHeight();
  return 0;
}
