#pragma once

#include <QWidget>

namespace pelorin {

class CodeEditor;

// The strip left of a CodeEditor's text that shows each line's number: muted,
// the caret's line brighter, the error line in the message colour; a line
// with warnings gets a bar in the warning colour at the strip's left edge and
// its number in that colour (unless it is the error line), and a tool tip
// over its row with the warnings' full texts. It only reads the editor; it
// never touches the text.
class LineNumberGutter : public QWidget {
    Q_OBJECT

public:
    explicit LineNumberGutter(CodeEditor* editor);

    // Width that fits the largest line number of the editor's text.
    int preferredWidth() const;
    QSize sizeHint() const override;

    // Width of the warning bar at the left edge.
    static constexpr int WarningBarWidth = 3;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The 0-based number of the visible block at height y, or -1.
    int blockAt(int y) const;

    CodeEditor* editor_;
};

}  // namespace pelorin
