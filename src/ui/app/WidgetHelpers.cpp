#include "ui/app/WidgetHelpers.h"

#include "core/platform/KeyedListModel.h"
#include "ui/platform/KeyedListView.h"

#include <QAbstractItemView>
#include <QColor>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QScreen>
#include <QStringEncoder>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Rows measured exactly, after all rows have been ranked by an estimate.
constexpr int kExactlyMeasuredRows = 64;

// Estimates text widths from cached per-character advances. Shaping and kerning make the
// estimate differ from the drawn width by a few pixels at most, which is enough to rank
// 100,000 cells and measure only the widest few exactly.
class AdvanceEstimator {
public:
    explicit AdvanceEstimator(const QFont& font) : metrics_(font), basic_(0x10000, -1.0f) {}

    double width(const QString& text) {
        double total = 0;
        const qsizetype length = text.size();
        for (qsizetype i = 0; i < length; ++i) {
            const QChar ch = text.at(i);
            if (ch.isHighSurrogate() && i + 1 < length && text.at(i + 1).isLowSurrogate()) {
                total += supplementary(QChar::surrogateToUcs4(ch, text.at(i + 1)));
                ++i;
                continue;
            }
            float& advance = basic_[ch.unicode()];
            if (advance < 0)
                advance = static_cast<float>(metrics_.horizontalAdvance(ch));
            total += advance;
        }
        return total;
    }

private:
    double supplementary(char32_t codePoint) {
        const auto it = others_.constFind(codePoint);
        if (it != others_.cend())
            return it.value();
        const double advance = metrics_.horizontalAdvance(QString::fromUcs4(&codePoint, 1));
        others_.insert(codePoint, advance);
        return advance;
    }

    QFontMetricsF metrics_;
    std::vector<float> basic_;
    QHash<char32_t, double> others_;
};

// The width the widest cell of a column needs, margins and row icon included.
int contentWidth(KeyedListView* list, int column) {
    KeyedListModel* model = list->listModel();
    if (model == nullptr || model->Count() == 0)
        return 0;
    const int rows = model->Count();
    const int iconWidth = list->iconSize().isValid()
                              ? list->iconSize().width()
                              : list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);

    AdvanceEstimator estimator(list->font());
    std::vector<std::pair<double, int>> ranked; // (estimated width, row)
    ranked.reserve(rows);
    for (int position = 1; position <= rows; ++position) {
        const QString cell = column == 0 ? model->Text(position) : model->SubItem(position, column);
        double estimate = estimator.width(cell);
        if (column == 0 && model->SmallIcon(position) != 0)
            estimate += iconWidth;
        ranked.emplace_back(estimate, position - 1);
    }
    const auto exact = std::min<std::size_t>(ranked.size(), kExactlyMeasuredRows);
    std::partial_sort(ranked.begin(), ranked.begin() + exact, ranked.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });

    int widest = 0;
    for (std::size_t i = 0; i < exact; ++i)
        widest = std::max(widest,
                          list->sizeHintForIndex(model->index(ranked[i].second, column)).width());
    return widest;
}

// Length of a text as the combo box counts it: bytes in the multibyte code page, where a
// Chinese character takes two.
qsizetype codePageLength(QStringEncoder& encoder, const QString& text) {
    if (!encoder.isValid()) {
        qsizetype bytes = 0;
        for (const QChar ch : text)
            bytes += ch.unicode() < 0x80 ? 1 : 2;
        return bytes;
    }
    const QByteArray bytes = encoder.encode(text);
    return bytes.size();
}

} // namespace

void SetColumnWidth(KeyedListView* list, int column, int width) {
    if (list == nullptr || list->model() == nullptr)
        return;
    const int columns = list->model()->columnCount();
    if (column < 1 || column > columns)
        return;
    const int section = column - 1;
    QHeaderView* header = list->header();

    int pixels = width;
    if (width == kFitContents) {
        pixels = std::max(contentWidth(list, section), header->minimumSectionSize());
    } else if (width == kFitContentsAndHeader) {
        pixels = std::max(contentWidth(list, section), header->sectionSizeHint(section));
    } else if (width < 0) {
        return;
    }
    header->resizeSection(section, pixels);
}

void AutoSizeColumns(KeyedListView* list, int width) {
    if (list == nullptr || list->model() == nullptr)
        return;
    const int columns = list->model()->columnCount();
    for (int column = 1; column <= columns; ++column)
        SetColumnWidth(list, column, width);
}

void SetListStripes(KeyedListView* list, int rowHeightPx) {
    if (list == nullptr)
        return;
    list->SetRowHeight(rowHeightPx);
    list->SetStripes(QColor(231, 248, 237), QColor(Qt::white));
}

void FitComboDropDown(QComboBox* combo) {
    if (combo == nullptr || combo->view() == nullptr)
        return;
    const int count = combo->count();
    if (count == 0)
        return;

    QStringEncoder encoder("GB18030");
    int longest = 0;
    qsizetype longestLength = -1;
    for (int i = 0; i < count; ++i) {
        const qsizetype length = codePageLength(encoder, combo->itemText(i));
        if (length > longestLength) {
            longestLength = length;
            longest = i;
        }
    }

    const QFontMetrics metrics(combo->font());
    int width = metrics.horizontalAdvance(combo->itemText(longest)) + 7;
    // From nine entries on the list scrolls, and its scroll bar takes room from the text.
    if (count >= 9)
        width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);

    QScreen* screen = combo->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect geometry = screen->geometry();
        const int room = geometry.x() + geometry.width() - combo->mapToGlobal(QPoint(0, 0)).x();
        width = std::clamp(width, 0, std::max(room, 0));
    }
    combo->view()->setMinimumWidth(width);
}
