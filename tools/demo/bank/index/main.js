// The bank's home page, version 2: a quote board fed by pushed quotes, a day chart of USD/CNY laid
// over the page, and the client's services, each a row that calls its plug-in and shows the answer.
var pageVersion = "v2";
// Where the chart stands: below the title bar, over the slot the page leaves for it.
var CHART = {left: 0, top: 37, right: 375, bottom: 237};

var state = {
  groups: [],        // the watch list as the watch-list screen edits it
  quotes: {},        // code -> {bid, ask, up}
  names: {},         // code -> product name
  last: "",          // the board's pair that changed last
  subscribed: 0,     // pairs subscribed to
  chartShown: false,
  pushes: 0,         // quotes pushed into this page
  moduleId: "",
  chartId: "",
  shot: "",          // the last screenshot's file
  envir: 1
};

function el(id) { return document.getElementById(id); }
function show(id, text) { var e = el(id); if (e) e.textContent = text; }
function outcome(answer, good) {
  return answer.result === 0 ? good(answer.data) : "error " + answer.result + " " + JSON.stringify(answer.data);
}
// One page call; every answer is logged as it comes. A waiting call ({waiting: true}) has the
// client's overlay over the page until it is answered.
function call(servlet, action, data, done, options) {
  MwUI.Bridge.call(servlet, action, data, options || {timeout: 30}, function (answer) {
    console.log("answer " + servlet + (action ? " " + action : "") + " " + JSON.stringify(answer));
    if (done) done(answer);
  });
}
function server(act, data, done, options) {
  call("http://bank/mwframework.do?act=" + act, "", data, done, options);
}
function result(id, text, colour) {
  var e = el("res-" + id);
  if (!e) return;
  e.textContent = text;
  e.style.color = colour || "#1565c0";
}

// ---------------------------------------------------------------- layout

function row(id, title, hint) {
  return '<div id="act-' + id + '" style="background:#ffffff;padding:4px 14px;font-size:14px;margin:0 0 1px 0">' +
      '<b>' + title + '</b>\u00a0\u00a0<span id="res-' + id + '" style="color:#9e9e9e;font-size:13px">' + hint +
      '</span></div>';
}

function build() {
  document.body.style.cssText = "margin:0;background:#eeeeee";
  document.body.innerHTML =
      '<div style="background:#c62828;color:#ffffff;padding:8px 14px;font-size:18px;font-weight:bold">' +
      '外汇交易\u00a0\u00a0<span style="font-size:12px;font-weight:normal">个人外汇 · 模拟银行</span></div>' +
      '<div id="chart-slot" style="background:#ffffff;padding:200px 0 0 0"></div>' +
      '<div style="padding:6px 14px 2px 14px;font-size:12px;color:#757575">自选行情\u00a0\u00a0' +
      '<span id="pushes">推送 0 条</span></div>' +
      '<div id="board" style="background:#ffffff"></div>' +
      '<div style="padding:6px 14px 2px 14px;font-size:12px;color:#757575">服务</div>' +
      row("watch", "编辑自选", "调整自选顺序") +
      row("alert", "到价提醒", "设置提醒") +
      row("shot", "截屏", "保存当前页面") +
      row("share", "分享截屏", "分享给好友") +
      row("envir", "切换环境", "当前：第一环境") +
      row("lock", "手势锁屏", "未开启") +
      row("store", "本地存储", "记录访问次数") +
      row("refresh", "刷新报价", "向银行询价") +
      row("news", "财经新闻", "›") +
      '<div style="padding:4px 14px;font-size:10px;color:#9e9e9e"><span id="version">version ?</span> · ' +
      '<span id="quote">quote: waiting</span> · <span id="store">store: waiting</span></div>';
  el("act-watch").onclick = editWatchList;
  el("act-alert").onclick = alertPrice;
  el("act-shot").onclick = screenshot;
  el("act-share").onclick = share;
  el("act-envir").onclick = switchEnvironment;
  el("act-lock").onclick = armLock;
  el("act-store").onclick = countVisits;
  el("act-refresh").onclick = refreshQuote;
  el("act-news").onclick = openNews;
}

// ---------------------------------------------------------------- quote board

