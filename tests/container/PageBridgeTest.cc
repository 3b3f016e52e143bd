// The whole road of a page call with real page files: the injected bridge, the queue, servlets,
// page tasks with their time-outs on the virtual clock, the overlay and the answers the page
// receives; and the page stack of the host view.

#include <gtest/gtest.h>

#include <cmath>

#include "container/MwJSWebview.h"
#include "container/MwServlet.h"
#include "container/MwServletManager.h"
#include "container/MwTask.h"
#include "container/MwWebview.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "support/TestSupport.h"
#include "widgets/MwProgressHUD.h"

namespace container {
namespace {

// Answers its arguments back at once (with `extra` beside them when set).
struct EchoServlet : MwServlet {
  static inline pf::Value extra;
  bool handleRequest(const MwServletRequest& request) override {
    pf::Value data{{"action", request.getParameterValue()}, {"args", request.getData()}};
    if (!extra.is_null()) data["extra"] = extra;
    task()->successWithResult({{"data", data}});
    return true;
  }
};

// Keeps the call open for later answers (as a plug-in waiting for a dialog or a push does).
struct LaterServlet : MwServlet {
  static inline std::weak_ptr<LaterServlet> latest;
  static inline bool stopTimeout = true;
  int ended = 0;  // times told that its page has gone
  bool handleRequest(const MwServletRequest&) override {
    if (stopTimeout) task()->setTimeoutValue(0);
    setContinueFlag(true);
    latest = std::static_pointer_cast<LaterServlet>(shared_from_this());
    return false;
  }
  void pageDidGo() override { ++ended; }
};

// Turns the main loop inside its call, as a blocking request does.
struct NestedServlet : MwServlet {
  static inline std::string seenInside;
  bool handleRequest(const MwServletRequest&) override {
    for (int i = 0; i < 5; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
    seenInside = jsWebView()->stringByEvaluatingJavaScriptFromString("String(fired)");
    task()->successWithResult({});
    return true;
  }
};

// Loads its page again from inside its call; the new page then makes three calls of its own.
struct ReloadServlet : MwServlet {
  static inline std::string page;
  bool handleRequest(const MwServletRequest&) override {
    auto view = jsWebView();
    view->webView()->loadFile(page);
    view->stringByEvaluatingJavaScriptFromString("for (var i = 0; i < 3; i++) call('later.do', 'new', {}, {})");
    task()->successWithResult({});
    return true;
  }
};

// Answers how many bytes the text under its arguments' "value" holds (the text itself stays native).
struct SizeServlet : MwServlet {
  bool handleRequest(const MwServletRequest& request) override {
    const pf::Value* value = pf::valueForKey(request.getData(), "value");
    const std::size_t bytes = value && value->is_string() ? value->get_ref<const std::string&>().size() : 0;
    task()->successWithResult({{"data", {{"action", request.getParameterValue()}, {"bytes", bytes}}}});
    return true;
  }
};

// Fails inside its call.
struct ThrowingServlet : MwServlet {
  bool handleRequest(const MwServletRequest&) override { throw std::runtime_error("no quotes today"); }
};

class PageBridgeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto& classes = MwServletClasses::shared();
    classes.add<EchoServlet>("TestEchoServlet");
    classes.add<LaterServlet>("TestLaterServlet");
    classes.add<NestedServlet>("TestNestedServlet");
    classes.add<ThrowingServlet>("TestThrowingServlet");
    classes.add<ReloadServlet>("TestReloadServlet");
    classes.add<SizeServlet>("TestSizeServlet");
  }
  void SetUp() override {
    MwServletManager::resetForTesting();
    auto& manager = MwServletManager::getInstance();
    manager.registerServletWithName("echo.do", "TestEchoServlet");
    manager.registerServletWithName("later.do", "TestLaterServlet");
    manager.registerServletWithName("nested.do", "TestNestedServlet");
    manager.registerServletWithName("throwing.do", "TestThrowingServlet");
    manager.registerServletWithName("reload.do", "TestReloadServlet");
    manager.registerServletWithName("size.do", "TestSizeServlet");
    LaterServlet::stopTimeout = true;
    page = MwJSWebview::make(pf::Rect(0, 0, 320, 480));
    page->webView()->setPageRoot(pages.string());
    page->webView()->loadFile((pages / "bridge.html").string());
    ASSERT_TRUE(page->webView()->isLoaded());
  }
  void TearDown() override { MwServletManager::resetForTesting(); }

