#pragma once

#include <QPlainTextDocumentLayout>

#include <functional>
#include <utility>

namespace pelorin {

// QPlainTextDocumentLayout repaints the whole view after any edit whose
// reported range reaches past one block, and a highlighter re-marking the
// edited line makes every keystroke's range do that: each key would repaint
// the whole editor. This layout repaints only the blocks the edit touched
// when nothing else on screen moved: they lie outside the visible part,
// or they take as many lines as before. Otherwise, and for everything else,
// it is the base class.
class PlainTextLayout : public QPlainTextDocumentLayout {
    Q_OBJECT

public:
    // The number of the first block the view shows and one that no block it
    // shows is beyond (the last one, or more), or -1, -1.
    using VisibleBlocks = std::function<std::pair<int, int>()>;

    PlainTextLayout(QTextDocument* document, VisibleBlocks visibleBlocks);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    VisibleBlocks visibleBlocks_;
    int blocks_;  // the block count after the last change
    // The document's line count as last reported: laying out a block lazily
    // (when it is painted) reports a changed count through documentSizeChanged.
    int lines_;
};

}  // namespace pelorin
