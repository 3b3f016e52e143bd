#include "PageFixture.h"

namespace webtest {
namespace {

class PageDom : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    load(R"(<div id="list" class="box main">
              <ul><li class="item first">one</li><li class="item">two <b class="item">2</b></li></ul>
              <p class="note">note &amp; &lt;more&gt;</p>
            </div>
            <div id="other"><span class="item">x</span></div>)");
  }
};

TEST_F(PageDom, QueriesByIdTagClassAndCombinators) {
  EXPECT_EQ(eval("document.querySelectorAll('.item').length"), "4");
  EXPECT_EQ(eval("document.querySelectorAll('li.item').length"), "2");
  EXPECT_EQ(eval("document.querySelector('li.item.first').textContent"), "one");
  EXPECT_EQ(eval("document.querySelectorAll('#list .item').length"), "3");
  EXPECT_EQ(eval("document.querySelectorAll('ul > .item').length"), "2");
  EXPECT_EQ(eval("document.querySelectorAll('div > .item').length"), "1");
  EXPECT_EQ(eval("document.querySelectorAll('p, span, #nothing').length"), "2");
  EXPECT_EQ(eval("document.querySelectorAll('*').length > 10"), "true");
  EXPECT_EQ(eval("document.getElementById('list').querySelectorAll('div .item').length"), "3");
  EXPECT_EQ(eval("document.getElementsByClassName('box main')[0].id"), "list");
  EXPECT_EQ(eval("document.getElementsByTagName('LI').length"), "2");
  EXPECT_EQ(eval("document.querySelector('.missing')"), "null");
  EXPECT_EQ(eval("document.querySelector('html') === document.documentElement"), "true");
  EXPECT_EQ(eval("document.documentElement.querySelector('html')"), "null");
  EXPECT_EQ(eval("document.getElementsByClassName('  ').length"), "0");
  EXPECT_EQ(eval("try { document.querySelector('a[href]'); 'no' } catch (e) { e.name }"), "SyntaxError");
  EXPECT_EQ(eval("try { document.querySelector('p >'); 'no' } catch (e) { e.name }"), "SyntaxError");
  // A long chain of descendant steps over a deep tree answers at once.
  EXPECT_EQ(eval("var n = document.body; for (var i = 0; i < 200; i++) {"
                 " var c = document.createElement('div'); n.appendChild(c); n = c; }"
                 "var chain = []; for (var j = 0; j < 30; j++) chain.push('div');"
                 "[document.querySelectorAll(chain.join(' ') + ' span').length,"
                 " document.querySelectorAll(chain.join(' ')).length].join()"),
            "0,171");
  EXPECT_EQ(eval("try { document.querySelector(chain.concat(chain).join(' ')); 'no' } catch (e) { e.name }"),
            "SyntaxError");
  // The same node is always the same object, and keeps what the page put on it.
  EXPECT_EQ(eval("var l = document.getElementById('list'); l.mark = 7;"
                 "document.querySelector('#list') === l && document.querySelector('.box').mark"),
            "7");
}

TEST_F(PageDom, TextHtmlAttributesAndStyle) {
  EXPECT_EQ(eval("document.querySelector('.note').textContent"), "note & <more>");
  EXPECT_EQ(eval("document.querySelector('.note').innerHTML"), "note &amp; &lt;more&gt;");
  EXPECT_EQ(eval("var o = document.getElementById('other');"
                 "o.innerHTML = '<b id=\"n\" title=\"a&quot;b\">new</b> text<script>window.ran = 1</script>';"
                 "[o.children.length, document.getElementById('n').getAttribute('title'),"
                 " typeof window.ran, o.textContent].join('|')"),
            "2|a\"b|undefined|new textwindow.ran = 1");
  EXPECT_EQ(eval("o.innerHTML"), "<b id=\"n\" title=\"a&quot;b\">new</b> text<script>window.ran = 1</script>");
  EXPECT_EQ(eval("o.innerText = '<i>plain</i>'; [o.children.length, o.innerHTML].join('|')"),
            "0|&lt;i&gt;plain&lt;/i&gt;");

  EXPECT_EQ(eval("o.className = 'a b'; o.getAttribute('class') + '|' + o.hasAttribute('id') + '|' +"
                 "o.getAttribute('nope')"),
            "a b|true|null");
  EXPECT_EQ(eval("o.removeAttribute('class'); o.className"), "");
  EXPECT_EQ(eval("o.style.color = 'red'; o.style.backgroundColor = '#fff'; o.getAttribute('style')"),
            "background-color: #fff; color: red;");
  EXPECT_EQ(eval("o.setAttribute('style', 'font-size: 12px; display:none'); o.style.fontSize + o.style.display"),
            "12pxnone");
  EXPECT_EQ(eval("o.style.display = ''; o.style.cssText"), "font-size: 12px;");
}

