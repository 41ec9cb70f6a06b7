// Lists whose TAB-separated columns start under the words of a heading label
// above them. The headings line their words up with blanks; each list takes
// its tab stops from where those words stand.
#pragma once

#include <QStyledItemDelegate>

#include <vector>

class QLabel;

namespace veltaro {

// The x position of each heading word in the label, in the label's own
// coordinates. Heading words are parted by three or more blanks ("Pkt  ID" is
// one word).
std::vector<int> HeadingWordPositions(const QLabel& heading);

// Draws a list's lines with one tab stop under each heading word from
// first_tabbed on: the words before it head the columns that precede the
// first TAB.
class HeadingColumnsDelegate : public QStyledItemDelegate {
public:
    HeadingColumnsDelegate(const QLabel& heading, int first_tabbed, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // Where the style puts an item's text.
    static QRect TextRect(const QStyleOptionViewItem& option);
    // The tab stops, measured from where text_rect's line starts when unscrolled.
    QList<qreal> TabStops(const QStyleOptionViewItem& option, const QRect& text_rect) const;

    const QLabel& heading_;
    std::vector<int> tabbed_words_; // in the heading's coordinates
};

} // namespace veltaro
