#include "core/platform/Dom.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const DomElement& emptyElement() {
    static const DomElement empty;
    return empty;
}
} // namespace

const DomElement& DomCollection::item(int i) const {
    const int index = indexOf(i);
    return index >= 0 && elements_ ? (*elements_)[index] : emptyElement();
}

const DomElement& Dom::at(int index) const {
    return index >= 0 && index < size() ? (*elements_)[index] : emptyElement();
}

DomCollection Dom::collect(int first, int last, const QString& tag) const {
    std::vector<int> found;
    const QString wanted = tag.toUpper();
    const bool any = wanted == QLatin1String("*");
    for (int i = first; i < last; ++i) {
        if (any || (*elements_)[i].tagName == wanted)
            found.push_back(i);
    }
    return DomCollection(elements_, std::move(found));
}

DomCollection Dom::getElementsByTagName(const QString& tag) const {
    return collect(0, size(), tag);
}

DomCollection Dom::getElementsByTagName(int index, const QString& tag) const {
    if (index < 0 || index >= size())
        return DomCollection(elements_, {});
    return collect(index + 1, (*elements_)[index].end, tag);
}

int Dom::getElementById(const QString& id) const {
    // Most elements have no id: an empty one must not match them.
    if (id.isEmpty())
        return -1;
    for (int i = 0; i < size(); ++i) {
        if ((*elements_)[i].id == id)
            return i;
    }
    return -1;
}

int Dom::append(int parent, DomElement element) {
    const int index = size();
    // A parent's descendants must stay one slice of the list: only an element whose slice
    // still reaches the end (the last one appended or one of its ancestors) can take more.
    if (parent < -1 || parent >= index || (parent >= 0 && (*elements_)[parent].end != index))
        return -1;
    if (!elements_)
        elements_ = std::make_shared<std::vector<DomElement>>();
    else if (elements_.use_count() > 1) // collections taken earlier keep what they saw
        elements_ = std::make_shared<std::vector<DomElement>>(*elements_);
    std::vector<DomElement>& list = *elements_;
    element.parent = parent;
    element.tagName = element.tagName.toUpper();
    element.end = index + 1;
    list.push_back(std::move(element));
    for (int p = parent; p >= 0; p = list[p].parent)
        list[p].end = index + 1;
    return index;
}

std::optional<Dom> Dom::fromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject root = doc.object();
    const QJsonValue list = root.value(QLatin1String("elements"));
    const QJsonValue url = root.value(QLatin1String("url"));
    if (!list.isArray() || !url.isString())
        return std::nullopt;
    Dom dom;
    dom.URL = url.toString();
    dom.title = root.value(QLatin1String("title")).toString();
    for (const QJsonValue& mark : root.value(QLatin1String("sm")).toArray())
        dom.scriptMarksFound.append(mark.toString());
    for (const QJsonValue& mark : root.value(QLatin1String("tm")).toArray())
        dom.textMarksFound.append(mark.toString());
    const QJsonArray elements = list.toArray();
    dom.elements_->reserve(elements.size());
    for (const QJsonValue& value : elements) {
        // Anything but our own answer (an element without a tag, a parent that is not a
        // whole number) is rejected whole rather than half read.
        const QJsonObject o = value.toObject();
        const QJsonValue tag = o.value(QLatin1String("t"));
        const QJsonValue parent = o.value(QLatin1String("p"));
        if (!value.isObject() || !tag.isString() || tag.toString().isEmpty() ||
            !parent.isDouble() || parent.toDouble() != double(parent.toInt(-2)))
            return std::nullopt;
        DomElement e;
        e.tagName = tag.toString();
        e.className = o.value(QLatin1String("c")).toString();
        e.innerText = o.value(QLatin1String("x")).toString();
        e.href = o.value(QLatin1String("h")).toString();
        e.name = o.value(QLatin1String("n")).toString();
        e.type = o.value(QLatin1String("y")).toString();
        e.id = o.value(QLatin1String("i")).toString();
        e.value = o.value(QLatin1String("v")).toString();
        e.src = o.value(QLatin1String("s")).toString();
        e.visible = o.value(QLatin1String("vis")).toBool(true);
        // Parents come before their children, and a parent's descendants are contiguous.
        if (dom.append(parent.toInt(), std::move(e)) < 0)
            return std::nullopt;
    }
    return dom;
}

