#include "LineNumberGutter.h"

#include "Chrome.h"
#include "CodeEditor.h"

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSet>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolTip>

namespace pelorin {

namespace {

constexpr int LeftPadding = 6;
constexpr int RightPadding = 8;
constexpr int MinimumDigits = 2;

}  // namespace

LineNumberGutter::LineNumberGutter(CodeEditor* editor) : QWidget(editor), editor_(editor) {
    // paintEvent fills all it is asked to paint: nothing below needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int LineNumberGutter::preferredWidth() const {
    int digits = 1;
    for (int count = qMax(1, editor_->blockCount()); count >= 10; count /= 10)
        ++digits;
    digits = qMax(digits, MinimumDigits);
    return LeftPadding + digits * QFontMetrics(editor_->font()).horizontalAdvance(u'9') + RightPadding;
}

QSize LineNumberGutter::sizeHint() const { return QSize(preferredWidth(), 0); }

void LineNumberGutter::paintEvent(QPaintEvent* event) {
    const SyntaxColors& colors = editor_->colors();
    QPainter painter(this);
    painter.fillRect(event->rect(), colors.gutterBackground);
    painter.setFont(editor_->font());
    const int lineHeight = QFontMetrics(editor_->font()).height();
    const int current = editor_->textCursor().blockNumber();
    const int error = editor_->errorLine() - 1;
    const int textWidth = width() - RightPadding;
    QSet<int> warned;
    for (int line : editor_->warningLines())
        warned.insert(line - 1);

    QTextBlock block = editor_->firstShownBlock();
    int number = block.blockNumber();
    qreal top = editor_->blockArea(block).top();
    qreal bottom = top + editor_->blockArea(block).height();
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            const bool warning = warned.contains(number);
            if (warning)
                painter.fillRect(QRectF(0, top, WarningBarWidth, bottom - top), colors.warningMark);
            painter.setPen(number == error     ? colors.errorLineNumber
                           : warning           ? colors.warningMark
                           : number == current ? colors.currentLineNumber
                                               : colors.lineNumber);
            painter.drawText(0, qRound(top), textWidth, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(number + 1));
        }
        block = block.next();
        top = bottom;
        bottom = top + editor_->blockArea(block).height();
        ++number;
    }
}

int LineNumberGutter::blockAt(int y) const {
    for (QTextBlock block = editor_->firstShownBlock(); block.isValid(); block = block.next()) {
        const QRectF box = editor_->blockArea(block);
        if (box.top() > y)
            break;
        if (block.isVisible() && box.bottom() >= y)
            return block.blockNumber();
    }
    return -1;
}

bool LineNumberGutter::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const int number = blockAt(help->pos().y());
    const QStringList texts = number >= 0 ? editor_->warningsAt(number + 1) : QStringList();
    if (texts.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const QString text = chrome::plainToolTip(texts.join(u'\n'));
    const QTextBlock block = editor_->document()->findBlockByNumber(number);
    const QRect row = editor_->blockArea(block).toAlignedRect();
    QToolTip::showText(help->globalPos(), text, this, QRect(0, row.top(), width(), row.height()));
    return true;
}

}  // namespace pelorin
