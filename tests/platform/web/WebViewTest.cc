#include <cmath>
#include <vector>

#include "PageFixture.h"
#include "platform/foundation/Timer.h"

namespace webtest {
namespace {

using pf::LogCapture;

TEST_F(PageTest, RunsUserScriptThenScriptsInDocumentOrderThenOnload) {
  LogCapture log;
  write("js/lib.js", "order.push('src:' + typeof early);");
  view->setUserScript("var order = ['user'];");
  view->loadFile(write("index.html", R"(<html><head><title> Trade
      board </title>
    <script>var early = 1; order.push('head');</script>
    <script src="js/lib.js"></script>
    <script type="text/template">order.push('template');</script>
  </head><body><p id="x">hi</p>
    <script>order.push('body:' + document.getElementById('x').textContent);
      window.onload = function () { order.push('onload'); };
      window.addEventListener('load', function () { order.push('listener'); });
      console.log('ready', 1 + 1, {a: 1});
    </script></body></html>)"));
  EXPECT_TRUE(view->isLoaded());
  EXPECT_EQ(view->title(), "Trade board");
  EXPECT_EQ(eval("order.join(',')"), "user,head,src:number,body:hi,onload,listener");
  EXPECT_TRUE(log.contains("index.html: console.log: ready 2 {\"a\":1}"));

  // The delegate hears of the load and the title on a later pass, never during loadFile.
  EXPECT_TRUE(delegate->finished.empty());
  pump();
  ASSERT_EQ(delegate->finished.size(), 1u);
  EXPECT_EQ(delegate->titles, std::vector<std::string>{"Trade board"});
}

TEST_F(PageTest, EvaluationAnswersTextAndErrorsAreLoggedWithTheirLine) {
  load("<div id='a'></div>");
  EXPECT_EQ(eval("1 + 2"), "3");
  EXPECT_EQ(eval("'x' + 'y'"), "xy");
  EXPECT_EQ(eval("var q = 5"), "");
  EXPECT_EQ(eval("q"), "5");
  EXPECT_EQ(eval("undefined"), "");
  EXPECT_EQ(eval("({a: 1})"), "[object Object]");
  EXPECT_EQ(eval("JSON.stringify({a: [1, 'b']})"), R"({"a":[1,"b"]})");
  EXPECT_EQ(eval("'\\u4e2d\\u6587'"), "中文");
  // Characters beyond U+FFFF come back as UTF-8 however the script wrote them; a lone half is U+FFFD.
  EXPECT_EQ(eval("'\\ud83d\\ude00' + '\xF0\x9F\x98\x80'"), "\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
  EXPECT_EQ(eval("document.getElementById('a').textContent = 'x\\ud83d'; document.getElementById('a').textContent"),
            "x\xEF\xBF\xBD");

  LogCapture log;
  EXPECT_EQ(eval("1;\n\nnoSuchThing.call()"), "");
  EXPECT_TRUE(log.contains(":3: ReferenceError")) << (log.lines().empty() ? "" : log.lines().back());
  EXPECT_EQ(eval("function ("), "");
  EXPECT_TRUE(log.contains("SyntaxError"));
  // An error in a page script does not stop the next one.
  load("<script>throw new Error('boom');</script><script>var after = 'ran';</script>");
  EXPECT_EQ(eval("after"), "ran");
  EXPECT_TRUE(log.contains("boom"));
}

TEST_F(PageTest, DateAndTimersRunOnTheClock) {
  pf::VirtualTimeScope time;
  load(R"JS(<script>
    var fired = [], ticks = 0;
    var start = Date.now();
    setTimeout(function (a, b) { fired.push('t500:' + a + b); }, 500, 'x', 'y');
    var dropped = setTimeout(function () { fired.push('dropped'); }, 100);
    clearTimeout(dropped);
    var iv = setInterval(function () { if (++ticks === 3) clearInterval(iv); }, 200);
    setTimeout("fired.push('string')", 0);
  </script>)JS");
  EXPECT_EQ(eval("start"), std::to_string(static_cast<long long>(pf::Clock::kVirtualStart * 1000)));
  time.advance(0.001);
  EXPECT_EQ(eval("fired.join()"), "string");
  time.advance(0.45);
  EXPECT_EQ(eval("ticks"), "2");
  EXPECT_EQ(eval("fired.join()"), "string");
  time.advance(0.05);
  EXPECT_EQ(eval("fired.join()"), "string,t500:xy");
  time.advance(2);
  EXPECT_EQ(eval("ticks"), "3");
  EXPECT_EQ(eval("Date.now() - start"), "2501");
  EXPECT_EQ(eval("new Date(0).toISOString()"), "1970-01-01T00:00:00.000Z");

  // Callbacks run with the window as this, strict or not, and a failing one does not stop the next.
  LogCapture failures;
  eval("var seen = [], win = this;"
       "setTimeout(function () { 'use strict'; seen.push(this === win); }, 0);"
       "setTimeout(function () { throw new Error('timer failed'); }, 0);"
       "setTimeout(function () { seen.push(this === win); clearTimeout(12345); clearTimeout('x'); }, 0);");
  time.advance(0.001);
  EXPECT_EQ(eval("seen.join()"), "true,true");
  EXPECT_TRUE(failures.contains("timer failed"));
  EXPECT_EQ(eval("setTimeout.length + ' ' + setInterval.length + ' ' + typeof setTimeout(function () {})"),
            "2 2 number");
  // A page that asks too much: thousands of arguments, more timers than a page may hold.
  eval("var many = -1; setTimeout.apply(null, [function () { many = arguments.length; }, 0].concat(new Array(5000)));"
       "var refused = ''; try { for (var i = 0; i < 20000; i++) setTimeout(function () {}, 1e9); }"
       "catch (e) { refused = e.name; }");
  time.advance(0.001);
  EXPECT_EQ(eval("many + ' ' + refused"), "5000 RangeError");

  // A new page drops the old page's timers.
  eval("setTimeout(function () { console.log('old page'); }, 100)");
  LogCapture log;
  load("<p>next</p>", "next.html");
  time.advance(1);
  EXPECT_FALSE(log.contains("old page"));
}

TEST_F(PageTest, NavigationReachesTheDelegateOnALaterPass) {
  write("sub/next.html", "<html><head><title>Next</title></head><body><script>var here = 'next';</script></body></html>");
  load("<a id='link' href='sub/next.html'>go</a>");
  pump();
  delegate->finished.clear();
  EXPECT_TRUE(delegate->closed.empty()) << "the first page replaces none";

  eval("window.location = 'mwpagebridge://queuehasmessage'");
  EXPECT_TRUE(delegate->requests.empty());  // never from inside the script
  pump();
  EXPECT_EQ(delegate->requests, std::vector<std::string>{"mwpagebridge://queuehasmessage"});
  EXPECT_EQ(view->currentPath(), (dir / "page.html").string());

  // A refused page path does not load; an allowed one does, resolved against the page.
  delegate->allowLoads = false;
  eval("location.href = 'sub/next.html'");
  pump();
  EXPECT_EQ(view->currentPath(), (dir / "page.html").string());
  delegate->allowLoads = true;
  eval("document.getElementById('link').click()");
  pump();
  EXPECT_EQ(view->currentPath(), (dir / "sub/next.html").string());
  EXPECT_EQ(eval("here"), "next");
  EXPECT_EQ(view->title(), "Next");
  EXPECT_EQ(delegate->closed, std::vector<std::string>{""}) << "told at once that the old page has gone";
  pump();
  EXPECT_EQ(delegate->finished.size(), 1u);

  // Outside the page tree or missing: the load fails, the page stays.
  eval("location = '../../etc/passwd'");
  pump();
  ASSERT_EQ(delegate->failures.size(), 1u);
  EXPECT_EQ(delegate->failures[0].code, -1102);
  eval("location = 'missing.html'");
  pump();
  ASSERT_EQ(delegate->failures.size(), 2u);
  EXPECT_EQ(delegate->failures[1].code, -1100);
  EXPECT_EQ(eval("here"), "next");
  EXPECT_EQ(delegate->closed.size(), 1u) << "a page that cannot open closes none";

  // A javascript: URL runs in the page and asks nobody.
  const auto asked = delegate->requests.size();
  eval("var viaLink = 0; var a = document.createElement('a'); a.href = 'javascript:viaLink%2B%2B';"
       "a.click(); location.href = 'JavaScript:viaLink += 10'");
  pump();
  EXPECT_EQ(eval("viaLink"), "11");
  EXPECT_EQ(delegate->requests.size(), asked);

  // A link in the tree that leads out of it is outside too.
  std::filesystem::create_symlink("/etc", dir / "sub/etc");
  eval("location = 'etc/hostname'");
  pump();
  ASSERT_EQ(delegate->failures.size(), 3u);
  EXPECT_EQ(delegate->failures[2].code, -1102);

  eval("history.back()");
  EXPECT_EQ(delegate->backs, 0);
  pump();
  EXPECT_EQ(delegate->backs, 1);
}

TEST_F(PageTest, PageAndScriptFilesAreChecked) {
  LogCapture log;
  write("bad.js", std::string("var bad = '\xff\xfe';"));
  write("ok.js", "var ok = 1;");
  std::filesystem::create_directories(dir / "tree");
  view->setPageRoot((dir / "tree").string());
  write("tree/index.html", "<script src='../ok.js'></script><script src='/../bad.js'></script>"
                           "<script src='missing.js'></script><script>var inline = 2;</script>");
  view->loadFile((dir / "tree/index.html").string());
  EXPECT_EQ(eval("typeof ok + typeof bad + inline"), "undefinedundefined2");
  EXPECT_TRUE(log.contains("script ../ok.js skipped: outside the page tree"));
  EXPECT_TRUE(log.contains("script missing.js skipped"));

  view->setPageRoot(dir.path().string());
  view->loadFile(write("enc.html", "<script src='bad.js'></script><script src='ok.js'></script>"
                                   "<script>var inlineBad = '\xC3';</script><p>\xC3 shown</p>"));
  EXPECT_EQ(eval("typeof bad + ok + typeof inlineBad"), "undefined1undefined");
  EXPECT_TRUE(log.contains("script bad.js skipped: not UTF-8"));
  EXPECT_TRUE(log.contains("enc.html (script 3) skipped: not UTF-8"));
  EXPECT_EQ(eval("document.querySelector('p').textContent"), "\xEF\xBF\xBD shown");

  view->loadFile(write("huge.html", std::string(pf::WebView::kMaxPageBytes + 1, ' ')));
  pump();
  ASSERT_EQ(delegate->failures.size(), 1u);
  EXPECT_EQ(delegate->failures[0].code, -1103);
  EXPECT_EQ(view->currentPath(), (dir / "enc.html").string());
}

TEST_F(PageTest, UserAgentAndScrollView) {
  view->setUserAgent("Agent/2.0");
  load("<p>x</p>");
  EXPECT_EQ(eval("navigator.userAgent"), "Agent/2.0");
  ASSERT_TRUE(view->scrollView());
  EXPECT_EQ(view->scrollView()->superview(), view);
  EXPECT_EQ(view->scrollView()->frame(), pf::Rect(0, 0, 320, 480));
}

TEST_F(PageTest, NothingComesDueInsideANativeCall) {
  pf::VirtualTimeScope time;
  load("<script>var ticks = 0; setInterval(function () { ticks++; }, 100);</script>");
  {
    pf::WebView::NativeCallScope call(*view);
    EXPECT_TRUE(view->isInNativeCall());
    // A nested main-loop wait: the interval comes due three times but runs no script.
    time.advance(0.35);
    eval("location = 'mwpagebridge://queuehasmessage'");
    pump();
    EXPECT_TRUE(delegate->requests.empty());
    // The engine is idle, so an evaluation (the answer of the call) runs at once.
    EXPECT_EQ(eval("ticks"), "0");
  }
  EXPECT_FALSE(view->isInNativeCall());
  pump();
  // What waited runs once, in order; the interval did not pile up.
  EXPECT_EQ(eval("ticks"), "1");
  EXPECT_EQ(delegate->requests.size(), 1u);
  time.advance(0.1);
  EXPECT_EQ(eval("ticks"), "2");

  // What a page queued goes with it when another page replaces it meanwhile.
  {
    pf::WebView::NativeCallScope call(*view);
    eval("history.back(); document.title = 'old'; location = 'elsewhere.html'");
    pump();
    load("<p>new</p>", "new.html");
  }
  pump();
  EXPECT_EQ(delegate->backs, 0);
  EXPECT_EQ(delegate->requests.size(), 1u);
  EXPECT_EQ(delegate->titles.back(), "T");
}

TEST_F(PageTest, KeptFunctionsTakeValuesAsJsonTextWouldGiveThem) {
  load("<script>var got = {length: 0}; var realObject = Object.prototype, realArray = Array.prototype;"
       "var protoOf = Object.getPrototypeOf, isArray = Array.isArray, hits = 0;"
       "Object.defineProperty(Object.prototype, 'code', {set: function () { hits++; }, configurable: true});"
       "Object.defineProperty(Array.prototype, '0', {set: function () { hits++; }, configurable: true});"
       "Object = function () {}; Array = function () {};</script>");
  const pf::WebView::Function keep("function (a, b) { got[got.length++] = a; got[got.length++] = b; return typeof a; }",
                                   "kept");
  const pf::Value answer{{"code", "USD"},
                         {"__proto__", {{"x", 1}}},
                         {"list", {1, "two", nullptr, true}},
                         {"negative", -0.0},
                         {"big", 9007199254740993ULL},
                         {"price", 7.1234},
                         {"text", std::string("a\u2028b\0c\xF0\x9F\x92\xB1", 11)}};
  const std::vector<pf::Value> arguments{answer, "plain"};
  EXPECT_EQ(view->callFunction(keep, arguments), "object");
  EXPECT_EQ(eval("hits"), "0") << "members are the object's own, as JSON.parse makes them";
  EXPECT_EQ(eval("got[0].code + ' ' + got[1]"), "USD plain");
  EXPECT_EQ(eval("protoOf(got[0]) === realObject && got[0].hasOwnProperty('__proto__') && got[0].__proto__.x"), "1");
  EXPECT_EQ(eval("isArray(got[0].list) && protoOf(got[0].list) === realArray && JSON.stringify(got[0].list)"),
            R"([1,"two",null,true])");
  EXPECT_EQ(eval("1 / got[0].negative + ' ' + got[0].big + ' ' + (got[0].price === 7.1234)"),
            "-Infinity 9007199254740992 true");
  // A character beyond U+FFFF is two code units, as in script text.
  EXPECT_EQ(eval("var t = got[0].text; t.length + ' ' + t.charCodeAt(3) + ' ' + t.charCodeAt(5).toString(16)"),
            "7 0 d83d");
  EXPECT_EQ(eval("got[0].text"), std::string("a\u2028b\0c\xF0\x9F\x92\xB1", 11));

  // What has no JSON text is refused, and nothing runs.
  pf::Value deep = pf::Value::array();
  for (int i = 0; i < 600; ++i) deep = pf::Value::array({deep});
  for (const pf::Value& refused : {pf::Value(std::nan("")), pf::Value(HUGE_VAL), pf::Value::binary({1, 2}),
                                   pf::Value("\xFF"), pf::Value{{"\xFF", 1}}, pf::Value{{"ok", {1, NAN}}}, deep}) {
    const std::vector<pf::Value> one{refused};
    EXPECT_EQ(view->callFunction(keep, one), std::nullopt);
  }
  EXPECT_EQ(eval("got.length"), "2");

  // A function that throws is logged and answers ""; each page compiles its own.
  LogCapture log;
  const pf::WebView::Function throwing("function () { throw new Error('kept failed'); }", "kept");
  EXPECT_EQ(view->callFunction(throwing), "");
  EXPECT_TRUE(log.contains("kept:1: Error: kept failed"));
  load("<script>var got = {length: 0};</script>", "other.html");
  EXPECT_EQ(view->callFunction(keep), "undefined");
  EXPECT_EQ(eval("got.length"), "2");
}

struct ChainingDelegate : RecordingDelegate {
  void webViewDidFinishLoad(pf::WebView& v) override {
    RecordingDelegate::webViewDidFinishLoad(v);
    if (next.empty()) return;
    v.loadFile(next);
    next.clear();
  }
  std::string next;
};

TEST_F(PageTest, DelegatesAndViewsMayGoAtAnyTime) {
  pf::VirtualTimeScope time;
  // A delegate that opens the next page from its load callback.
  auto chaining = std::make_shared<ChainingDelegate>();
  chaining->next = write("second.html", "<script>var second = true;</script>");
  view->setDelegate(chaining);
  load("<script>setInterval(function () {}, 10);</script>");
  pump();
  EXPECT_EQ(eval("second"), "true");
  pump();
  EXPECT_EQ(chaining->finished.size(), 2u);

  // The delegate goes: requests still run, nobody hears them.
  chaining.reset();
  eval("location = 'x.html'; history.back(); document.title = 'gone'");
  pump();

  // The view goes with timers pending and work queued behind an open native call.
  load("<script>setInterval(function () {}, 10); setTimeout(function () {}, 5);</script>");
  {
    pf::WebView::NativeCallScope call(*view);
    time.advance(0.05);
    eval("location = 'mwpagebridge://queuehasmessage'");
    view.reset();
  }
  time.advance(1);
  pump();
}

TEST_F(PageTest, ARunawayScriptIsStoppedAndThePageAnswersTheNextCall) {
  LogCapture log;
  view->setScriptLimits({0.2, 4u << 20});
  load("<script>var n = 0; function spin() { for (;;) { try { for (;;) n++; } catch (e) {} } }</script>");
  EXPECT_EQ(eval("spin(); 'finished'"), "");
  EXPECT_TRUE(log.contains("page.html: script error: stopped after its time budget: "));
  // Loops around slow built-ins or the page's own natives are stopped as well.
  EXPECT_EQ(eval("for (;;) new Array(100000).join('');"), "");
  EXPECT_EQ(eval("for (var k = 0; k < 3000; k++) document.body.appendChild(document.createElement('p'));"
                 "for (;;) document.querySelectorAll('p');"),
            "");
  EXPECT_EQ(eval("n > 0"), "true");

  // A script that allocates without end hits the heap cap.
  log.clear();
  EXPECT_EQ(eval("var hoard = []; for (var i = 0; ; i++) hoard.push(new Array(1000).join('x') + i); 'done'"), "");
  EXPECT_TRUE(log.contains("Error")) << (log.lines().empty() ? "" : log.lines().back());
  EXPECT_EQ(eval("hoard = null; 6 * 7"), "42");
}

}  // namespace
}  // namespace webtest
