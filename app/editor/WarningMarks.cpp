#include "WarningMarks.h"

#include "CodeEditor.h"

#include <QMap>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace pelorin {
namespace {

// Between the messages drawn after one line's text.
const QString Separator = QStringLiteral("  \u00b7  ");

}  // namespace

WarningMarks::WarningMarks(CodeEditor* editor) : editor_(editor) {}

bool WarningMarks::set(const QList<EditorWarning>& warnings) {
    QTextDocument* document = editor_->document();
    QMap<int, QStringList> byBlock;
    for (const EditorWarning& warning : warnings) {
        const int line = warning.line >= 1 && warning.line <= document->blockCount() ? warning.line : 1;
        byBlock[line - 1].append(warning.text);
    }

    bool same = byBlock.size() == lines_.size();
    auto wanted = byBlock.cbegin();
    for (qsizetype i = 0; same && i < lines_.size(); ++i, ++wanted)
        same = lines_.at(i).anchor.blockNumber() == wanted.key() && lines_.at(i).texts == wanted.value();
    if (same)
        return false;

    lines_.clear();
    lines_.reserve(byBlock.size());
    for (auto it = byBlock.cbegin(); it != byBlock.cend(); ++it)
        lines_.append({QTextCursor(document->findBlockByNumber(it.key())), it.value(), inlineText(it.value())});
    return true;
}

QList<int> WarningMarks::lineNumbers() const {
    QList<int> numbers;
    numbers.reserve(lines_.size());
    for (const Line& line : lines_)
        numbers.append(line.anchor.blockNumber() + 1);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

QStringList WarningMarks::textsAt(int blockNumber) const {
    // Lines merged by an edit keep all their warnings, in line order.
    QStringList texts;
    for (const Line& line : lines_) {
        if (line.anchor.blockNumber() == blockNumber)
            texts += line.texts;
    }
    return texts;
}

QString WarningMarks::inlineText(const QStringList& texts) {
    QStringList parts;
    parts.reserve(texts.size());
    for (const QString& text : texts)
        parts.append(text.simplified());
    return parts.join(Separator);
}

void WarningMarks::paint(QPainter& painter, const QRect& rect) const {
    if (lines_.isEmpty())
        return;
    const QFontMetricsF metrics(editor_->font());
    const qreal gap = metrics.horizontalAdvance(QStringLiteral("    "));
    const qreal right = editor_->viewport()->width() - metrics.horizontalAdvance(u' ');
    painter.save();
    painter.setFont(editor_->font());
    painter.setPen(editor_->colors().warningText);

    // Only the blocks in view: each line's anchor says where its block is
    // (lines an edit merged share one).
    QMap<int, QString> shown;
    const int first = editor_->firstShownBlock().blockNumber();
    for (const Line& line : lines_) {
        const int number = line.anchor.blockNumber();
        if (number < first)
            continue;
        QString& text = shown[number];
        text = text.isEmpty() ? line.shown : text + Separator + line.shown;
    }
    // At most what could fit: eliding measures the whole string.
    const qsizetype fits = qsizetype(right / qMax<qreal>(1, metrics.horizontalAdvance(u'.'))) + 1;
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        const QTextBlock block = editor_->document()->findBlockByNumber(it.key());
        const QRectF box = editor_->blockArea(block);
        if (box.top() > rect.bottom())
            break;
        if (box.bottom() < rect.top() || !block.isVisible())
            continue;
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() == 0)
            continue;
        const QTextLine last = layout->lineAt(layout->lineCount() - 1);
        const qreal x = box.left() + layout->position().x() + last.x() + last.naturalTextWidth() + gap;
        if (right - x < metrics.horizontalAdvance(QStringLiteral("WARNING")))
            continue;
        const QString text = metrics.elidedText(it.value().left(fits), Qt::ElideRight, right - x);
        painter.drawText(QPointF(x, box.top() + layout->position().y() + last.y() + last.ascent()), text);
    }
    painter.restore();
}

}  // namespace pelorin
