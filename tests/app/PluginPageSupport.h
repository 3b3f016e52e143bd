#pragma once
// Shared by the plug-in tests: a page that calls plug-ins by servlet name through the built-in
// plug-in table, and a direct call of a plug-in with a task whose answers are recorded.

#include <memory>
#include <string>
#include <vector>

#include "app/PylPluginHandle.h"
#include "container/MwJSWebview.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "container/PageTaskRecorder.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "support/TestSupport.h"

namespace plugintest {

inline void pump(int turns = 6) {
  for (int i = 0; i < turns; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
}

// Registers the built-in table (every plug-in class the app has).
inline void registerBuiltInPlugins() {
  container::MwServletManager::resetForTesting();
  app::PylPluginHandle handle;
  handle.setPluginArray(app::PylPluginHandle::builtInPluginArray());
  handle.registerPlugin();
}

// A page of tests/data/app/pages with `call(servlet, action, data, options)`, `answers` and
// `pushed` (what "MOWebData" received).
class PluginPage {
 public:
  explicit PluginPage(const pf::Rect& frame = pf::Rect(0, 0, 375, 667)) {
    page = container::MwJSWebview::make(frame);
    const auto pages = fxtest::dataPath("app/pages");
    page->webView()->setPageRoot(pages.string());
    page->webView()->loadFile((pages / "plugins.html").string());
  }
  std::string eval(const std::string& script) { return page->stringByEvaluatingJavaScriptFromString(script); }
  std::size_t answerCount() { return std::stoul("0" + eval("answers.length")); }
  // Calls the servlet from the page (args is a script expression); answers the answers it got.
  std::vector<pf::Value> call(const std::string& servlet, const std::string& action, const std::string& args,
                              const std::string& options = "{}") {
    const std::size_t before = answerCount();
    eval("call('" + servlet + "', '" + action + "', " + args + ", " + options + ")");
    pump();
    return answersFrom(before);
  }
  std::vector<pf::Value> answersFrom(std::size_t first) {
    std::vector<pf::Value> out;
    const std::size_t n = answerCount();
    for (std::size_t i = first; i < n; ++i)
      out.push_back(pf::parseJson(eval("JSON.stringify(answers[" + std::to_string(i) + "])")).value_or(nullptr));
    return out;
  }
  std::vector<pf::Value> pushed() {
    return pf::parseJson(eval("JSON.stringify(pushed)")).value_or(pf::Value::array()).get<std::vector<pf::Value>>();
  }

  std::shared_ptr<container::MwJSWebview> page;
};

// A plug-in called directly: its request and a task answering into a recorder.
struct DirectCall {
  std::shared_ptr<container::testing::PageTaskRecorder> recorder =
      std::make_shared<container::testing::PageTaskRecorder>();
  std::shared_ptr<container::MwTask> task;
  bool handled = false;

  DirectCall(container::MwServlet& servlet, const std::string& servletName, const std::string& action,
             const pf::Value& data, const std::shared_ptr<container::MwJSWebview>& page = nullptr) {
    pf::Value message{{"url", "client://" + servletName + "?action=" + action}, {"requestId", "direct1"}};
    if (!data.is_null()) message["data"] = data;
    auto request = container::MwServletRequest::parse(message);
    task = container::MwTask::make(container::kTaskTypePageCall, "direct1", recorder, recorder);
    task->setTimeoutValue(100);
    if (page) servlet.awareAboutJSWebView(page);
    handled = servlet.handleRequestAndTask(*request, task);
  }
  // The "data" of every answer.
  std::vector<pf::Value> data() const {
    std::vector<pf::Value> out;
    for (const auto& a : recorder->answers) out.push_back(a.result.value("data", pf::Value()));
    return out;
  }
};

}  // namespace plugintest
