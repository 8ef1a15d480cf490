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
    struct Texts {
        QStringList texts;
        QList<int> columns;
    };
    QMap<int, Texts> byBlock;
    for (const EditorWarning& warning : warnings) {
        const bool inText = warning.line >= 1 && warning.line <= document->blockCount();
        Texts& at = byBlock[inText ? warning.line - 1 : 0];
        at.texts.append(warning.text);
        at.columns.append(inText ? qMax(1, warning.column) : 1);
    }

    bool same = byBlock.size() == lines_.size();
    auto wanted = byBlock.cbegin();
    for (qsizetype i = 0; same && i < lines_.size(); ++i, ++wanted) {
        const Line& line = lines_.at(i);
        same =
            line.anchor.blockNumber() == wanted.key() && line.texts == wanted->texts && line.columns == wanted->columns;
    }
    if (same)
        return false;

    lines_.clear();
    lines_.reserve(byBlock.size());
    for (auto it = byBlock.cbegin(); it != byBlock.cend(); ++it)
        lines_.append(
            {QTextCursor(document->findBlockByNumber(it.key())), it->texts, it->columns, inlineText(it->texts)});
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

QList<EditorWarning> WarningMarks::all() const {
    QList<EditorWarning> warnings;
    for (const Line& line : lines_) {
        const int number = line.anchor.blockNumber() + 1;
        for (qsizetype i = 0; i < line.texts.size(); ++i)
            warnings.append({number, line.columns.value(i, 1), line.texts.at(i)});
    }
    // Lines an edit merged keep their order; their columns may not be.
    std::stable_sort(warnings.begin(), warnings.end(), [](const EditorWarning& a, const EditorWarning& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return warnings;
}

QString WarningMarks::inlineText(const QStringList& texts) {
    QStringList parts;
    parts.reserve(texts.size());
    for (const QString& text : texts)
        parts.append(text.simplified());
    return parts.join(Separator);
}

bool WarningMarks::drawnArea(const QTextBlock& block, QRectF* area, qreal* baseline) const {
    const QRectF box = editor_->blockArea(block);
    const QTextLayout* layout = block.layout();
    if (!block.isVisible() || !layout || layout->lineCount() == 0)
        return false;
    const QFontMetricsF metrics(editor_->font());
    const qreal gap = metrics.horizontalAdvance(QStringLiteral("    "));
    const qreal right = editor_->viewport()->width() - metrics.horizontalAdvance(u' ');
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    const qreal x = box.left() + layout->position().x() + last.x() + last.naturalTextWidth() + gap;
    if (right - x < metrics.horizontalAdvance(QStringLiteral("WARNING")))
        return false;
    const qreal top = box.top() + layout->position().y() + last.y();
    *area = QRectF(x, top, right - x, last.height());
    *baseline = top + last.ascent();
    return true;
}

QStringList WarningMarks::textsDrawnAt(const QPoint& point, QRect* area) const {
    if (lines_.isEmpty())
        return {};
    for (QTextBlock block = editor_->firstShownBlock(); block.isValid(); block = block.next()) {
        const QRectF box = editor_->blockArea(block);
        if (box.top() > point.y())
            break;
        if (box.bottom() < point.y())
            continue;
        QRectF drawn;
        qreal baseline = 0;
        const QStringList texts = textsAt(block.blockNumber());
        if (texts.isEmpty() || !drawnArea(block, &drawn, &baseline) || !drawn.contains(point))
            return {};
        *area = drawn.toAlignedRect();
        return texts;
    }
    return {};
}

void WarningMarks::paint(QPainter& painter, const QRect& rect) const {
    if (lines_.isEmpty())
        return;
    const QFontMetricsF metrics(editor_->font());
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
    const qsizetype fits =
        qsizetype(editor_->viewport()->width() / qMax<qreal>(1, metrics.horizontalAdvance(u'.'))) + 1;
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        const QTextBlock block = editor_->document()->findBlockByNumber(it.key());
        const QRectF box = editor_->blockArea(block);
        if (box.top() > rect.bottom())
            break;
        QRectF area;
        qreal baseline = 0;
        if (box.bottom() < rect.top() || !drawnArea(block, &area, &baseline))
            continue;
        const QString text = metrics.elidedText(it.value().left(fits), Qt::ElideRight, area.width());
        painter.drawText(QPointF(area.left(), baseline), text);
    }
    painter.restore();
}

}  // namespace pelorin
