#pragma once
// Shared by the page host tests: a page tree in a temporary folder, a web view on it and a
// delegate that records what it hears.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/web/WebView.h"
#include "support/TestSupport.h"

namespace webtest {

struct RecordingDelegate : pf::WebViewDelegate {
  bool webViewShouldStartLoad(pf::WebView&, const std::string& url) override {
    requests.push_back(url);
    return allowLoads;
  }
  void webViewDidFinishLoad(pf::WebView& v) override { finished.push_back(v.currentPath()); }
  void webViewDidFailLoad(pf::WebView&, const pf::Error& e) override { failures.push_back(e); }
  void webViewDidSetTitle(pf::WebView&, const std::string& t) override { titles.push_back(t); }
  void webViewDidRequestBack(pf::WebView&) override { ++backs; }
  // What an evaluation answers while the delegate hears of it (no page is loaded then).
  void webViewDidClosePage(pf::WebView& v) override { closed.push_back(v.evaluateScript("'still here'")); }

  bool allowLoads = true;
  std::vector<std::string> requests, finished, titles, closed;
  std::vector<pf::Error> failures;
  int backs = 0;
};

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = pf::WebView::make(pf::Rect(0, 0, 320, 480));
    view->setPageRoot(dir.path().string());
    view->setDelegate(delegate);
  }

  // Writes a file of the page tree.
  std::string write(const std::string& name, const std::string& contents) {
    auto path = dir / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
  }
  // Writes and loads a page whose body is `body` (scripts included).
  void load(const std::string& body, const std::string& name = "page.html") {
    view->loadFile(write(name, "<html><head><title>T</title></head><body>" + body + "</body></html>"));
  }
  std::string eval(const std::string& script) { return view->evaluateScript(script); }
  // Runs the main loop's pending passes.
  static void pump(int passes = 3) {
    for (int i = 0; i < passes; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
  }

  fxtest::TempDir dir;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<pf::WebView> view;
};

}  // namespace webtest