static QJsonArray jsonArray(const QStringList& items, bool upper) {
    QJsonArray array;
    for (const QString& item : items)
        array.append(upper ? item.toUpper() : item);
    return array;
}

QString Dom::SnapshotScript(const QStringList& tags, const QStringList& textTags) {
    DomQuery query;
    query.tags = tags;
    query.textTags = textTags;
    return SnapshotScript(query);
}

QString Dom::SnapshotScript(const DomQuery& query) {
    // One pass over the document in order. A copied element's parent is its nearest copied
    // ancestor, found through the marks left on the copied nodes.
    //
    // Whether an element is shown is decided here, where the layout is: invisible links are
    // planted on some sites to catch programs that read the markup alone. An element counts
    // as hidden when it has no box (display: none here or above), a box of about no size, a
    // box placed above or left of the page, visibility other than visible, or an ancestor
    // that is see-through or clips it away (a box of no size with its overflow cut off, an
    // empty clip rectangle).
    static const char script[] = R"JS(
(function (q) {
  var want = {}, text = {}, vis = {};
  q.tags.forEach(function (t) { want[t] = true; });
  q.textTags.forEach(function (t) { text[t] = true; });
  q.visibilityTags.forEach(function (t) { vis[t] = true; });
  var tokens = q.classTokens, sourceTokens = q.sourceTextTokens || [];
  function holds(el, wanted) {
    var list = el.classList;
    if (!list || !wanted.length) return false;
    for (var k = 0; k < wanted.length; ++k) if (list.contains(wanted[k])) return true;
    return false;
  }
  function byClass(el) { return holds(el, tokens); }
  var hiding = new Map();
  function hides(node) {
    var known = hiding.get(node);
    if (known !== undefined) return known;
    var cs = getComputedStyle(node), verdict = parseFloat(cs.opacity) === 0;
    var root = node === document.body || node === document.documentElement;
    if (!verdict && !root && cs.display !== 'inline' &&
        (cs.overflowX !== 'visible' || cs.overflowY !== 'visible')) {
      var b = node.getBoundingClientRect();
      verdict = b.width < 1 || b.height < 1;
    }
    if (!verdict && (cs.position === 'absolute' || cs.position === 'fixed')) {
      var m = /^rect\((-?[\d.]+)px,?\s*(-?[\d.]+)px,?\s*(-?[\d.]+)px,?\s*(-?[\d.]+)px\)$/
                .exec(cs.clip || '');
      if (m && (parseFloat(m[2]) - parseFloat(m[4]) <= 1 ||
                parseFloat(m[3]) - parseFloat(m[1]) <= 1)) verdict = true;
    }
    hiding.set(node, verdict);
    return verdict;
  }
  function shown(el) {
    if (!el.getClientRects().length) return false;
    var r = el.getBoundingClientRect();
    if (r.width <= 1 || r.height <= 1) return false;
    if (r.right + window.scrollX <= 0 || r.bottom + window.scrollY <= 0) return false;
    if (getComputedStyle(el).visibility !== 'visible') return false;
    for (var up = el; up; up = up.parentElement) if (hides(up)) return false;
    return true;
  }
  var all = document.getElementsByTagName('*');
  var marks = new Map();
  var nodes = [], out = [];
  for (var i = 0; i < all.length; ++i) {
    var el = all[i];
    var tag = (el.tagName || '').toUpperCase();
    if (!want[tag] && !byClass(el)) continue;
    var parent = -1;
    for (var up = el.parentElement; up; up = up.parentElement) {
      var m = marks.get(up);
      if (m !== undefined) { parent = m; break; }
    }
    marks.set(el, nodes.length);
    nodes.push(el);
    // Properties only where they are plain strings: an SVG element's className and href
    // are objects, and a form's "id" may name one of its inputs.
    var cls = el.className, href = el.href, type = el.type, value = el.value, src = el.src;
    var item = {
      t: tag,
      c: typeof cls === 'string' ? cls : (el.getAttribute('class') || ''),
      x: holds(el, sourceTokens) ? (el.textContent || '')
                                 : text[tag] ? (el.innerText || '') : '',
      h: (tag === 'A' || tag === 'AREA') && typeof href === 'string' ? href : '',
      n: el.getAttribute('name') || '',
      y: (tag === 'INPUT' || tag === 'BUTTON') && typeof type === 'string' ? type : '',
      i: el.getAttribute('id') || '',
      v: (tag === 'INPUT' || tag === 'TEXTAREA' || tag === 'SELECT') &&
         typeof value === 'string' ? value : '',
      p: parent
    };
    if ((tag === 'IFRAME' || tag === 'FRAME') && typeof src === 'string') item.s = src;
    if (vis[tag]) item.vis = shown(el);
    out.push(item);
  }
  var scriptMarks = [], textMarks = [];
  if (q.scriptMarks.length) {
    var scripts = document.scripts;
    q.scriptMarks.forEach(function (mark) {
      for (var k = 0; k < scripts.length; ++k) {
        if (!scripts[k].src && (scripts[k].text || '').indexOf(mark) >= 0) {
          scriptMarks.push(mark);
          break;
        }
      }
    });
  }
  if (q.textMarks.length && document.body) {
    var shownText = (document.body.innerText || '').toLowerCase();
    q.textMarks.forEach(function (mark) {
      if (shownText.indexOf(mark.toLowerCase()) >= 0) textMarks.push(mark);
    });
  }
  window.__quillfetchNodes = nodes;
  return JSON.stringify({ url: document.URL, title: document.title || '', elements: out,
                          sm: scriptMarks, tm: textMarks });
})(%1)
)JS";
    QJsonObject q;
    q.insert(QLatin1String("tags"), jsonArray(query.tags, true));
    q.insert(QLatin1String("textTags"), jsonArray(query.textTags, true));
    q.insert(QLatin1String("visibilityTags"), jsonArray(query.visibilityTags, true));
    q.insert(QLatin1String("classTokens"), jsonArray(query.classTokens, false));
    q.insert(QLatin1String("sourceTextTokens"), jsonArray(query.sourceTextTokens, false));
    q.insert(QLatin1String("scriptMarks"), jsonArray(query.scriptMarks, false));
    q.insert(QLatin1String("textMarks"), jsonArray(query.textMarks, false));
    // The query travels as data, never as script text.
    return QString::fromUtf8(script).arg(
        QString::fromUtf8(QJsonDocument(q).toJson(QJsonDocument::Compact)));
}

QString Dom::SetValueScript(int index, const QString& value) {
    const QString quoted =
        QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    // Pages that check their fields on input or change events see what typing would show.
    return QStringLiteral("(function(){var n=window.__quillfetchNodes;var el=n&&n[%1];"
                          "if(!el||!el.isConnected)return false;el.value=%2[0];"
                          "el.dispatchEvent(new Event('input',{bubbles:true}));"
                          "el.dispatchEvent(new Event('change',{bubbles:true}));return true;})()")
        .arg(QString::number(index), quoted);
}

QString Dom::ClickScript(int index) {
    return QStringLiteral("(function(){var n=window.__quillfetchNodes;var el=n&&n[%1];"
                          "if(!el||!el.isConnected)return false;el.click();return true;})()")
        .arg(index);
}
