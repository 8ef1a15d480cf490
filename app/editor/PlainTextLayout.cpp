#include "PlainTextLayout.h"

#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>

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
}

void PlainTextLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
    QTextDocument* const doc = document();
    const int blocksBefore = blocks_;
    const int linesBefore = lines_;
    blocks_ = doc->blockCount();
    // The blocks that hold what the edit put there (a highlighter's new
    // formats count as added text). The base class lays out a few more again,
    // by adding the removed length to the range: their text did not change.
    const QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(from + qMax(charsAdded, 1) - 1);
    if (blocks_ != blocksBefore || !first.isValid() || !last.isValid() ||
        last.blockNumber() - first.blockNumber() >= MostBlocksRepaintedOneByOne) {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        lines_ = doc->lineCount();
        return;
    }
    const QSizeF size = documentSize();
    const auto [top, bottom] = visibleBlocks_();
    // A plain text view is anchored at its top block: blocks above or below what it
    // shows move nothing on screen, whatever their heights now.
    const bool offScreen = top < 0 || last.blockNumber() < top || first.blockNumber() > bottom;
    {
        const QSignalBlocker quiet(this);
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
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
