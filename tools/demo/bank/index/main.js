var pageVersion = "v2";
function show(id, text) { document.getElementById(id).textContent = text; }
function outcome(answer, good) { return answer.result === 0 ? good(answer.data) : "error " + answer.result + " " + JSON.stringify(answer.data); }
window.onload = function () {
  show("version", "version " + pageVersion);
  MwUI.Bridge.call("http://bank/mwframework.do?act=quote", "", {pair: "USD/CNY"}, {timeout: 20}, function (a) {
    show("quote", "quote: " + outcome(a, function (d) { return d.pair + " " + d.bid + " / " + d.ask; }));
  });
  MwUI.Bridge.call("store.do", "set", {key: "lastVersion", value: pageVersion}, {timeout: 5}, function (a) {
    show("store", "store set: " + outcome(a, function () { return "ok"; }));
    MwUI.Bridge.call("store.do", "get", {key: "lastVersion"}, {timeout: 5}, function (b) {
      show("store", "store get: " + outcome(b, function (d) { return JSON.stringify(d); }));
    });
  });
};
