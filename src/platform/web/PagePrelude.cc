// The page's window, document, element wrappers, console, timers, location and history, written
// in script over the natives of PageNatives.cc (timers are natives whole). It runs once per page
// before any other script, as a function of the natives object, and answers the hooks the web
// view calls (clicks, load).

namespace pf::web {

extern const char kPagePrelude[] = R"JS(function (N, global) {
'use strict';
var wrappers = {};
var listeners = {};          // key ('w' window, 'd' document, node id) -> {type: [fn]}

function report(e) { N.report(e); }
// A javascript: URL runs its code in the page, as a link of that kind does; any other URL is a
// navigation for the view. (The first letter is looked at before the pattern is made: the page
// bridge navigates for every call.)
function go(url) {
  url = String(url);
  if ((url.charCodeAt(0) | 32) === 106 && /^javascript:/i.test(url)) {
    var code = url.slice(11);
    try { code = decodeURIComponent(code); } catch (e) {}
    (0, eval)(code);
    return;
  }
  N.navigate(url);
}
function idOf(node) {
  if (node === null || typeof node !== 'object' || typeof node._fxId !== 'number') {
    throw new TypeError('not a node');
  }
  return node._fxId;
}
function accessor(obj, name, get, set) {
  Object.defineProperty(obj, name, { get: get, set: set || function () {}, enumerable: true, configurable: true });
}
function addListener(key, type, fn) {
  if (typeof fn !== 'function') return;
  var m = listeners[key] || (listeners[key] = {});
  var list = m[type] || (m[type] = []);
  if (list.indexOf(fn) < 0) list.push(fn);
}
function removeListener(key, type, fn) {
  var m = listeners[key];
  if (!m || !m[type]) return;
  var i = m[type].indexOf(fn);
  if (i >= 0) m[type].splice(i, 1);
}
function callListeners(key, target, ev) {
  var h = target['on' + ev.type];
  if (typeof h === 'function') { try { h.call(target, ev); } catch (e) { report(e); } }
  var m = listeners[key];
  var list = m && m[ev.type] ? m[ev.type].slice() : [];
  for (var i = 0; i < list.length && !ev._stopNow; i++) {
    try { list[i].call(target, ev); } catch (e) { report(e); }
  }
}
function makeEvent(type, target) {
  return {
    type: type, target: target, currentTarget: null, defaultPrevented: false, bubbles: true,
    _stop: false, _stopNow: false,
    preventDefault: function () { this.defaultPrevented = true; },
    stopPropagation: function () { this._stop = true; },
    stopImmediatePropagation: function () { this._stop = true; this._stopNow = true; }
  };
}

var stylePropertyNames = {
  display: 'display', color: 'color', backgroundColor: 'background-color', background: 'background',
  fontSize: 'font-size', fontWeight: 'font-weight', textAlign: 'text-align',
  margin: 'margin', marginTop: 'margin-top', marginBottom: 'margin-bottom', marginLeft: 'margin-left',
  marginRight: 'margin-right', padding: 'padding', paddingTop: 'padding-top',
  paddingBottom: 'padding-bottom', paddingLeft: 'padding-left', paddingRight: 'padding-right'
};
function Style(id) { Object.defineProperty(this, '_fxId', { value: id }); }
Object.keys(stylePropertyNames).forEach(function (js) {
  var css = stylePropertyNames[js];
  accessor(Style.prototype, js,
    function () { return N.getStyle(this._fxId, css); },
    function (v) { N.setStyle(this._fxId, css, v === null || v === undefined ? '' : String(v)); });
});
accessor(Style.prototype, 'cssText',
  function () { return N.getAttr(this._fxId, 'style') || ''; },
  function (v) { N.setAttr(this._fxId, 'style', String(v)); });
Style.prototype.setProperty = function (name, value) { N.setStyle(this._fxId, String(name), String(value)); };
Style.prototype.getPropertyValue = function (name) { return N.getStyle(this._fxId, String(name)); };

var Node = function () { throw new TypeError('Illegal constructor'); };
var NP = Node.prototype;
function wrap(id) {
  if (typeof id !== 'number' || id < 0) return null;
  var w = wrappers[id];
  if (!w) {
    w = Object.create(NP);
    Object.defineProperty(w, '_fxId', { value: id });
    wrappers[id] = w;
  }
  return w;
}
function wrapAll(ids) { var out = []; for (var i = 0; i < ids.length; i++) out.push(wrap(ids[i])); return out; }
function attrAccessor(name, attr) {
  accessor(NP, name,
    function () { var v = N.getAttr(this._fxId, attr); return v === null ? '' : v; },
    function (v) { N.setAttr(this._fxId, attr, String(v)); });
}

accessor(NP, 'nodeType', function () { return N.kind(this._fxId); });
accessor(NP, 'tagName', function () { return N.kind(this._fxId) === 1 ? N.tag(this._fxId).toUpperCase() : undefined; });
accessor(NP, 'nodeName', function () { return N.kind(this._fxId) === 1 ? N.tag(this._fxId).toUpperCase() : '#text'; });
accessor(NP, 'localName', function () { return N.tag(this._fxId); });
attrAccessor('id', 'id');
attrAccessor('className', 'class');
attrAccessor('href', 'href');
attrAccessor('src', 'src');
attrAccessor('name', 'name');
attrAccessor('type', 'type');
attrAccessor('value', 'value');
accessor(NP, 'textContent', function () { return N.getText(this._fxId); },
  function (v) { N.setText(this._fxId, v === null || v === undefined ? '' : String(v)); });
accessor(NP, 'innerText', function () { return N.getText(this._fxId); },
  function (v) { N.setText(this._fxId, v === null || v === undefined ? '' : String(v)); });
accessor(NP, 'nodeValue', function () { return N.kind(this._fxId) === 3 ? N.getText(this._fxId) : null; },
  function (v) { if (N.kind(this._fxId) === 3) N.setText(this._fxId, String(v)); });
accessor(NP, 'data', function () { return N.getText(this._fxId); },
  function (v) { N.setText(this._fxId, String(v)); });
accessor(NP, 'innerHTML', function () { return N.getHtml(this._fxId); },
  function (v) { N.setHtml(this._fxId, v === null || v === undefined ? '' : String(v)); });
accessor(NP, 'parentNode', function () { return wrap(N.parent(this._fxId)); });
accessor(NP, 'parentElement', function () { return wrap(N.parent(this._fxId)); });
accessor(NP, 'children', function () { return wrapAll(N.children(this._fxId, true)); });
accessor(NP, 'childNodes', function () { return wrapAll(N.children(this._fxId, false)); });
accessor(NP, 'firstChild', function () { var c = N.children(this._fxId, false); return c.length ? wrap(c[0]) : null; });
accessor(NP, 'lastChild', function () { var c = N.children(this._fxId, false); return c.length ? wrap(c[c.length - 1]) : null; });
accessor(NP, 'ownerDocument', function () { return document; });
accessor(NP, 'style', function () {
  if (!this._fxStyle) Object.defineProperty(this, '_fxStyle', { value: new Style(this._fxId) });
  return this._fxStyle;
});
NP.getAttribute = function (n) { return N.getAttr(this._fxId, String(n)); };
NP.setAttribute = function (n, v) { N.setAttr(this._fxId, String(n), String(v)); };
NP.removeAttribute = function (n) { N.removeAttr(this._fxId, String(n)); };
NP.hasAttribute = function (n) { return N.getAttr(this._fxId, String(n)) !== null; };
NP.appendChild = function (c) { N.insert(this._fxId, idOf(c), -1); return c; };
NP.insertBefore = function (c, ref) { N.insert(this._fxId, idOf(c), ref ? idOf(ref) : -1); return c; };
NP.removeChild = function (c) {
  if (!N.remove(this._fxId, idOf(c))) throw new Error('NotFoundError: the node is not a child of this node');
  return c;
};
NP.replaceChild = function (n, old) { N.insert(this._fxId, idOf(n), idOf(old)); this.removeChild(old); return old; };
// Queries look below the node; on the document (scope -1) the root element counts too.
function scopeOf(node) { return node === document ? -1 : node._fxId; }
NP.querySelector = function (s) { var r = N.query(scopeOf(this), String(s), false); return r.length ? wrap(r[0]) : null; };
NP.querySelectorAll = function (s) { return wrapAll(N.query(scopeOf(this), String(s), true)); };
NP.getElementsByTagName = function (t) { return wrapAll(N.query(scopeOf(this), String(t), true)); };
NP.getElementsByClassName = function (c) {
  var names = String(c).trim();
  if (names === '') return [];
  return wrapAll(N.query(scopeOf(this), names.split(/\s+/).map(function (x) { return '.' + x; }).join(''), true));
};
NP.addEventListener = function (type, fn) { addListener(this._fxId, String(type), fn); };
NP.removeEventListener = function (type, fn) { removeListener(this._fxId, String(type), fn); };
NP.click = function () { dispatchClick(this._fxId); };
NP.hasChildNodes = function () { return N.children(this._fxId, false).length > 0; };
NP.contains = function (other) {
  for (var n = other ? idOf(other) : -1; n >= 0; n = N.parent(n)) if (n === this._fxId) return true;
  return false;
};
NP.toString = function () { return '[object HTML' + (N.kind(this._fxId) === 1 ? 'Element' : 'Text') + ']'; };

function dispatchClick(id) {
  var ev = makeEvent('click', wrap(id));
  var path = [];
  for (var n = id; n >= 0; n = N.parent(n)) path.push(n);
  for (var i = 0; i < path.length && !ev._stop; i++) {
    ev.currentTarget = wrap(path[i]);
    callListeners(path[i], ev.currentTarget, ev);
  }
  if (!ev._stop) { ev.currentTarget = document; callListeners('d', document, ev); }
  if (!ev._stop) { ev.currentTarget = global; callListeners('w', global, ev); }
  if (ev.defaultPrevented) return;
  for (var j = 0; j < path.length; j++) {
    if (N.tag(path[j]) === 'a') {
      var href = N.getAttr(path[j], 'href');
      if (href !== null && href !== '' && href.charAt(0) !== '#') {
        try { go(href); } catch (e) { report(e); }
      }
      return;
    }
  }
}

var document = Object.create(NP);
Object.defineProperty(document, '_fxId', { value: N.root() });
accessor(document, 'documentElement', function () { return wrap(N.root()); });
accessor(document, 'head', function () { return wrap(N.head()); });
accessor(document, 'body', function () { return wrap(N.body()); });
accessor(document, 'title', function () { return N.getTitle(); }, function (v) { N.setTitle(String(v)); });
accessor(document, 'nodeType', function () { return 9; });
accessor(document, 'readyState', function () { return N.readyState(); });
accessor(document, 'location', function () { return location; }, go);
document.getElementById = function (id) { return wrap(N.byId(String(id))); };
document.createElement = function (tag) { return wrap(N.create(String(tag))); };
document.createTextNode = function (text) { return wrap(N.createText(String(text))); };
document.addEventListener = function (type, fn) { addListener('d', String(type), fn); };
document.removeEventListener = function (type, fn) { removeListener('d', String(type), fn); };
document.toString = function () { return '[object HTMLDocument]'; };

var location = {};
accessor(location, 'href', function () { return N.href(); }, go);
accessor(location, 'pathname', function () { return N.href().replace(/^file:\/\//, '').replace(/[?#].*$/, ''); });
location.assign = go;
location.replace = go;
location.reload = function () { N.navigate(N.href()); };
location.toString = function () { return N.href(); };

var history = {
  back: function () { N.back(); },
  go: function (n) { if (Number(n) < 0) N.back(); },
  forward: function () {}
};
accessor(history, 'length', function () { return 1; });

var navigator = {};
accessor(navigator, 'userAgent', function () { return N.userAgent(); });

function text(args) {
  var parts = [];
  for (var i = 0; i < args.length; i++) {
    var a = args[i];
    if (typeof a === 'object' && a !== null && !(a instanceof Error) && typeof a._fxId !== 'number') {
      try { a = JSON.stringify(a); } catch (e) { a = String(a); }
    }
    parts.push(String(a));
  }
  return parts.join(' ');
}
var console = {};
['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
  console[level] = function () { N.log(level, text(arguments)); };
});

function define(name, value) {
  Object.defineProperty(global, name, { value: value, writable: true, configurable: true, enumerable: false });
}
define('window', global);
define('self', global);
define('document', document);
define('navigator', navigator);
define('history', history);
define('console', console);
define('Node', Node);
define('setTimeout', N.setTimeout);
define('setInterval', N.setInterval);
define('clearTimeout', N.clearTimer);
define('clearInterval', N.clearTimer);
define('addEventListener', function (type, fn) { addListener('w', String(type), fn); });
define('removeEventListener', function (type, fn) { removeListener('w', String(type), fn); });
define('alert', function (msg) { N.log('alert', String(msg)); });
Object.defineProperty(global, 'location', {
  get: function () { return location; },
  set: go,
  enumerable: true, configurable: false
});

return {
  click: function (id) { dispatchClick(id); },
  load: function () {
    var ev = makeEvent('DOMContentLoaded', document);
    callListeners('d', document, ev);
    ev = makeEvent('load', global);
    callListeners('w', global, ev);
  }
};
})JS";

}  // namespace pf::web
