// Plug-ins on their hot paths, each against a baseline in the same run:
// - pushed 1 KiB texts into one page subscribed through "webnet.do" (hub, plug-in, JSON text,
//   "MOWebData(...)" in the page) against a bare hub listener that hands the same text to the same
//   page function, written by the same JSON writer (changeToString), so the ratio is the plug-in's;
// - "screenShot" of a 375 x 667 page at scale 2 (render, PNG, temporary file and rename) against
//   a bare cairo surface of that size written as PNG.
// The ratios of each pair's rates print after the rows.
#include <cairo.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Ratios.h"
#include "app/FileController.h"
#include "app/TnqStringExtension.h"
#include "app/PylPluginHandle.h"
#include "app/PylScreenPlugin.h"
#include "appnet/TnqPushWebsocket.h"
#include "container/LoggerUtil.h"
#include "container/MwJSWebview.h"
#include "container/MwServletManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/Screen.h"

namespace {

const std::filesystem::path& benchDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / "bench_plugins";
    std::filesystem::create_directories(d);
    std::ofstream(d / "push.html", std::ios::binary | std::ios::trunc)
        << "<html><head><title>Push</title><script>var got = 0, size = 0;"
           "function MOWebData(m) { got++; size = m.wdata.length; }</script></head>"
           "<body><p>Quotes</p></body></html>";
    return d;
  }();
  return dir;
}

std::shared_ptr<container::MwJSWebview> openPage(const std::string& file) {
  auto page = container::MwJSWebview::make(pf::Rect(0, 0, 375, 667));
  page->webView()->setPageRoot(benchDir().string());
  page->webView()->loadFile((benchDir() / file).string());
  return page;
}

void pump() {
  for (int i = 0; i < 6; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
}

std::string quoteText() {
  std::string text = R"({"pair":"USDJPY","bid":"151.234","ask":"151.256","memo":")";
  text.append(1024 - text.size() - 2, 'q');
  return text + "\"}";
}

// What a listener written by hand does: the same page function, the same JSON writer.
struct BareListener : appnet::WebnetLibDelegate {
  std::shared_ptr<container::MwJSWebview> page;
  void receiveMessage(const std::string& text) override {
    page->doJs("MOWebData(" + *app::TnqExtension::changeToString(pf::Value{{"moduleId", "bare"}, {"wdata", text}}) +
               ");");
  }
};

void checkDelivered(benchmark::State& state, container::MwJSWebview& page) {
  if (page.stringByEvaluatingJavaScriptFromString("String(size)") != "1024" ||
      std::stoll(page.stringByEvaluatingJavaScriptFromString("String(got)")) < state.iterations())
    state.SkipWithError("the page did not receive every text");
  state.SetItemsProcessed(state.iterations());
}

void BM_PushIntoSubscribedPage(benchmark::State& state) {
  container::LoggerUtil::setDebugEnabled(false);
  appnet::TnqPushWebsocket::resetSharedInstance();
  container::MwServletManager::resetForTesting();
  app::PylPluginHandle handle;
  handle.setPluginArray(app::PylPluginHandle::builtInPluginArray());
  handle.registerPlugin();
  auto page = openPage("push.html");
  page->doJs("MwUI.Bridge.call('webnet.do', 'registerSelf', {}, {}, function () {})");
  pump();
  auto hub = appnet::TnqPushWebsocket::sharedInstance();
  if (hub->servletArray().size() != 1) state.SkipWithError("no subscription");
  const std::string text = quoteText();
  for (auto _ : state) hub->dispatchMessage(text);
  checkDelivered(state, *page);
  appnet::TnqPushWebsocket::resetSharedInstance();
}

void BM_PushBareListener(benchmark::State& state) {
  appnet::TnqPushWebsocket::resetSharedInstance();
  auto listener = std::make_shared<BareListener>();
  listener->page = openPage("push.html");
  auto hub = appnet::TnqPushWebsocket::sharedInstance();
  hub->addListener(listener);
  const std::string text = quoteText();
  for (auto _ : state) hub->dispatchMessage(text);
  checkDelivered(state, *listener->page);
  appnet::TnqPushWebsocket::resetSharedInstance();
}

void BM_ScreenShotPlugin(benchmark::State& state) {
  pf::Sandbox::setHome((benchDir() / "home").string());
  app::FileController::resetForTesting();
  pf::Screen::main()->reset();  // 375 x 667 points at scale 2
  auto page = openPage("push.html");
  auto plugin = std::make_shared<app::ScreenPlugin>();
  plugin->awareAboutJSWebView(page);
  for (auto _ : state)
    if (!plugin->screenShot()) state.SkipWithError("no picture");
  state.SetItemsProcessed(state.iterations());
  pf::Sandbox::setHome({});
}

void BM_ScreenShotBareCairo(benchmark::State& state) {
  const std::string path = (benchDir() / "bare.png").string();
  for (auto _ : state) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 1334);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) state.SkipWithError("write");
    cairo_surface_destroy(surface);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_PushBareListener)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PushIntoSubscribedPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScreenShotBareCairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScreenShotPlugin)->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("push into a subscribed page / bare hub listener", fxbench::rate("BM_PushIntoSubscribedPage"),
               fxbench::rate("BM_PushBareListener"), fxbench::atLeast(0.5));
FX_BENCH_RATIO("screenShot plug-in / bare cairo PNG", fxbench::rate("BM_ScreenShotPlugin"),
               fxbench::rate("BM_ScreenShotBareCairo"), fxbench::atLeast(0.7));

FX_BENCH_MAIN();