  std::string eval(const std::string& script) { return page->stringByEvaluatingJavaScriptFromString(script); }
  // Runs the main loop's pending passes (the navigation that asks native code to fetch the queue).
  static void pump(int passes = 4) {
    for (int i = 0; i < passes; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
  }
  int answerCount() { return std::stoi("0" + eval("answers.length")); }
  // Runs the main loop until the page holds `count` answers, at most `passes` passes.
  void pumpUntilAnswers(int count, int passes = 64) {
    for (int i = 0; i < passes && answerCount() < count; ++i) pump(1);
  }
  // Makes the page's global `big` a text of `bytes` bytes ("x"), a mebibyte at a time, with the
  // page function textOf(bytes) that makes it.
  void makeBigText(std::size_t bytes) {
    eval("function textOf(bytes) {"
         "  var piece = 'x', text = ''; while (piece.length < (1 << 20)) piece += piece;"
         "  while (text.length + piece.length <= bytes) text += piece;"
         "  return text + piece.substring(0, bytes - text.length); }"
         "var big = textOf(" + std::to_string(bytes) + ")");
    ASSERT_EQ(eval("String(big.length)"), std::to_string(bytes));
  }
  pf::Value lastAnswer() { return pf::parseJson(eval("last()")).value_or(nullptr); }

  const std::filesystem::path pages = fxtest::dataPath("container/pages");
  pf::LogCapture log;
  std::shared_ptr<MwJSWebview> page;
};

TEST_F(PageBridgeTest, EchoCallAnswersThePageCallback) {
  EXPECT_EQ(eval("call('echo.do', 'say', {text: '你好', n: 2}, {})"), "mwpb1");
  EXPECT_EQ(answerCount(), 0) << "the call reaches native code on a later pass";
  pump();
  ASSERT_EQ(answerCount(), 1);
  EXPECT_EQ(lastAnswer(), (pf::Value{{"data", {{"action", "say"}, {"args", {{"text", "你好"}, {"n", 2}}}}},
                                     {"result", 0},
                                     {"responseId", "mwpb1"}}));
  EXPECT_EQ(eval("document.getElementById('out').textContent"),
            R"(0 {"action":"say","args":{"text":"你好","n":2}})");
  EXPECT_EQ(page->openCallCount(), 0u);

  // Two calls in one pass travel in one fetch; a separator inside a message stays inside it.
  eval("call('echo.do', 'a', {t: 'x__mwpb_sep__y'}, {}); call('echo.do', 'b', null, {})");
  pump();
  ASSERT_EQ(answerCount(), 3);
  EXPECT_EQ(pf::parseJson(eval("JSON.stringify(answers[1].data.args)")), (pf::Value{{"t", "x__mwpb_sep__y"}}));
  EXPECT_EQ(eval("answers[2].data.action"), "b");
}

TEST_F(PageBridgeTest, UnknownOrFailingServletAnswersAnErrorAtOnce) {
  eval("call('ghost.do', 'x', {}, {waiting: true, timeout: 5})");
  pump();
  ASSERT_EQ(answerCount(), 1);
  pf::Value answer = lastAnswer();
  EXPECT_EQ(answer["result"], 100);
  EXPECT_EQ(answer["responseId"], "mwpb1");
  EXPECT_TRUE(answer["data"]["ERRMSG"].get<std::string>().find("ghost.do") != std::string::npos);
  EXPECT_EQ(page->openCallCount(), 0u);
  EXPECT_FALSE(widgets::MwProgressHUD::HUDForView(page->webView()));

  eval("call('throwing.do', 'x', {}, {waiting: true})");
  pump();
  ASSERT_EQ(answerCount(), 2);
  EXPECT_EQ(lastAnswer()["result"], 100);
  EXPECT_EQ(lastAnswer()["data"]["ERRMSG"], "no quotes today");
  EXPECT_EQ(page->openCallCount(), 0u) << "a servlet that fails leaves no call open";
  EXPECT_FALSE(widgets::MwProgressHUD::HUDForView(page->webView()));
}

TEST_F(PageBridgeTest, ContinuingServletAnswersThreeTimesWithoutTimeOut) {
  pf::VirtualTimeScope time;
  eval("call('later.do', 'watch', {}, {timeout: 5, waiting: true})");
  pump();
  auto servlet = LaterServlet::latest.lock();
  ASSERT_TRUE(servlet);
  EXPECT_TRUE(page->isShowingOverlay());
  EXPECT_TRUE(widgets::MwProgressHUD::HUDForView(page->webView())) << "the overlay while the waiting call is open";
  time.advance(60);
  EXPECT_EQ(answerCount(), 0) << "no time-out after setTimeoutValue 0";

  for (int i = 1; i <= 3; ++i) {
    servlet->task()->successWithResult({{"data", i}, {"continue", true}});
    EXPECT_FALSE(widgets::MwProgressHUD::HUDForView(page->webView()));
  }
  ASSERT_EQ(answerCount(), 3);
  EXPECT_EQ(eval("answers[2].data + ' ' + answers[2].responseId + ' ' + answers[2]['continue']"), "3 mwpb1 true");
  EXPECT_EQ(page->openCallCount(), 1u) << "kept while its continue flag is set";

  servlet->setContinueFlag(false);
  servlet->task()->successWithResult({{"data", 4}});
  EXPECT_EQ(answerCount(), 4);
  EXPECT_EQ(page->openCallCount(), 0u);
}

TEST_F(PageBridgeTest, WaitingTimeEndsTheCallWithThreeHundred) {
  pf::VirtualTimeScope time;
  LaterServlet::stopTimeout = false;
  eval("call('later.do', 'wait', {}, {timeout: 5})");
  pump();
  auto servlet = LaterServlet::latest.lock();
  ASSERT_TRUE(servlet);
  time.advance(4.9);
  EXPECT_EQ(answerCount(), 0);
  time.advance(0.1);
  ASSERT_EQ(answerCount(), 1);
  EXPECT_EQ(lastAnswer(), (pf::Value{{"result", 300}, {"responseId", "mwpb1"}}));
  EXPECT_EQ(page->openCallCount(), 0u) << "a time-out ends the call, continue flag or not";
  servlet->task()->successWithResult({{"late", true}});
  EXPECT_EQ(answerCount(), 1);

  // No waiting time given: 100 s.
  eval("call('later.do', 'wait', {}, {})");
  pump();
  time.advance(99);
  EXPECT_EQ(answerCount(), 1);
  time.advance(1);
  EXPECT_EQ(answerCount(), 2);
}

TEST_F(PageBridgeTest, NothingOfThePageRunsInsideANativeCall) {
  eval("var fired = false; setTimeout(function () { fired = true; }, 0);"
       "call('nested.do', 'x', {}, {})");
  pump(1);
  EXPECT_EQ(NestedServlet::seenInside, "false") << "the page's timer waited for the native call";
  pump();
  EXPECT_EQ(eval("String(fired)"), "true");
  EXPECT_EQ(answerCount(), 1);
}

TEST_F(PageBridgeTest, AnswersCarryAnyTextAndEvaluationResults) {
  // Separators, quotes, an end tag and a character beyond U+FFFF reach the page as sent, the last
  // as two code units, as a script's own text has it.
  const std::string text = "line\u2028sep\u2029end \"q\" '</script>' \xF0\x9F\x92\xB1";
  const auto literal = pf::writeJson(pf::Value(text), {.allowFragments = true, .escapeLineSeparators = true});
  eval("call('echo.do', 'x', " + literal.value() + ", {})");
  pump();
  ASSERT_EQ(answerCount(), 1);
  EXPECT_EQ(eval("answers[0].data.args"), text);
  EXPECT_EQ(eval("var a = answers[0].data.args; a.length + ' ' + a.charCodeAt(a.length - 2).toString(16)"),
            "31 d83d");

  // An answer that cannot be written as JSON reaches the page as an error.
  EchoServlet::extra = std::nan("");
  eval("call('echo.do', 'y', {}, {})");
  pump();
  EchoServlet::extra = nullptr;
  ASSERT_EQ(answerCount(), 2);
  EXPECT_EQ(lastAnswer(), (pf::Value{{"result", 100}, {"responseId", "mwpb2"}}));

  EXPECT_EQ(eval("1 + 2"), "3");
  EXPECT_EQ(eval("undefined"), "");
  EXPECT_EQ(eval("throw new Error('x')"), "");
  page->doJs("document.title = 'Changed'");
  EXPECT_EQ(page->webView()->title(), "Changed");
  EXPECT_EQ(page->scrollView(), page->webView()->scrollView());
}

TEST_F(PageBridgeTest, AnswerAfterThePageHasGoneIsDropped) {
  eval("call('later.do', 'x', {}, {waiting: true})");
  pump();
  auto servlet = LaterServlet::latest.lock();
  ASSERT_TRUE(servlet);
  page.reset();
  EXPECT_FALSE(servlet->jsWebView());
  servlet->task()->successWithResult({{"data", 1}});  // no crash, nobody to hear it
}

TEST_F(PageBridgeTest, APageThatGoesEndsItsCallsAndItsTasksReachNoLaterPage) {
  eval("call('later.do', 'x', {}, {waiting: true})");
  pump();
  auto old = LaterServlet::latest.lock();
  ASSERT_TRUE(old);
  ASSERT_EQ(page->openCallCount(), 1u);
  eval("location.href = 'missing.html'");
  pump();
  EXPECT_EQ(page->openCallCount(), 1u) << "a page that cannot open leaves the current one as it was";
  EXPECT_EQ(old->ended, 0);
  eval("location.href = 'bridge.html'");
  pump();
  EXPECT_EQ(page->openCallCount(), 0u);
  EXPECT_FALSE(widgets::MwProgressHUD::HUDForView(page->webView()));
  EXPECT_EQ(old->ended, 1);
  EXPECT_FALSE(old->jsWebView());
  EXPECT_FALSE(old->continueFlag());

  // The new page's first call has the old call's id; the old task neither answers nor ends it.
  EXPECT_EQ(eval("call('later.do', 'fresh', {}, {})"), "mwpb1");
  pump();
  auto fresh = LaterServlet::latest.lock();
  ASSERT_TRUE(fresh);
  ASSERT_NE(fresh, old);
  old->task()->successWithResult({{"data", "stale"}});
  old->task()->cancel();
  EXPECT_EQ(answerCount(), 0) << "an answer made for the page that went reaches the next one";
  EXPECT_EQ(page->openCallCount(), 1u);
  fresh->setContinueFlag(false);
  fresh->task()->successWithResult({{"data", "fresh"}});
  EXPECT_EQ(eval("answers[0].data + ' ' + answers[0].responseId"), "fresh mwpb1");
  EXPECT_EQ(fresh->ended, 0);

  // A page loaded by native code, and a web view that goes, end the calls left open as well.
  eval("call('later.do', 'native', {}, {})");
  pump();
  auto third = LaterServlet::latest.lock();
  ASSERT_TRUE(third);
  page->webView()->loadFile((pages / "bridge.html").string());
  EXPECT_EQ(third->ended, 1);
  EXPECT_EQ(page->openCallCount(), 0u);
  eval("call('later.do', 'last', {}, {})");
  pump();
  auto last = LaterServlet::latest.lock();
  ASSERT_TRUE(last);
  page.reset();
  EXPECT_EQ(last->ended, 1);
  EXPECT_FALSE(last->jsWebView());
}

// A call whose servlet loads another page ends its batch: the calls the old page queued behind it
// (one its servlet would answer at once, one refused) reach neither a servlet nor the new page,
// whose own calls carry the same ids.
TEST_F(PageBridgeTest, CallsQueuedBehindACallThatLoadsAnotherPageGoWithTheirPage) {
  ReloadServlet::page = (pages / "bridge.html").string();
  eval("call('reload.do', 'x', {}, {}); call('echo.do', 'old', {}, {}); MwPageBridge._send({requestId: 'mwpb3'})");
  pump();
  EXPECT_EQ(eval("JSON.stringify(answers)"), "[]");
  EXPECT_EQ(page->openCallCount(), 3u) << "the new page's calls are open";
  EXPECT_TRUE(log.contains("page call mwpb2 dropped: the page that made it has gone"));
  EXPECT_TRUE(log.contains("page call mwpb3 dropped: the page that made it has gone"));
  EXPECT_FALSE(log.contains("bridge call mwpb2 (client://echo.do?action=old) handled: YES")) << "no servlet ran";
}

// A call too big for the bridge, queued in one turn between two small ones, is answered with the
// bridge's error; the calls beside it and every later call are answered as usual.
TEST_F(PageBridgeTest, ACallAboveTheMessageBoundIsRefusedAndTheCallsAroundItAreAnswered) {
  const std::size_t bytes = (16u << 20) + (1u << 19);
  makeBigText(bytes);
  eval("call('echo.do', 'set', {key: 'a', value: '1'}, {});"
       "call('size.do', 'set', {key: 'b', value: big}, {});"
       "call('echo.do', 'set', {key: 'c', value: '3'}, {})");
  pumpUntilAnswers(3);
  ASSERT_EQ(answerCount(), 3);
  EXPECT_EQ(eval("answers[0].responseId + ' ' + answers[0].result + ' ' + answers[0].data.args.key"), "mwpb1 0 a");
  pf::Value refused = pf::parseJson(eval("JSON.stringify(answers[1])")).value_or(nullptr);
  EXPECT_EQ(refused["responseId"], "mwpb2");
  EXPECT_EQ(refused["result"], 100);
  const std::string why = refused["data"]["ERRMSG"].is_string() ? refused["data"]["ERRMSG"].get<std::string>() : "";
  EXPECT_NE(why.find("above the bridge's 16777216"), std::string::npos) << why;
  EXPECT_EQ(eval("answers[2].responseId + ' ' + answers[2].result + ' ' + answers[2].data.args.key"), "mwpb3 0 c");

  eval("big = null; call('echo.do', 'get', {key: 'a'}, {})");
  pumpUntilAnswers(4);
  ASSERT_EQ(answerCount(), 4);
  EXPECT_EQ(eval("answers[3].responseId + ' ' + answers[3].result"), "mwpb4 0");
  EXPECT_EQ(page->openCallCount(), 0u);
}

// A call just below the bridge's bound goes through, alone or between others.
TEST_F(PageBridgeTest, ACallJustBelowTheMessageBoundIsHandedOverWhole) {
  makeBigText(15u << 20);
  eval("call('size.do', 'set', {key: 'b', value: big}, {})");
  pumpUntilAnswers(1);
  ASSERT_EQ(answerCount(), 1);
  EXPECT_EQ(lastAnswer(), (pf::Value{{"data", {{"action", "set"}, {"bytes", 15u << 20}}}, {"result", 0}, {"responseId", "mwpb1"}}));

  eval("call('echo.do', 'set', {key: 'a'}, {}); call('size.do', 'set', {value: big}, {}); call('echo.do', 'set', {key: 'c'}, {})");
  pumpUntilAnswers(4);
  ASSERT_EQ(answerCount(), 4);
  EXPECT_EQ(eval("answers[1].result + ' ' + answers[2].result + ' ' + answers[2].data.bytes + ' ' + answers[3].result"),
            "0 0 15728640 0");
}

// What a page can send does not hang on the size of its heap: a call of some 30% of a smaller heap,
// queued between two others, is answered with them, and its text is the page's no more once it
// has gone over (the answer's callback has the room to make it again).
TEST_F(PageBridgeTest, ALargeShareOfTheHeapInOneCallStallsNoCall) {
  page->webView()->setScriptLimits({10, 28u << 20});
  page->webView()->loadFile((pages / "bridge.html").string());
  makeBigText(8u << 20);
  eval("var again = 0; call('echo.do', 'set', {key: 'a'}, {});"
       "MwUI.Bridge.call('size.do', 'set', {value: big}, {}, function (a) {"
       "  big = null; show(a); again = textOf(8 << 20).length; });"
       "big = null; call('echo.do', 'set', {key: 'c'}, {})");
  pumpUntilAnswers(3);
  ASSERT_EQ(answerCount(), 3);
  EXPECT_EQ(eval("answers[0].result + ' ' + answers[1].result + ' ' + answers[1].data.bytes + ' ' + answers[2].result"),
            "0 0 8388608 0");
  EXPECT_EQ(eval("String(again)"), "8388608");
}

// A fetch whose join fails (as one that finds no room left in the heap does) hands the messages
// over one at a time; a call whose request to be fetched fails is fetched with the next call.
TEST_F(PageBridgeTest, AFetchOrAnAskThatFailsStallsNoCall) {
  eval("var join = Array.prototype.join; Array.prototype.join = function () { throw new Error('alloc failed'); };"
       "call('echo.do', 'a', {}, {}); call('echo.do', 'b', {}, {}); call('echo.do', 'c', {}, {})");
  pumpUntilAnswers(3);
  eval("Array.prototype.join = join");
  ASSERT_EQ(answerCount(), 3);
  EXPECT_EQ(eval("answers.map(function (a) { return a.responseId + ':' + a.data.action; }).join(' ')"),
            "mwpb1:a mwpb2:b mwpb3:c");

  eval("var href = Object.getOwnPropertyDescriptor(location, 'href');"
       "Object.defineProperty(location, 'href', {configurable: true, get: href.get,"
       "  set: function () { throw new Error('alloc failed'); }});"
       "call('echo.do', 'd', {}, {}); Object.defineProperty(location, 'href', href)");
  pump();
  EXPECT_EQ(answerCount(), 3) << "nothing asked for the call";
  eval("call('echo.do', 'e', {}, {})");
  pumpUntilAnswers(5);
  ASSERT_EQ(answerCount(), 5);
  EXPECT_EQ(eval("answers[3].data.action + answers[4].data.action"), "de");
}

// A call whose message the page cannot make throws in the page and is never queued; the calls
// around it are answered.
TEST_F(PageBridgeTest, ACallWhoseMessageCannotBeMadeThrowsAndTheOthersGoOn) {
  EXPECT_EQ(eval("var loop = {}; loop.self = loop; var thrown = '';"
                 "call('echo.do', 'a', {}, {});"
                 "try { call('echo.do', 'loop', loop, {}); } catch (e) { thrown = e.name; }"
                 "call('echo.do', 'c', {}, {}); thrown"),
            "TypeError");
  pumpUntilAnswers(2);
  ASSERT_EQ(answerCount(), 2);
  EXPECT_EQ(eval("answers[0].data.action + answers[1].data.action"), "ac");
  // The refused call keeps no callback: an answer under its id reaches nobody.
  eval("MwUI.Bridge.sendMessage({responseId: 'mwpb2', result: 0, data: 'late'})");
  EXPECT_EQ(answerCount(), 2);
}

// More calls in one turn than one fetch takes travel in several, every one answered in order.
TEST_F(PageBridgeTest, CallsBeyondOneFetchAreAnsweredInTheirOrder) {
  eval("var pad = 'x'; while (pad.length < 1024) pad += pad;"
       "for (var i = 0; i < 2500; i++)"
       "  MwUI.Bridge.call('echo.do', 'n', {i: i, pad: pad}, {}, function (a) { answers.push(a); })");
  pumpUntilAnswers(2500);
  ASSERT_EQ(answerCount(), 2500);
  EXPECT_EQ(eval("var bad = -1; for (var i = 0; i < answers.length; i++)"
                 "  if (answers[i].data.args.i !== i || answers[i].responseId !== 'mwpb' + (i + 1)) { bad = i; break; }"
                 "String(bad)"),
            "-1");
  EXPECT_EQ(page->openCallCount(), 0u);
}

// A page that replaces the bridge's fetch with one that throws or answers no queued texts gets
// nothing from it; the web view goes on serving the page's calls.
TEST_F(PageBridgeTest, AReplacedFetchThatFailsLeavesTheWebViewServing) {
  eval("var fetch = MwPageBridge._fetchQueue; call('echo.do', 'kept', {}, {});"
       "MwPageBridge._fetchQueue = function () { throw new Error('mine'); }");
  pump();
  for (const char* answer : {"null", "({toString: function () { throw 1; }})", "42", "'__mwpb_sep____mwpb_sep__{'"}) {
    eval(std::string("MwPageBridge._fetchQueue = function () { return ") + answer + "; };"
         "location.href = 'mwpagebridge://queuehasmessage'");
    pump();
  }
  EXPECT_EQ(answerCount(), 0);
  eval("MwPageBridge._fetchQueue = fetch; location.href = 'mwpagebridge://queuehasmessage'");
  pumpUntilAnswers(1);
  ASSERT_EQ(answerCount(), 1);
  EXPECT_EQ(eval("answers[0].data.action"), "kept");
}

TEST_F(PageBridgeTest, QueueMessagesThatAreNoCallsAreDropped) {
  eval("MwPageBridge._send({responseId: 'x'}); MwPageBridge._send([1]); MwPageBridge._send({requestId: 'r'})");
  pump();
  EXPECT_EQ(answerCount(), 0);
  EXPECT_TRUE(log.contains("\"responseId\" dropped"));
  EXPECT_EQ(page->openCallCount(), 0u);
}

// Dark pixels (text) in a rectangle of the image.
int darkPixels(const pf::Image& img, const pf::Rect& r) {
  int n = 0;
  for (double y = r.y(); y < r.maxY(); y += 1)
    for (double x = r.x(); x < r.maxX(); x += 1) {
      pf::Color c = img.colorAt({x, y});
      n += (c.a > 0.5 && c.r + c.g + c.b < 1.2) ? 1 : 0;
    }
  return n;
}

TEST_F(PageBridgeTest, TapOnTheRenderedButtonShowsTheAnswerAndNativeViewsScrollWithIt) {
  pf::Screen::main()->setBounds(pf::Rect(0, 0, 320, 480));
  auto window = pf::Window::make(pf::Rect(0, 0, 320, 480));
  window->addSubview(page->webView());
  window->makeKeyAndVisible();

  const pf::Rect out(8, 50, 300, 40);
  EXPECT_EQ(darkPixels(*pf::render::view(*page->webView(), 1), out), 0);
  window->tapAt({20, 20});
  pump();
  EXPECT_EQ(eval("document.getElementById('out').textContent"), R"(0 {"action":"say","args":{"text":"tapped"}})");
  EXPECT_GT(darkPixels(*pf::render::view(*page->webView(), 1), out), 30) << "the answer is on the screen";

  auto native = pf::View::make(pf::Rect(200, 100, 60, 30));
  native->setBackgroundColor(pf::Color::green());
  page->scrollView()->insertSubview(native, 0);
  EXPECT_TRUE(pf::render::view(*page->webView(), 1)->colorAt({230, 115}).near(pf::Color::green(), 0.02));
  page->scrollView()->setContentOffset({0, 50});
  auto scrolled = pf::render::view(*page->webView(), 2);
  EXPECT_TRUE(scrolled->colorAt({230, 65}).near(pf::Color::green(), 0.02));
  EXPECT_FALSE(scrolled->colorAt({230, 115}).near(pf::Color::green(), 0.02));

  window.reset();
  pf::Application::shared().reset();
  pf::Screen::main()->reset();
}

TEST_F(PageBridgeTest, ARunawayScriptIsStoppedAndThePageAnswersTheNextCall) {
  page->webView()->setScriptLimits({0.2, 64u << 20});
  page->webView()->loadFile((pages / "bridge.html").string());
  EXPECT_EQ(eval("while (true) {}"), "");
  eval("call('echo.do', 'again', {}, {})");
  pump();
  EXPECT_EQ(answerCount(), 1);
}

struct HostRecorder : MwWebviewStatusDelegate, MwWebviewInitDelegate, MwWebviewSetingDelegate, MwWebviewListener {
  std::vector<bool> statuses;
  int inits = 0, backs = 0;
  std::vector<std::string> titles;
  void didPageStatus(bool loaded) override { statuses.push_back(loaded); }
  void didInitCompleted() override { ++inits; }
  void didSetingTitle(const std::string& title) override { titles.push_back(title); }
  void onBack() override { ++backs; }
};

TEST(MwWebview, PageStackDelegatesAndBack) {
  pf::LogCapture log;
  auto host = MwWebview::initWithFrame(pf::Rect(0, 0, 320, 480));
  host->setPageRoot(fxtest::dataPath("container/pages").string());
  auto recorder = std::make_shared<HostRecorder>();
  host->setStatusDelegate(recorder);
  host->setInitDelegate(recorder);
  host->setSetingDelegate(recorder);
  host->setEventListener(recorder);
  auto pump = [] {
    for (int i = 0; i < 4; ++i) pf::RunLoop::main()->runInMode(pf::kDefaultRunLoopMode, 0);
  };

  host->openUrl("bridge.html");
  pump();
  host->openUrl("second.html");
  pump();
  EXPECT_EQ(recorder->statuses, (std::vector<bool>{true, true}));
  EXPECT_EQ(recorder->inits, 1);
  EXPECT_NE(std::find(recorder->titles.begin(), recorder->titles.end(), "Second page"), recorder->titles.end());
  ASSERT_EQ(host->pageCount(), 2u);
  EXPECT_EQ(host->currentPage()->webView()->superview().get(), host.get());

  host->currentPage()->doJs("history.back()");
  pump();
  ASSERT_EQ(host->pageCount(), 1u);
  EXPECT_EQ(host->currentPage()->webView()->title(), "Bridge");
  host->currentPage()->doJs("history.back()");
  pump();
  EXPECT_EQ(host->pageCount(), 1u);
  EXPECT_EQ(recorder->backs, 1);

  auto failing = MwWebview::initWithFrame(pf::Rect(0, 0, 320, 480));
  failing->setPageRoot(fxtest::dataPath("container/pages").string());
  failing->setStatusDelegate(recorder);
  failing->setInitDelegate(recorder);
  failing->openUrl("missing.html");
  pump();
  EXPECT_EQ(recorder->statuses.back(), false);
  EXPECT_EQ(recorder->inits, 1) << "only a page that loads completes the start";
}

}  // namespace
}  // namespace container
