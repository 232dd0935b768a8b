#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

// A read-only copy of the parts of a shown document that the program looks at. The browser
// fills it from one script call (see WebBrowser::Document); tests build one by hand.
//
// Elements are kept in document order. Each element knows its nearest copied ancestor and
// where its copied descendants end, so "the elements with tag X inside this one" is a slice
// of the list, not a tree walk.
struct DomElement {
    QString tagName; // upper case, as the browser reports it
    QString className;
    QString innerText; // the rendered text; copied only for the tags that asked for it
    QString href;      // anchors: the absolute address
    QString name;
    QString type;
    QString id;
    QString value;
    QString src; // frames: the absolute address of what they show
    // Whether the element takes up room on the page where a reader could see it. Worked out
    // in the page for the tags that asked for it (DomQuery::visibilityTags); true otherwise.
    bool visible = true;
    int parent = -1; // index of the nearest copied ancestor, -1 at the top
    int end = 0;     // one past the index of the last copied descendant
};

// Elements of a Dom picked by a query, in document order; items count from 0. A collection
// shares the elements with its Dom, so it stays valid when the Dom it came from is gone (as
// in `browser.Document(...)->getElementsByTagName("A")`).
class DomCollection {
public:
    DomCollection() = default;
    int length() const { return int(indices_.size()); }
    // An element with every field empty when `i` is out of range.
    const DomElement& item(int i) const;
    // The element's index in its Dom, for writes and nested queries; -1 when out of range.
    int indexOf(int i) const { return i >= 0 && i < length() ? indices_[i] : -1; }

private:
    friend class Dom;
    DomCollection(std::shared_ptr<const std::vector<DomElement>> elements, std::vector<int> indices)
        : elements_(std::move(elements)), indices_(std::move(indices)) {}
    std::shared_ptr<const std::vector<DomElement>> elements_;
    std::vector<int> indices_;
};

// What a copy of a document holds. Everything is asked for by name, so a copy holds no more
// than its reader's rules look at.
struct DomQuery {
    // Elements copied by tag, and those of them whose rendered text is copied.
    QStringList tags;
    QStringList textTags;
    // Elements of any tag copied because their class list holds one of these tokens.
    QStringList classTokens;
    // Copied elements whose class list holds one of these get their text as the markup has it
    // (textContent, blanks as written): rendered text carries the page's CSS upper-casing
    // ("KENNETH H. WILLIFORD"), which is no part of a name.
    QStringList sourceTextTokens;
    // Copied elements of these tags carry whether they are shown (DomElement::visible).
    QStringList visibilityTags;
    // Texts looked for in the document's inline scripts and in its rendered text (letter
    // case ignored for the latter); the ones found are listed in the copy.
    QStringList scriptMarks;
    QStringList textMarks;
};

class Dom {
public:
    // The document's address and title.
    QString URL;
    QString title;
    // The DomQuery::scriptMarks / textMarks that the document holds.
    QStringList scriptMarksFound;
    QStringList textMarksFound;

    int size() const { return elements_ ? int(elements_->size()) : 0; }
    // An element with every field empty when `index` is out of range.
    const DomElement& at(int index) const;

    // Every copied element with that tag (letter case ignored), in document order.
    DomCollection getElementsByTagName(const QString& tag) const;
    // The same, among the descendants of the element at `index`.
    DomCollection getElementsByTagName(int index, const QString& tag) const;
    // Index of the first element with that id, -1 when there is none (or `id` is empty).
    int getElementById(const QString& id) const;

    // Appends an element in document order under `parent`: -1 for the top, else an element
    // already appended that is the last one appended or one of its ancestors (anything else
    // would break document order). Returns the new element's index, or -1 (and appends
    // nothing) when `parent` is not such an element.
    int append(int parent, DomElement element);

    // The browser's answer to SnapshotScript(); nullopt when it is not such an answer.
    static std::optional<Dom> fromJson(const QByteArray& json);

    // A script that copies the document's elements with the given tags (and their rendered
    // text for `textTags`) and returns them as JSON for fromJson(). It also keeps the copied
    // nodes in the page, so that writes can address them by index afterwards.
    static QString SnapshotScript(const QStringList& tags, const QStringList& textTags);
    // The same for everything a DomQuery asks for; the query travels into the script as
    // JSON data.
    static QString SnapshotScript(const DomQuery& query);
    // Scripts that set an input's value / click an element of the last snapshot; they return
    // true when the element was still there.
    static QString SetValueScript(int index, const QString& value);
    static QString ClickScript(int index);

private:
    DomCollection collect(int first, int last, const QString& tag) const;
    // Shared with the collections taken from this Dom; append() copies first when shared.
    std::shared_ptr<std::vector<DomElement>> elements_ =
        std::make_shared<std::vector<DomElement>>();
};
