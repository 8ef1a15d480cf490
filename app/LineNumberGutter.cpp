#include "LineNumberGutter.h"

#include "CodeEditor.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>

namespace pelorin {

namespace {

constexpr int LeftPadding = 6;
constexpr int RightPadding = 8;
constexpr int MinimumDigits = 2;

}  // namespace

LineNumberGutter::LineNumberGutter(CodeEditor* editor) : QWidget(editor), editor(editor) {}

int LineNumberGutter::preferredWidth() const {
    int digits = 1;
    for (int count = qMax(1, editor->blockCount()); count >= 10; count /= 10)
        ++digits;
    digits = qMax(digits, MinimumDigits);
    return LeftPadding + digits * QFontMetrics(editor->font()).horizontalAdvance(u'9') + RightPadding;
}

QSize LineNumberGutter::sizeHint() const { return QSize(preferredWidth(), 0); }

void LineNumberGutter::paintEvent(QPaintEvent* event) {
    const SyntaxColors& colors = editor->colors();
    QPainter painter(this);
    painter.fillRect(event->rect(), colors.gutterBackground);
    painter.setFont(editor->font());
    const int lineHeight = QFontMetrics(editor->font()).height();
    const int current = editor->textCursor().blockNumber();
    const int error = editor->errorLine() - 1;
    const int textWidth = width() - RightPadding;

    QTextBlock block = editor->firstVisibleBlock();
    int number = block.blockNumber();
    qreal top = editor->blockBoundingGeometry(block).translated(editor->contentOffset()).top();
    qreal bottom = top + editor->blockBoundingRect(block).height();
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.setPen(number == error     ? colors.errorLineNumber
                           : number == current ? colors.currentLineNumber
                                               : colors.lineNumber);
            painter.drawText(0, qRound(top), textWidth, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(number + 1));
        }
        block = block.next();
        top = bottom;
        bottom = top + editor->blockBoundingRect(block).height();
        ++number;
    }
}

}  // namespace pelorin
