#pragma once

#include <QWidget>

namespace pelorin {

class CodeEditor;

// The strip left of a CodeEditor's text that shows each line's number: muted,
// the caret's line brighter, the error line in the message colour. It only
// reads the editor; it never touches the text.
class LineNumberGutter : public QWidget {
    Q_OBJECT

public:
    explicit LineNumberGutter(CodeEditor* editor);

    // Width that fits the largest line number of the editor's text.
    int preferredWidth() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CodeEditor* editor;
};

}  // namespace pelorin
