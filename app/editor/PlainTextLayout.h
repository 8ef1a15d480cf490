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
//
// A block is laid out whole, and a line of megabytes takes most of a second:
// it is laid out once per change, when it is next shown or measured. A change
// of the whole document's look made under a Deferral (its default text option
// or font, which QTextDocument reports as a change of all its text, laid out
// at once) only forgets the blocks' layouts; while the document reports an
// edit, and while the base class weighs a change, a block whose layout was
// forgotten reports its last height instead of being laid out for it.
class PlainTextLayout : public QPlainTextDocumentLayout {
    Q_OBJECT

public:
    // The number of the first block the view shows and one that no block it
    // shows is beyond (the last one, or more), or -1, -1.
    using VisibleBlocks = std::function<std::pair<int, int>()>;

    PlainTextLayout(QTextDocument* document, VisibleBlocks visibleBlocks);

    // Changes of the whole document made while one lives are laid out later,
    // once; the view is repainted when the last one ends (or with the edit
    // under way, if any).
    class Deferral {
    public:
        // Does nothing for any other layout than a PlainTextLayout.
        explicit Deferral(QAbstractTextDocumentLayout* layout);
        ~Deferral();
        Deferral(const Deferral&) = delete;
        Deferral& operator=(const Deferral&) = delete;

    private:
        PlainTextLayout* layout_;
    };

    QRectF blockBoundingRect(const QTextBlock& block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // Long lines (isLongLine) keep their shaped text once laid out. Qt frees
    // it after each layout, and then every caret or mark placed in the line
    // and every repaint of it shapes the whole line again.
    static void keepShapes(const QTextBlock& block);
    // Forgets the layouts of the blocks that hold [from, from + length].
    void forgetLayouts(int from, int length);
    void repaintAll();

    VisibleBlocks visibleBlocks_;
    int deferrals_ = 0;
    bool forgotten_ = false;    // layouts forgotten under a Deferral, the view not yet repainted
    bool editPending_ = false;  // the document reported an edit it has not yet handed to the layout
    int weighedBlock_ = -1;     // the block the base class measures before laying it out, if unlaid
    int blocks_;  // the block count after the last change
    // The document's line count as last reported: laying out a block lazily
    // (when it is painted) reports a changed count through documentSizeChanged.
    int lines_;
};

}  // namespace pelorin