TEST_F(PageDom, TreeChangesKeepTheTreeSound) {
  EXPECT_EQ(eval("var d = document.createElement('DIV'); d.id = 'made';"
                 "d.appendChild(document.createTextNode('hello'));"
                 "document.body.appendChild(d);"
                 "[d.tagName, d.parentNode === document.body, document.getElementById('made').textContent].join()"),
            "DIV,true,hello");
  // Moving a node takes it from its old parent.
  EXPECT_EQ(eval("var li = document.querySelector('li'); document.getElementById('other').appendChild(li);"
                 "document.querySelectorAll('ul > li').length + ',' + li.parentNode.id"),
            "1,other");
  EXPECT_EQ(eval("var ul = document.querySelector('ul'); ul.insertBefore(li, ul.firstChild);"
                 "ul.children[0] === li"),
            "true");
  EXPECT_EQ(eval("ul.removeChild(li); [li.parentNode, ul.children.length].join()"), ",1");
  EXPECT_EQ(eval("try { ul.removeChild(li); 'no' } catch (e) { e.message }"),
            "NotFoundError: the node is not a child of this node");
  // A node never goes inside itself, and trees stay shallow enough to walk.
  EXPECT_EQ(eval("try { ul.appendChild(document.getElementById('list')); 'no' } catch (e) { e.message.split(':')[0] }"),
            "HierarchyRequestError");
  EXPECT_EQ(eval("var top = document.createElement('div'), n = top, depth = 0;"
                 "try { for (var i = 0; i < 1000; i++) { var c = document.createElement('div'); n.appendChild(c);"
                 " n = c; depth++; } } catch (e) {}"
                 "depth > 200 && depth < 300"),
            "true");
  EXPECT_EQ(eval("document.body.contains(d) && !document.body.contains(li)"), "true");
}

TEST_F(PageDom, TitleAndEvents) {
  EXPECT_EQ(eval("document.title"), "T");
  eval("document.title = 'New title'");
  EXPECT_EQ(view->title(), "New title");
  pump();
  EXPECT_EQ(delegate->titles.back(), "New title");

  pf::LogCapture log;
  EXPECT_EQ(eval(R"(var seen = [];
    var b = document.querySelector('b'), li = b.parentNode;
    function first() { seen.push('b1'); throw new Error('listener fails'); }
    b.addEventListener('click', first);
    b.addEventListener('click', function () { seen.push('b2'); });
    li.addEventListener('click', function (e) { seen.push('li'); e.stopPropagation(); });
    document.getElementById('list').onclick = function () { seen.push('list'); };
    b.click(); b.removeEventListener('click', first); b.click();
    seen.join())"),
            "b1,b2,li,b2,li");
  EXPECT_TRUE(log.contains("listener fails"));

  // A prevented link does not navigate.
  eval("var a = document.createElement('a'); a.href = 'elsewhere.html'; a.textContent = 'go';"
       "document.body.appendChild(a); a.onclick = function (e) { e.preventDefault(); }; a.click()");
  pump();
  EXPECT_TRUE(delegate->requests.empty());
  eval("a.onclick = null; a.click()");
  pump();
  EXPECT_EQ(delegate->requests, std::vector<std::string>{"elsewhere.html"});
}

}  // namespace
}  // namespace webtest
