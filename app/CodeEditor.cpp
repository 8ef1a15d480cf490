#include "CodeEditor.h"

#include "DocumentText.h"
#include "LineNumberGutter.h"
#include "LongLineWrap.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace pelorin {

CodeEditor::CodeEditor(QWidget* parent, const SyntaxColors& colors)
    : QPlainTextEdit(parent), scheme(colors), gutter(new LineNumberGutter(this)) {
    gutter->setObjectName("gutter");
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateGutterWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEditor::updateGutter);
    connect(this, &QPlainTextEdit::cursorPositionChanged, gutter, qOverload<>(&QWidget::update));
    updateGutterWidth();
    new LongLineWrap(this);
}

int CodeEditor::gutterWidth() const { return gutter->preferredWidth(); }

void CodeEditor::replaceChangedText(const QString& text) {
    QTextDocument& document = *this->document();
    const QString current = documentText(document);
    const QString wanted = normalizedLineBreaks(text);
    const qsizetype currentSize = current.size();
    const qsizetype wantedSize = wanted.size();
    const qsizetype shorter = qMin(currentSize, wantedSize);

    qsizetype prefix = 0;
    while (prefix < shorter && current.at(prefix) == wanted.at(prefix))
        ++prefix;
    if (prefix == currentSize && prefix == wantedSize)
        return;
    // Never keep half of a surrogate pair.
    if (prefix > 0 && current.at(prefix - 1).isHighSurrogate())
        --prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && current.at(currentSize - 1 - suffix) == wanted.at(wantedSize - 1 - suffix))
        ++suffix;
    if (suffix > 0 && current.at(currentSize - suffix).isLowSurrogate())
        --suffix;

    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(currentSize - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(wanted.mid(prefix, wantedSize - suffix - prefix));
    document.setUndoRedoEnabled(undo);
}

void CodeEditor::updateGutterWidth() {
    const int width = gutterWidth();
    setViewportMargins(width, 0, 0, 0);
    const QRect area = contentsRect();
    gutter->setGeometry(area.left(), area.top(), width, area.height());
}

void CodeEditor::updateGutter(const QRect& rect, int dy) {
    if (dy != 0)
        gutter->scroll(0, dy);
    else
        gutter->update(0, rect.y(), gutter->width(), rect.height());
    if (rect.contains(viewport()->rect()))
        updateGutterWidth();
}

void CodeEditor::setWarnings(const QList<EditorWarning>& list) {
    if (!warnings.set(list))
        return;
    viewport()->update();
    gutter->update();
}

void CodeEditor::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);
    if (warnings.isEmpty())
        return;
    QPainter painter(viewport());
    warnings.paint(painter, event->rect());
}

void CodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    updateGutterWidth();
}

void CodeEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGutterWidth();
        gutter->update();
    }
}

QTextCursor CodeEditor::cursorAt(int line, int column) const {
    const QTextDocument* doc = document();
    const QTextBlock block = doc->findBlockByNumber(qBound(1, line, doc->blockCount()) - 1);
    const int length = block.length() - 1;  // without the block separator
    int offset = qBound(0, column - 1, length);
    const QString text = block.text();
    if (offset > 0 && offset < length && text.at(offset).isLowSurrogate() && text.at(offset - 1).isHighSurrogate())
        --offset;
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + offset);
    return cursor;
}

void CodeEditor::setErrorMark(int line, int column) {
    if (line < 1 || line > document()->blockCount()) {
        clearErrorMark();
        return;
    }
    QTextCursor cursor = cursorAt(line, column);
    const QTextBlock block = cursor.block();

    QTextEdit::ExtraSelection lineMark;
    lineMark.cursor = QTextCursor(block);
    lineMark.format.setBackground(scheme.errorLineBackground);
    lineMark.format.setProperty(QTextFormat::FullWidthSelection, true);

    QList<QTextEdit::ExtraSelection> marks{lineMark};
    if (block.length() > 1) {
        if (cursor.atBlockEnd())
            cursor.movePosition(QTextCursor::PreviousCharacter);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        QTextEdit::ExtraSelection columnMark;
        columnMark.cursor = cursor;
        columnMark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        columnMark.format.setUnderlineColor(scheme.errorUnderline);
        marks.append(columnMark);
    }
    errorCursor = QTextCursor(block);
    setExtraSelections(marks);
    gutter->update();
}

void CodeEditor::clearErrorMark() {
    if (errorCursor.isNull() && extraSelections().isEmpty())
        return;
    errorCursor = QTextCursor();
    setExtraSelections({});
    gutter->update();
}

int CodeEditor::errorLine() const { return errorCursor.isNull() ? 0 : errorCursor.blockNumber() + 1; }

void CodeEditor::goToPosition(int line, int column) {
    setTextCursor(cursorAt(line, column));
    ensureCursorVisible();
    setFocus(Qt::OtherFocusReason);
}

}  // namespace pelorin
