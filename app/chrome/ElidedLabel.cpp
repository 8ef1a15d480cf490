#include "ElidedLabel.h"

#include <QPainter>
#include <QStyle>

namespace pelorin {

namespace {

constexpr QChar Ellipsis(0x2026);

// The text up to its first line break.
QString firstLine(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && text.at(end) != u'\n' && text.at(end) != u'\r' && text.at(end) != QChar(0x2028) &&
           text.at(end) != QChar(0x2029))
        ++end;
    return text.left(end);
}

}  // namespace

ElidedLabel::ElidedLabel(QWidget* parent) : ChromeLabel(QAccessible::StaticText, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

int ElidedLabel::room() const {
    int width = contentsRect().width();
    if (const QWidget* parent = parentWidget())
        width = qMin(width, parent->width() - x() - contentsMargins().left() - contentsMargins().right());
    return qMax(0, width);
}

QString ElidedLabel::shownText() const {
    const QString whole = text();
    const QString line = firstLine(whole);
    const QFontMetrics metrics(font());
    const int space = room();
    if (line.size() == whole.size())
        return metrics.horizontalAdvance(whole) <= space ? whole : metrics.elidedText(whole, Qt::ElideRight, space);
    // Several lines: the first, always ended with the ellipsis (cut like a
    // single line when even that is too wide; it then ends in one too).
    return metrics.elidedText(line + Ellipsis, Qt::ElideRight, space);
}

bool ElidedLabel::isElided() const { return !text().isEmpty() && shownText() != text(); }

QSize ElidedLabel::sizeHint() const {
    const QString whole = text();
    const QString line = firstLine(whole);
    if (line.size() == whole.size())
        return QLabel::sizeHint();
    const QFontMetrics metrics(font());
    const QMargins margins = contentsMargins();
    return QSize(metrics.horizontalAdvance(line + Ellipsis) + margins.left() + margins.right(),
                 metrics.height() + margins.top() + margins.bottom());
}

QSize ElidedLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    return QSize(margins.left() + margins.right(), sizeHint().height());
}

void ElidedLabel::paintText(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        ChromeLabel::paintText(event);
        return;
    }
    QPainter painter(this);
    QRect area = contentsRect();
    area.setWidth(room());
    style()->drawItemText(&painter, area, int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}

}  // namespace pelorin
