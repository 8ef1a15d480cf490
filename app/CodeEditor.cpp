#include "CodeEditor.h"

#include "DocumentText.h"
#include "LineNumberGutter.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace pelorin {

namespace {

// Whole blocks go through memcmp, which is vectorised; only the block that
// differs is searched unit by unit.
constexpr qsizetype CompareBlock = 2048;

// Length of the common start of a and b, at most n units.
qsizetype commonPrefix(const char16_t* a, const char16_t* b, qsizetype n) {
    qsizetype i = 0;
    while (i + CompareBlock <= n && std::memcmp(a + i, b + i, CompareBlock * sizeof(char16_t)) == 0)
        i += CompareBlock;
    return std::mismatch(a + i, a + n, b + i).first - a;
}

// Length of the common end of the texts ending at aEnd and bEnd, at most n units.
qsizetype commonSuffix(const char16_t* aEnd, const char16_t* bEnd, qsizetype n) {
    qsizetype i = 0;
    while (i + CompareBlock <= n &&
           std::memcmp(aEnd - i - CompareBlock, bEnd - i - CompareBlock, CompareBlock * sizeof(char16_t)) == 0)
        i += CompareBlock;
    const auto tail = std::mismatch(std::make_reverse_iterator(aEnd - i), std::make_reverse_iterator(aEnd - n),
                                    std::make_reverse_iterator(bEnd - i));
    return i + (tail.first - std::make_reverse_iterator(aEnd - i));
}

}  // namespace

CodeEditor::CodeEditor(QWidget* parent, const SyntaxColors& colors)
    : QPlainTextEdit(parent), scheme(colors), gutter(new LineNumberGutter(this)) {
    gutter->setObjectName("gutter");
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateGutterWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEditor::updateGutter);
    connect(this, &QPlainTextEdit::cursorPositionChanged, gutter, qOverload<>(&QWidget::update));
    updateGutterWidth();
}

int CodeEditor::gutterWidth() const { return gutter->preferredWidth(); }

void CodeEditor::replaceChangedText(const QString& text) {
    QTextDocument& document = *this->document();
    if (placedDocument != &document) {
        // Any edit but our own makes the kept text stale.
        connect(&document, &QTextDocument::contentsChanged, this, [this, &document] {
            if (!placing && placedDocument == &document)
                placedTextValid = false;
        });
        placedDocument = &document;
        placedTextValid = false;
    }
    // Reading the document's text costs as much as the comparison; what this
    // function put there last is kept instead, as long as nothing else edited it.
    const QString current = placedTextValid ? placedText : documentText(document);
    const QString wanted = normalizedLineBreaks(text);
    const qsizetype currentSize = current.size();
    const qsizetype wantedSize = wanted.size();
    const qsizetype shorter = qMin(currentSize, wantedSize);
    const char16_t* const was = reinterpret_cast<const char16_t*>(current.constData());
    const char16_t* const now = reinterpret_cast<const char16_t*>(wanted.constData());

    qsizetype prefix = commonPrefix(was, now, shorter);
    if (prefix == currentSize && prefix == wantedSize) {
        placedText = current;
        placedTextValid = true;
        return;
    }
    // Never keep half of a surrogate pair.
    if (prefix > 0 && QChar::isHighSurrogate(was[prefix - 1]))
        --prefix;
    qsizetype suffix = commonSuffix(was + currentSize, now + wantedSize, shorter - prefix);
    if (suffix > 0 && QChar::isLowSurrogate(was[currentSize - suffix]))
        --suffix;

    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    placing = true;
    QTextCursor cursor(&document);
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(currentSize - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(wanted.mid(prefix, wantedSize - suffix - prefix));
    placing = false;
    document.setUndoRedoEnabled(undo);
    placedText = wanted;
    placedTextValid = true;
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
