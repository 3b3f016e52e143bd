#include "container/MwPageBridgeScript.h"

namespace container {

const std::string& pageBridgeScript() {
  static const std::string script = R"JS((function (global) {
  if (global.MwPageBridge) return;
  var SEP = '__mwpb_sep__';
  var ESCAPED_SEP = '\\u005f_mwpb_sep__';
  var ASK = 'mwpagebridge://queuehasmessage';
  // Most characters of queued text one fetch joins; a longer message goes alone.
  var PIECE = 1 << 20;
  var queue = [];
  var head = 0;     // queue[head] is the next message to hand over
  var asked = false;
  var callbacks = {};
  var nextId = 1;
  var location = global.location;  // the page host's, which no page can replace

  // Asks the native side to fetch the queue. Should even that fail (no room left in the heap),
  // the flag stays down and the next message asks.
  function ask() {
    try {
      location.href = ASK;
      asked = true;
    } catch (e) {
      asked = false;
    }
  }

  global.MwPageBridge = {
    // Queues one message and asks the native side to fetch the queue (once per batch).
    _send: function (message) {
      var text = JSON.stringify(message);
      queue.push(text.indexOf(SEP) < 0 ? text : text.split(SEP).join(ESCAPED_SEP));
      if (!asked) ask();
    },
    // The next queued messages, joined by the separator, and taken off the queue: the first one
    // and those behind it while the text stays within PIECE (a message is handed over as it lies
    // in the queue, never copied whole, when it is alone). What is left is asked for again.
    _fetchQueue: function () {
      var text = '';
      try {
        if (head < queue.length) {
          var end = head + 1, size = queue[head].length;
          while (end < queue.length && size + SEP.length + queue[end].length <= PIECE) {
            size += SEP.length + queue[end].length;
            end++;
          }
          try {
            text = end === head + 1 ? queue[head] : queue.slice(head, end).join(SEP);
          } catch (e) {
            end = head + 1;  // no room to join them: the first goes alone
            text = queue[head];
          }
          while (head < end) queue[head++] = null;  // what went over is the page's no more
        }
      } finally {
        if (head >= queue.length) {
          queue.length = 0;
          head = 0;
        }
        asked = false;
        if (head < queue.length) ask();
      }
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
      try {
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
      } catch (e) {
        delete callbacks[id];  // a call that could not be queued keeps no callback
        throw e;
      }
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
