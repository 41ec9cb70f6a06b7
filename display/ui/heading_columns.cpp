#include "display/ui/heading_columns.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

namespace veltaro {

std::vector<int> HeadingWordPositions(const QLabel& heading) {
    static const QRegularExpression kWord("\\S+(?: {1,2}\\S+)*");
    const QFontMetrics metrics(heading.font());
    const int left = heading.contentsRect().left();
    std::vector<int> positions;
    for (const QRegularExpressionMatch& word : kWord.globalMatch(heading.text())) {
        positions.push_back(left +
                            metrics.horizontalAdvance(heading.text().left(word.capturedStart())));
    }
    return positions;
}

namespace {
const QStyle& StyleOf(const QStyleOptionViewItem& option) {
    return option.widget != nullptr ? *option.widget->style() : *QApplication::style();
}

// The margin the style keeps on either side of an item's text.
int TextMargin(const QStyleOptionViewItem& option) {
    return StyleOf(option).pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
}
} // namespace

HeadingColumnsDelegate::HeadingColumnsDelegate(const QLabel& heading, int first_tabbed,
                                               QObject* parent)
    : QStyledItemDelegate(parent), heading_(heading) {
    const std::vector<int> words = HeadingWordPositions(heading);
    if (first_tabbed < static_cast<int>(words.size())) {
        tabbed_words_.assign(words.begin() + first_tabbed, words.end());
    }
}

QRect HeadingColumnsDelegate::TextRect(const QStyleOptionViewItem& option) {
    const QRect rect =
        StyleOf(option).subElementRect(QStyle::SE_ItemViewItemText, &option, option.widget);
    const int margin = TextMargin(option);
    return rect.adjusted(margin, 0, -margin, 0);
}

QList<qreal> HeadingColumnsDelegate::TabStops(const QStyleOptionViewItem& option,
                                              const QRect& text_rect) const {
    QList<qreal> tabs;
    const auto* list = qobject_cast<const QAbstractItemView*>(option.widget);
    if (list == nullptr) {
        return tabs;
    }
    // Items start at the viewport's left edge until the list is scrolled.
    const QPoint line_start(text_rect.left() - option.rect.left(), 0);
    const int start = heading_.mapFromGlobal(list->viewport()->mapToGlobal(line_start)).x();
    for (int word : tabbed_words_) {
        tabs.push_back(word - start);
    }
    return tabs;
}

void HeadingColumnsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QRect text_rect = TextRect(item);
    QTextOption layout(Qt::AlignLeft | Qt::AlignVCenter);
    layout.setWrapMode(QTextOption::NoWrap);
    layout.setTabArray(TabStops(item, text_rect));
    const QString text = item.text;

    item.text.clear(); // the style draws the row, the text is drawn here
    StyleOf(item).drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
    const QPalette::ColorGroup group =
        (item.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
    const QPalette::ColorRole role =
        (item.state & QStyle::State_Selected) != 0 ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setPen(item.palette.color(group, role));
    painter->setFont(item.font);
    painter->drawText(QRectF(text_rect), text, layout);
    painter->restore();
}

QSize HeadingColumnsDelegate::sizeHint(const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const int margin = TextMargin(item);
    item.rect = QRect(0, 0, 0, 0);
    QTextOption layout;
    layout.setTabArray(TabStops(item, QRect(margin, 0, 0, 0)));
    QTextLayout line(item.text, item.font);
    line.setTextOption(layout);
    line.beginLayout();
    const qreal text_width = line.createLine().naturalTextWidth();
    line.endLayout();
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(qCeil(text_width) + 2 * margin);
    return size;
}

} // namespace veltaro
