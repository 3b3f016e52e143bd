#include "container/MwPageBridgeScript.h"

namespace container {

const std::string& pageBridgeScript() {
  static const std::string script = R"JS((function (global) {
  if (global.MwPageBridge) return;
  var SEP = '__mwpb_sep__';
  var ESCAPED_SEP = '\\u005f_mwpb_sep__';
  var queue = [];
  var asked = false;
  var callbacks = {};
  var nextId = 1;
  var location = global.location;  // the page host's, which no page can replace

  global.MwPageBridge = {
    // Queues one message and asks the native side to fetch the queue (once per batch).
    _send: function (message) {
      var text = JSON.stringify(message);
      queue.push(text.indexOf(SEP) < 0 ? text : text.split(SEP).join(ESCAPED_SEP));
      if (!asked) {
        asked = true;
        location.href = 'mwpagebridge://queuehasmessage';
      }
    },
    // Every queued message, joined by the separator; the queue is emptied.
    _fetchQueue: function () {
      var text = queue.join(SEP);
      queue = [];
      asked = false;
      return text;
    }
  };

  var MwUI = global.MwUI || (global.MwUI = {});
  MwUI.Bridge = {
    // servlet: a servlet name ("chart.do") or a server URL ("https://host/app/trade.do?act=list").
    // options: timeout (seconds), waiting (overlay), block, cancelable. callback(answer) hears every
    // answer; it is kept while answers carry "continue": true.
    call: function (servlet, action, data, options, callback) {
      options = options || {};
      var id = 'mwpb' + (nextId++);
      var url = String(servlet).indexOf('://') >= 0 ? String(servlet)
          : 'client://' + servlet + '?action=' + encodeURIComponent(action === undefined ? '' : String(action));
      if (typeof callback === 'function') callbacks[id] = callback;
      global.MwPageBridge._send({
        url: url,
        data: data === undefined ? null : data,
        timeout: typeof options.timeout === 'number' ? options.timeout : -1,
        waiting: !!options.waiting,
        callback: 'MwUI.Bridge.sendMessage',
        requestId: id,
        block: !!options.block,
        cancelable: !!options.cancelable
      });
      return id;
    },
    // The native side's answers.
    sendMessage: function (answer) {
      if (!answer || typeof answer !== 'object') return;
      var id = answer.responseId;
      var callback = callbacks[id];
      if (answer['continue'] !== true) delete callbacks[id];
      if (callback) {
        try { callback(answer); } catch (e) { if (global.console) global.console.error(String(e)); }
      }
    }
  };
})(this);
)JS";
  return script;
}

}  // namespace container
