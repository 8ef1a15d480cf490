#include "PlainTextLayout.h"

#include "LongLine.h"

#include <QFontMetricsF>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace pelorin {

namespace {

// Beyond this many blocks one repaint of the view is cheaper than a request per block.
constexpr int MostBlocksRepaintedOneByOne = 200;

}  // namespace

PlainTextLayout::PlainTextLayout(QTextDocument* document, VisibleBlocks visibleBlocks)
    : QPlainTextDocumentLayout(document),
      visibleBlocks_(std::move(visibleBlocks)),
      blocks_(document->blockCount()),
      lines_(document->lineCount()) {
    connect(this, &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { lines_ = this->document()->lineCount(); });
    // Connected before anyone else's, so it comes first: between this signal
    // and documentChanged() the document holds text no block is laid out for.
    connect(document, &QTextDocument::contentsChange, this, [this] { editPending_ = true; });
}

PlainTextLayout::Deferral::Deferral(QAbstractTextDocumentLayout* layout)
    : layout_(qobject_cast<PlainTextLayout*>(layout)) {
    if (layout_)
        ++layout_->deferrals_;
}

PlainTextLayout::Deferral::~Deferral() {
    if (!layout_ || --layout_->deferrals_ > 0)
        return;
    if (layout_->forgotten_ && !layout_->editPending_)
        layout_->repaintAll();
}

void PlainTextLayout::keepShapes(const QTextBlock& block) {
    QTextLayout* layout = block.layout();
    const bool keep = isLongLine(block.length() - 1);
    if (layout->cacheEnabled() != keep)
        layout->setCacheEnabled(keep);
}

QRectF PlainTextLayout::blockBoundingRect(const QTextBlock& block) const {
    if (block.isValid())
        keepShapes(block);
    if (block.isValid() && block.layout()->lineCount() == 0 && (editPending_ || block.blockNumber() == weighedBlock_)) {
        const qreal line = QFontMetricsF(document()->defaultFont()).lineSpacing();
        return QRectF(0, 0, documentSize().width(), qMax(1, block.lineCount()) * line);
    }
    return QPlainTextDocumentLayout::blockBoundingRect(block);
}

void PlainTextLayout::forgetLayouts(int from, int length) {
    const QTextBlock last = document()->findBlock(from + length);
    for (QTextBlock block = document()->findBlock(from); block.isValid(); block = block.next()) {
        block.clearLayout();
        if (block == last)
            break;
    }
    forgotten_ = true;
}

void PlainTextLayout::repaintAll() {
    forgotten_ = false;
    emit update(QRectF(0., -document()->documentMargin(), 1000000000., 1000000000.));
}

void PlainTextLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
    if (deferrals_ > 0) {
        forgetLayouts(from, charsAdded);
        return;
    }
    editPending_ = false;
    QTextDocument* const doc = document();
    const int blocksBefore = blocks_;
    const int linesBefore = lines_;
    blocks_ = doc->blockCount();
    // The blocks that hold what the edit put there (a highlighter's new
    // formats count as added text). The base class lays out a few more again,
    // by adding the removed length to the range: their text did not change.
    const QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(from + qMax(charsAdded, 1) - 1);
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        keepShapes(block);
        if (block == last)
            break;
    }
    if (blocks_ != blocksBefore || !first.isValid() || !last.isValid() ||
        last.blockNumber() - first.blockNumber() >= MostBlocksRepaintedOneByOne) {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        lines_ = doc->lineCount();
        if (forgotten_)
            repaintAll();
        return;
    }
    const QSizeF size = documentSize();
    const auto [top, bottom] = visibleBlocks_();
    // A plain text view is anchored at its top block: blocks above or below what it
    // shows move nothing on screen, whatever their heights now.
    const bool offScreen = top < 0 || last.blockNumber() < top || first.blockNumber() > bottom;
    {
        const QSignalBlocker quiet(this);
        // The base class measures a one-block change before it lays it out:
        // a block whose layout was forgotten is not laid out for that.
        weighedBlock_ = first == last && first.layout()->lineCount() == 0 ? first.blockNumber() : -1;
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        weighedBlock_ = -1;
        // Lay the touched blocks out now (painting would), so their lines are counted.
        for (QTextBlock block = first; !offScreen && block.isValid(); block = block.next()) {
            blockBoundingRect(block);
            if (block == last)
                break;
        }
    }
    lines_ = doc->lineCount();
    const QSizeF now = documentSize();
    if (now != size)
        emit documentSizeChanged(now);
    if (forgotten_) {
        repaintAll();
        return;
    }
    if (offScreen)
        return;
    if (lines_ != linesBefore) {
        // The touched blocks grew or shrank: everything below them moved.
        emit update(QRectF(0., -doc->documentMargin(), 1000000000., 1000000000.));
        return;
    }
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        emit updateBlock(block);
        if (block == last)
            break;
    }
}

}  // namespace pelorin