function favourites() {
  var out = [];
  for (var g = 0; g < state.groups.length; ++g) {
    var data = state.groups[g].data || [];
    for (var p = 0; p < data.length; ++p) {
      state.names[data[p].currencyCode] = data[p].product;
      if (String(data[p].isInterest) === "1") out.push(data[p].currencyCode);
    }
  }
  return out;
}

function renderBoard() {
  var codes = favourites();
  var html = "";
  for (var i = 0; i < codes.length; ++i) {
    var code = codes[i];
    var q = state.quotes[code];
    var name = (state.names[code] || code).split(" ")[0];
    var mark = "\u00a0";
    var colour = "#212121";
    if (q && q.up !== undefined) {
      colour = q.up ? "#d0402d" : "#17b03e";
      mark = q.up ? "▲" : "▼";
    }
    var background = code === state.last ? "#fff3e0" : (i % 2 ? "#fafafa" : "#ffffff");
    html += '<div style="padding:4px 14px;font-size:15px;background:' + background + '">' +
        '<b>' + name + '</b>\u00a0\u00a0\u00a0\u00a0' +
        '<span style="color:' + colour + '">买 ' + (q ? q.bid : "--") + '\u00a0\u00a0\u00a0卖 ' + (q ? q.ask : "--") +
        '</span>\u00a0\u00a0<span style="color:' + colour + '">' + mark + '</span></div>';
  }
  el("board").innerHTML = html;
  show("pushes", "推送 " + state.pushes + " 条");
}

// Every pushed text reaches the page here: {"moduleId", "wdata": the quote text}.
window.MOWebData = function (message) {
  var quote;
  try { quote = JSON.parse(message.wdata); } catch (e) { return; }
  if (!quote || !quote.code) return;
  var old = state.quotes[quote.code];
  state.quotes[quote.code] = {bid: quote.bid, ask: quote.ask,
                              up: old ? parseFloat(quote.bid) >= parseFloat(old.bid) : undefined};
  if (old && favourites().indexOf(quote.code) >= 0) state.last = quote.code;  // the board marks its last change
  state.pushes += 1;
  renderBoard();
  ready();
};

// The page's start is over once every subscribed pair has its first quote and the chart is shown.
function ready() {
  window.homeReady = state.subscribed > 0 && state.pushes >= state.subscribed && state.chartShown;
}
window.homeReady = false;

function subscribe(pushServer, codes) {
  // Listening first: the quotes the bank sends on subscription must find the page registered.
  call("webnet.do", "registerSelf", {}, function (answer) {
    var data = (answer.data && answer.data.data) || {};
    if (data.wdata === "registerSuccess") {
      state.moduleId = data.moduleId;
      state.subscribed = codes.length;
      call("webnet.do", "setup", {server: pushServer, subjects: codes});
    }
  });
}

// ---------------------------------------------------------------- chart

function openChart(chart) {
  var frame = {left: CHART.left, top: CHART.top, right: CHART.right, bottom: CHART.bottom, zaxis: 1};
  call("chart.do", "create", frame, function (answer) {
    state.chartId = answer.data && answer.data.chartId;
    if (!state.chartId) return;
    call("chart.do", "start", {chartId: state.chartId, url: chart.url, available: 4}, function () {
      call("chart.do", "show", {chartId: state.chartId}, function () {
        state.chartShown = true;
        ready();
      });
    });
  });
}

// ---------------------------------------------------------------- services

function editWatchList() {
  call("sort.do", "callSortView", state.groups, function (answer) {
    if (answer.result !== 0 || !answer.data || !answer.data.length) return;
    state.groups = answer.data;
    call("store.do", "set", {key: "watchList", value: state.groups});
    renderBoard();
    result("watch", "已更新，自选 " + favourites().length + " 个");
  });
}

function alertPrice() {
  var q = state.quotes.USDCNY;
  call("nativedialog.do", "showAlert",
       {title: "到价提醒", content: "USD/CNY 买入 " + (q ? q.bid : "--") + "，设置到价提醒？", buttons: ["取消", "提醒我"]},
       function (answer) {
         var index = answer.data && answer.data.wdata;
         result("alert", "选择了第 " + index + " 个按钮（" + (index === 1 ? "提醒我" : "取消") + "）");
       });
}

function screenshot() {
  call("screenoperation.do", "screenShot", {}, function (answer) {
    var data = answer.data || {};
    if (data.success === "screenSuccess") {
      state.shot = data.filePath;
      result("shot", "已保存 " + String(data.filePath).split("/").pop());
    } else {
      result("shot", "截屏失败", "#d0402d");
    }
  });
}

function share() {
  call("shareoperation.do", "shareQxImage", {shareType: 0, filePath: state.shot}, function (answer) {
    var data = answer.data || {};
    result("share", data.content + "（" + data.resultCode + "）", data.resultCode === 0 ? "#1565c0" : "#d0402d");
  });
}

function switchEnvironment() {
  var next = state.envir === 1 ? 2 : 1;
  result("envir", "切换中…");
  call("handshakemanager.do", "changeHandShake", {envirType: next}, function (answer) {
    var ok = answer.data && answer.data.success === "success";
    if (ok) {
      state.envir = next;
      call("store.do", "memSet", {key: "envir", value: String(next)});
    }
    result("envir", (state.envir === 1 ? "当前：第一环境" : "当前：第二环境") + (ok ? "，握手成功" : "，握手失败"),
           ok ? "#1565c0" : "#d0402d");
  });
}

var LOCK_ARMED = "已开启：回到前台时锁定";

function armLock() {
  call("gesture.do", "registerGesture", {gestureURL: "lock/lock.html"}, function (answer) {
    result("lock", answer.result === 0 ? LOCK_ARMED : "开启失败", answer.result === 0 ? "#1565c0" : "#d0402d");
    if (answer.result === 0) call("store.do", "memSet", {key: "lock", value: "armed"});
  });
}

// The environment and the lock live as long as the client runs, and so does the store in memory:
// what the plug-ins confirmed there is what this page shows again after a reload.
function readBackState() {
  call("store.do", "memGet", {key: "envir"}, function (answer) {
    if (answer.data && answer.data.wdata === "2") {
      state.envir = 2;
      result("envir", "当前：第二环境");
    }
  });
  call("store.do", "memGet", {key: "lock"}, function (answer) {
    if (answer.data && answer.data.wdata === "armed") result("lock", LOCK_ARMED);
  });
}

function countVisits() {
  call("store.do", "get", {key: "visits"}, function (answer) {
    var count = (parseInt(answer.data && answer.data.wdata, 10) || 0) + 1;
    call("store.do", "set", {key: "visits", value: String(count)}, function (saved) {
      result("store", saved.result === 0 ? "已记录第 " + count + " 次" : "保存失败");
    });
  });
}

// The bank's price of USD/CNY, asked while the page waits under the client's overlay.
function refreshQuote() {
  result("refresh", "询价中…");
  server("quote", {pair: "USD/CNY"}, function (answer) {
    result("refresh", outcome(answer, function (d) { return d.pair + " " + d.bid + " / " + d.ask; }),
           answer.result === 0 ? "#1565c0" : "#d0402d");
  }, {timeout: 30, waiting: true});
}

// The chart laid over this page is left up: the client takes it away with the page.
function openNews() { location.href = "news/news.html"; }

// ---------------------------------------------------------------- start

function loadMarket() {
  server("watchList", {}, function (answer) {
    if (answer.result !== 0) return;
    var market = answer.data;
    call("store.do", "get", {key: "watchList"}, function (stored) {
      var kept = stored.data && stored.data.wdata;
      state.groups = kept && kept.length ? kept : market.groups;
      var codes = [];
      for (var g = 0; g < market.groups.length; ++g)
        for (var p = 0; p < market.groups[g].data.length; ++p) codes.push(market.groups[g].data[p].currencyCode);
      renderBoard();
      subscribe(market.push, codes);
      openChart(market.chart);
    });
  });
}

window.onload = function () {
  build();
  show("version", "version " + pageVersion);
  server("quote", {pair: "USD/CNY"}, function (a) {
    show("quote", "quote: " + outcome(a, function (d) { return d.pair + " " + d.bid + " / " + d.ask; }));
  });
  call("store.do", "set", {key: "lastVersion", value: pageVersion}, function (a) {
    show("store", "store set: " + outcome(a, function () { return "ok"; }));
    call("store.do", "get", {key: "lastVersion"}, function (b) {
      show("store", "store get: " + outcome(b, function (d) { return JSON.stringify(d); }));
    });
  });
  readBackState();
  loadMarket();
};
