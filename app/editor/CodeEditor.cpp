#include "CodeEditor.h"

#include "BracketMatcher.h"
#include "Chrome.h"
#include "DocumentText.h"
#include "EditingCommands.h"
#include "LineNumberGutter.h"
#include "LongLineWrap.h"
#include "PlainTextLayout.h"
#include "ScssHighlighter.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QPaintEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>
#include <QWheelEvent>
#include <QtMath>

#include <cmath>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

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
    : QPlainTextEdit(parent), scheme_(colors), gutter_(new LineNumberGutter(this)) {
    gutter_->setObjectName("gutter");
    // A document laid out so that an edit repaints only the lines it changed.
    auto* text = new QTextDocument(this);
    text->setDocumentLayout(new PlainTextLayout(text, [this, text] { return visibleBlocks(text); }));
    setDocument(text);
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateGutterWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEditor::updateGutter);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::updateCurrentLineNumber);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::updateBracketMarks);
    connect(this, &QPlainTextEdit::textChanged, this, [this] { ++textChanges_; });
    connect(this, &QPlainTextEdit::textChanged, this, &CodeEditor::updateBracketMarks);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::leaveProblem);
    updateGutterWidth();
    new LongLineWrap(this);
    chrome::setUpScrollBars(this);
    // The text's width stays put when it outgrows the view: a scroll bar that
    // appeared would wrap every line again, a line of megabytes for seconds.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

int CodeEditor::gutterWidth() const { return gutter_->preferredWidth(); }

const QString& CodeEditor::currentText() const {
    const QTextDocument* const shown = document();
    if (cachedDocument_ != shown) {
        disconnect(cachedEdits_);
        auto* self = const_cast<CodeEditor*>(this);
        cachedEdits_ = connect(shown, &QTextDocument::contentsChange, self,
                              [self, shown](int position, int charsRemoved, int charsAdded) {
                                  self->followEdit(shown, position, charsRemoved, charsAdded);
                              });
        cachedDocument_ = shown;
        cachedTextValid_ = false;
    }
    // An edit made while the document reported another one is not reported
    // itself; the length tells of it.
    if (!cachedTextValid_ || cachedText_.size() != shown->characterCount() - 1) {
        cachedText_ = documentText(*shown);
        cachedTextValid_ = true;
    }
    return cachedText_;
}

void CodeEditor::followEdit(const QTextDocument* edited, int position, int charsRemoved, int charsAdded) {
    if (!cachedTextValid_ || edited != cachedDocument_)
        return;
    if (placing_) {
        // replaceChangedText() knows the new text: nothing to read back.
        cachedText_ = *placing_;
        return;
    }
    // An edit whose figures do not add up to the new length (a whole new text
    // can count the closing block separator) is read whole next time instead.
    const qsizetype size = cachedText_.size();
    if (position < 0 || charsRemoved < 0 || charsAdded < 0 || position + qsizetype(charsRemoved) > size ||
        size - charsRemoved + charsAdded != edited->characterCount() - 1) {
        cachedTextValid_ = false;
        return;
    }
    const QString added = documentText(*edited, position, charsAdded);
    if (added.size() != charsAdded) {
        cachedTextValid_ = false;
        return;
    }
    if (cachedText_.isDetached()) {
        cachedText_.replace(position, charsRemoved, added);
        return;
    }
    // Shared (the form keeps the text it converted): one copy, not a copy
    // for detaching and then a move of the rest for the edit.
    QString next;
    next.reserve(size - charsRemoved + charsAdded);
    next.append(QStringView(cachedText_).first(position))
        .append(added)
        .append(QStringView(cachedText_).sliced(position + charsRemoved));
    cachedText_ = std::move(next);
}

void CodeEditor::replaceChangedText(const QString& text) {
    QTextDocument& document = *this->document();
    // The edit below updates currentText(): nothing reads `current` after it.
    const QString& current = currentText();
    const qsizetype currentSize = current.size();
    const char16_t* const was = reinterpret_cast<const char16_t*>(current.constData());
    QString wanted = text;
    qsizetype wantedSize = 0;
    const char16_t* now = nullptr;
    qsizetype prefix = 0;
    qsizetype suffix = 0;
    // The current text holds no line break that normalizedLineBreaks() folds,
    // so where the given text equals it, it holds none either: only the
    // changed part between is searched for one, instead of all of a CSS of
    // megabytes. If it holds one, the comparison is made again, normalized.
    for (bool normalized = false;; normalized = true) {
        wantedSize = wanted.size();
        now = reinterpret_cast<const char16_t*>(wanted.constData());
        const qsizetype shorter = qMin(currentSize, wantedSize);
        prefix = commonPrefix(was, now, shorter);
        if (prefix == currentSize && prefix == wantedSize)
            return;
        // Never keep half of a surrogate pair.
        if (prefix > 0 && QChar::isHighSurrogate(was[prefix - 1]))
            --prefix;
        suffix = commonSuffix(was + currentSize, now + wantedSize, shorter - prefix);
        if (suffix > 0 && QChar::isLowSurrogate(was[currentSize - suffix]))
            --suffix;
        if (normalized || !holdsBreakToNormalize(QStringView(now + prefix, wantedSize - suffix - prefix)))
            break;
        wanted = normalizedLineBreaks(text);
    }
    const qsizetype oldEnd = currentSize - suffix;
    const qsizetype newEnd = wantedSize - suffix;

    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    // One edit for the document and its listeners, however many parts.
    // Inside an edit block placing the cursor also lays nothing out, where
    // it would otherwise shape the line it lands on, shown or not.
    cursor.beginEditBlock();
    // Replaces the old text [oldFrom, oldTo) with the new [newFrom, newTo),
    // keeping what they begin and end with alike.
    const auto replaceSpan = [&](qsizetype oldFrom, qsizetype oldTo, qsizetype newFrom, qsizetype newTo) {
        const qsizetype oldLength = oldTo - oldFrom;
        const qsizetype newLength = newTo - newFrom;
        qsizetype head = commonPrefix(was + oldFrom, now + newFrom, qMin(oldLength, newLength));
        if (head == oldLength && head == newLength)
            return;
        if (head > 0 && QChar::isHighSurrogate(was[oldFrom + head - 1]))
            --head;
        qsizetype tail = commonSuffix(was + oldTo, now + newTo, qMin(oldLength, newLength) - head);
        if (tail > 0 && QChar::isLowSurrogate(was[oldTo - tail]))
            --tail;
        cursor.setPosition(int(oldFrom + head));
        cursor.setPosition(int(oldTo - tail), QTextCursor::KeepAnchor);
        cursor.insertText(QString(reinterpret_cast<const QChar*>(now + newFrom + head), newLength - tail - head));
    };
    const QStringView oldMiddle(was + prefix, oldEnd - prefix);
    const QStringView newMiddle(now + prefix, newEnd - prefix);
    const qsizetype breaks = oldMiddle.count(u'\n');
    if (breaks > 0 && newMiddle.count(u'\n') == breaks) {
        // As many lines as before: each changed line is edited in place, so the
        // document keeps its blocks (their layouts and highlighting among them)
        // instead of losing and making again every line in between. From the
        // last line up, so that the positions of those before stay put.
        // Where the line ending at `to` (an offset into `middle`) starts; a
        // negative start for lastIndexOf() would count from the end instead.
        const auto lineStart = [](QStringView middle, qsizetype to) {
            return to == 0 ? 0 : middle.lastIndexOf(u'\n', to - 1) + 1;
        };
        qsizetype oldTo = oldMiddle.size();
        qsizetype newTo = newMiddle.size();
        for (;;) {
            const qsizetype oldFrom = lineStart(oldMiddle, oldTo);
            const qsizetype newFrom = lineStart(newMiddle, newTo);
            replaceSpan(prefix + oldFrom, prefix + oldTo, prefix + newFrom, prefix + newTo);
            if (oldFrom == 0)
                break;
            oldTo = oldFrom - 1;
            newTo = newFrom - 1;
        }
    } else {
        replaceSpan(prefix, oldEnd, prefix, newEnd);
    }
    // The edit is reported as the block ends, and listeners may read
    // currentText() then: it is the new text from the report on.
    placing_ = &wanted;
    cursor.endEditBlock();
    placing_ = nullptr;
    document.setUndoRedoEnabled(undo);
}

void CodeEditor::updateGutterWidth() {
    const int width = gutterWidth();
    setViewportMargins(width, topMargin_, 0, 0);
    const QRect area = contentsRect();
    gutter_->setGeometry(area.left(), area.top() + topMargin_, width, qMax(0, area.height() - topMargin_));
}

void CodeEditor::setTopMargin(int pixels) {
    pixels = qMax(0, pixels);
    if (pixels == topMargin_)
        return;
    topMargin_ = pixels;
    updateGutterWidth();
}

void CodeEditor::updateGutter(const QRect& rect, int dy) {
    if (dy != 0)
        gutter_->scroll(0, dy);
    else
        gutter_->update(0, rect.y(), gutter_->width(), rect.height());
    if (rect.contains(viewport()->rect()))
        updateGutterWidth();
}

std::pair<int, int> CodeEditor::visibleBlocks(const QTextDocument* shown) const {
    const QTextBlock block = firstVisibleBlock();
    if (document() != shown || !block.isValid())
        return {-1, -1};
    // Every block takes a line at least, and no line is lower than half the
    // font's height: no block beyond these fits in the view.
    const int lines = 2 * viewport()->height() / qMax(1, fontMetrics().height()) + 2;
    return {block.blockNumber(), block.blockNumber() + lines};
}

void CodeEditor::updateCurrentLineNumber() {
    // Only the numbers of the line the caret left and of the one it entered change.
    const int line = textCursor().blockNumber();
    if (line == currentLine_)
        return;
    for (const int number : {currentLine_, line}) {
        const QTextBlock block = document()->findBlockByNumber(number);
        if (!block.isValid())
            continue;
        const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
        gutter_->update(0, qFloor(box.top()), gutter_->width(), qCeil(box.height()) + 1);
    }
    currentLine_ = line;
}

void CodeEditor::setWarnings(const QList<EditorWarning>& list) {
    if (!warnings_.set(list))
        return;
    viewport()->update();
    gutter_->update();
}

void CodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    updateGutterWidth();
}

void CodeEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    // A read-only editor keeps a caret the keys move and select with, so a
    // part of it can be copied and the focus shows; setReadOnly() alone
    // leaves selecting to the mouse.
    if (event->type() == QEvent::ReadOnlyChange && isReadOnly())
        setTextInteractionFlags(textInteractionFlags() | Qt::TextSelectableByKeyboard);
    if (event->type() == QEvent::FontChange) {
        if (!zooming_)
            zoom_ = 0;  // a font set by the caller is the new level 0
        updateTabStops();
        updateGutterWidth();
        gutter_->update();
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

void CodeEditor::setErrorMark(int line, int column, const QString& message) {
    if (line < 1 || line > document()->blockCount()) {
        clearErrorMark();
        return;
    }
    errorColumn_ = qMax(1, column);
    errorText_ = message;
    QTextCursor cursor = cursorAt(line, column);
    const QTextBlock block = cursor.block();

    QTextEdit::ExtraSelection lineMark;
    lineMark.cursor = QTextCursor(block);
    lineMark.format.setBackground(scheme_.errorLineBackground);
    lineMark.format.setProperty(QTextFormat::FullWidthSelection, true);

    QList<QTextEdit::ExtraSelection> marks{lineMark};
    if (block.length() > 1) {
        if (cursor.atBlockEnd())
            cursor.movePosition(QTextCursor::PreviousCharacter);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        QTextEdit::ExtraSelection columnMark;
        columnMark.cursor = cursor;
        columnMark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        columnMark.format.setUnderlineColor(scheme_.errorUnderline);
        marks.append(columnMark);
    }
    // While an error stays where it is, typing elsewhere repaints nothing for it.
    const auto samePlace = [](const QTextEdit::ExtraSelection& a, const QTextEdit::ExtraSelection& b) {
        return a.cursor.anchor() == b.cursor.anchor() && a.cursor.position() == b.cursor.position();
    };
    if (!errorCursor_.isNull() && errorCursor_.block() == block && errorMarks_.size() == marks.size() &&
        std::equal(marks.cbegin(), marks.cend(), errorMarks_.cbegin(), samePlace))
        return;
    errorCursor_ = QTextCursor(block);
    errorMarks_ = marks;
    updateExtraSelections();
    viewport()->update();
    gutter_->update();
}

void CodeEditor::clearErrorMark() {
    errorText_.clear();
    if (errorCursor_.isNull() && errorMarks_.isEmpty())
        return;
    errorCursor_ = QTextCursor();
    errorMarks_.clear();
    updateExtraSelections();
    viewport()->update();
    gutter_->update();
}

int CodeEditor::errorLine() const { return errorCursor_.isNull() ? 0 : errorCursor_.blockNumber() + 1; }

void CodeEditor::goToPosition(int line, int column) {
    setTextCursor(cursorAt(line, column));
    ensureCursorVisible();
    setFocus(Qt::OtherFocusReason);
}

// Error marks first, then the bracket marks over them.
void CodeEditor::updateExtraSelections() { setExtraSelections(errorMarks_ + bracketMarks_); }

void CodeEditor::updateBracketMarks() {
    // A typed character moves the caret and changes the text: both signals
    // come, and the second finds nothing new to scan.
    const BracketState state{document(), textChanges_, textCursor().position(), textSyntax_};
    if (state == lastBracketState_)
        return;
    lastBracketState_ = state;
    QList<QTextEdit::ExtraSelection> marks;
    const BracketMatcher::Match match =
        BracketMatcher(textSyntax_).at(currentText(), textCursor().position());
    const auto mark = [this, &marks](int position, bool matched) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(document());
        selection.cursor.setPosition(position);
        selection.cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        selection.format.setBackground(matched ? scheme_.bracketMatchBackground : scheme_.bracketMismatchBackground);
        if (!matched)
            selection.format.setForeground(scheme_.bracketMismatch);
        marks.append(selection);
    };
    if (match.bracket >= 0) {
        mark(match.bracket, match.partner >= 0);
        if (match.partner >= 0)
            mark(match.partner, true);
    }
    if (marks.isEmpty() && bracketMarks_.isEmpty())
        return;
    bracketMarks_ = marks;
    updateExtraSelections();
}

void CodeEditor::setSyntax(Syntax value) {
    textSyntax_ = value;
    updateBracketMarks();  // the state includes the syntax, so it scans again
}

void CodeEditor::setHighlightedSyntax(Syntax value) {
    setSyntax(value);
    if (highlighter_)
        highlighter_->setSyntax(value);
    else
        highlighter_ = new ScssHighlighter(textDocument(), value, scheme_);
}

void CodeEditor::setTabStopCharacters(int characters) {
    tabStopCharacters_ = characters;
    updateTabStops();
}

void CodeEditor::updateTabStops() {
    if (tabStopCharacters_ > 0)
        setTabStopDistance(tabStopCharacters_ * QFontMetricsF(font()).horizontalAdvance(u' '));
}

namespace {

constexpr int SmallestZoomedPoints = 4;
constexpr int LargestZoomedPoints = 72;

}  // namespace

void CodeEditor::zoomBy(int steps) {
    if (zoom_ == 0)
        zoomBase_ = font();
    const qreal points = zoomBase_.pointSizeF() > 0 ? zoomBase_.pointSizeF() : zoomBase_.pixelSize() * 0.75;
    const int smallest = qMin(0, int(std::ceil(SmallestZoomedPoints - points)));
    const int largest = qMax(0, int(std::floor(LargestZoomedPoints - points)));
    setZoom(qBound(smallest, zoom_ + steps, largest));
}

void CodeEditor::resetZoom() { setZoom(0); }

void CodeEditor::setZoom(int level) {
    if (level == zoom_)
        return;
    QFont zoomed = zoomBase_;
    if (zoomBase_.pointSizeF() > 0)
        zoomed.setPointSizeF(zoomBase_.pointSizeF() + level);
    else
        zoomed.setPixelSize(qMax(1, zoomBase_.pixelSize() + qRound(level * 4 / 3.0)));
    zooming_ = true;
    setFont(level == 0 ? zoomBase_ : zoomed);
    zooming_ = false;
    zoom_ = level;
}

void CodeEditor::keyPressEvent(QKeyEvent* event) {
    if (handleCommandKey(event)) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool CodeEditor::handleCommandKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        switch (key) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoomBy(1);
            return true;
        case Qt::Key_Minus:
            zoomBy(-1);
            return true;
        case Qt::Key_0:
            resetZoom();
            return true;
        default:
            break;
        }
    }
    if (modifiers == Qt::ControlModifier && key == Qt::Key_G) {
        goToLine();
        return true;
    }
    if (isReadOnly())
        return false;
    if (modifiers == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_Slash:
            if (textSyntax_ == Syntax::Scss)
                EditingCommands::toggleLineComment(*this, QStringLiteral("//"));
            return true;
        case Qt::Key_BracketRight:
            EditingCommands::indentLines(*this);
            return true;
        case Qt::Key_BracketLeft:
            EditingCommands::outdentLines(*this);
            return true;
        case Qt::Key_Y:  // besides the desktop's own redo key, Ctrl+Shift+Z
            redo();
            return true;
        default:
            return false;
        }
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        EditingCommands::newLine(*this);
        return true;
    }
    if (event->text() == QStringLiteral("}") && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
        !overwriteMode())
        return EditingCommands::closingBrace(*this);
    return false;
}

void CodeEditor::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QPlainTextEdit::wheelEvent(event);
        return;
    }
    wheelDelta_ += event->angleDelta().y();
    const int steps = wheelDelta_ / QWheelEvent::DefaultDeltasPerStep;
    wheelDelta_ -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        zoomBy(steps);
    event->accept();
}

// The error line's background under every visual row of the line, wrapped
// rows included; the text is drawn over it, and the warnings over that.
void CodeEditor::paintEvent(QPaintEvent* event) {
    if (!errorCursor_.isNull()) {
        const QTextBlock block = errorCursor_.block();
        if (block.isValid() && block.isVisible()) {
            QRectF rows = blockBoundingGeometry(block).translated(contentOffset());
            rows.setLeft(0);
            rows.setRight(viewport()->width());
            QPainter painter(viewport());
            painter.fillRect(rows.intersected(QRectF(event->rect())), scheme_.errorLineBackground);
        }
    }
    QPlainTextEdit::paintEvent(event);
    // Warnings are drawn over the text, after the end of their lines.
    if (!warnings_.isEmpty()) {
        QPainter painter(viewport());
        warnings_.paint(painter, event->rect());
    }
}

void CodeEditor::insertFromMimeData(const QMimeData* source) {
    // QPlainTextEdit first builds a document of its own from the pasted or
    // dropped text and lays it out there (a tenth of a second for a line of
    // megabytes) before copying it in; inserted at the caret, plain text ends
    // up the same, in the same one undo step.
    const QString text = source ? source->text() : QString();
    if (text.isEmpty() || !(textInteractionFlags() & Qt::TextEditable)) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    insertPlainText(text);
    ensureCursorVisible();
}

void CodeEditor::goToLine() {
    QInputDialog dialog(this);
    dialog.setObjectName("goToLineDialog");
    dialog.setWindowTitle("Go to Line");
    dialog.setAccessibleName("Go to line");
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setLabelText(QString("Line number (1 to %1):").arg(blockCount()));
    dialog.setIntRange(1, blockCount());
    dialog.setIntValue(textCursor().blockNumber() + 1);
    using namespace chrome;
    // Styling the number box's border takes its buttons' arrows with it: light
    // triangles (zero-sized boxes with one coloured border) stand in for them.
    dialog.setStyleSheet(
        QString("QInputDialog { background: %1; }"
                "QLabel { color: %2; }"
                "QSpinBox { background: %3; color: %2; border: 1px solid %4; padding: 2px; "
                "selection-background-color: %4; }"
                "QSpinBox:focus { border-color: %5; }"
                "QSpinBox::up-button, QSpinBox::down-button { background: %4; width: 16px; "
                "border: none; }"
                "QSpinBox::up-button { subcontrol-origin: border; subcontrol-position: top right; }"
                "QSpinBox::down-button { subcontrol-origin: border; "
                "subcontrol-position: bottom right; }"
                "QSpinBox::up-button:hover, QSpinBox::down-button:hover { background: %5; }"
                "QSpinBox::up-arrow, QSpinBox::down-arrow { width: 0; height: 0; "
                "border-left: 4px solid transparent; border-right: 4px solid transparent; }"
                "QSpinBox::up-arrow { border-bottom: 5px solid %2; }"
                "QSpinBox::down-arrow { border-top: 5px solid %2; }"
                "QSpinBox::up-arrow:disabled, QSpinBox::down-arrow:disabled { "
                "border-bottom-color: %5; border-top-color: %5; }"
                "QPushButton { background: %4; color: %2; border: 1px solid %4; padding: 3px 12px; }"
                "QPushButton:focus, QPushButton:hover { border-color: %5; }")
            .arg(MessageStrip.name(), TitleText.name(), WindowBackground.name(), GlyphHover.name(), MutedLink.name()));
    if (dialog.exec() != QDialog::Accepted)
        return;
    goToPosition(dialog.intValue(), 1);
}

void CodeEditor::showOutput(const QString& text) {
    if (text.isEmpty()) {
        if (!document()->isEmpty() && !holdingPlace_) {
            QTextDocument* full = document();
            const QTextCursor caret = textCursor();
            const QTextBlock top = firstVisibleBlock();
            heldPlace_ = {currentText(),
                          caret.anchor(),
                          caret.position(),
                          top.blockNumber(),
                          verticalScrollBar()->value() - top.firstLineNumber(),
                          horizontalScrollBar()->value()};
            QTextDocument* empty = emptyDocument();
            // Drawn like the text it stands for: the gutter and a zoom go by it meanwhile.
            empty->setDefaultFont(full->defaultFont());
            empty->setDefaultTextOption(full->defaultTextOption());
            heldDocument_ = full;
            holdingPlace_ = true;
            showDocument(empty, QString());
            return;
        }
        replaceChangedText(text);
        return;
    }
    if (holdingPlace_) {
        // Back to the document set aside, then on from there.
        holdingPlace_ = false;
        QTextDocument* full = std::exchange(heldDocument_, nullptr);
        QTextDocument* empty = document();
        if (full && empty == emptyDocument_) {
            // Nothing shown meanwhile: the reader's place comes back.
            const bool untouched = empty->isEmpty();
            // A font or tab stops set meanwhile went to the empty document.
            if (full->defaultFont() != empty->defaultFont())
                full->setDefaultFont(empty->defaultFont());
            QTextOption option = full->defaultTextOption();
            const QTextOption::WrapMode wrap = option.wrapMode();
            if (option.tabStopDistance() != empty->defaultTextOption().tabStopDistance()) {
                option.setTabStopDistance(empty->defaultTextOption().tabStopDistance());
                full->setDefaultTextOption(option);
            }
            showDocument(full, heldPlace_.text);
            // Showing a document gives it the editor's wrap mode; a long line's is kept.
            if (full->defaultTextOption().wrapMode() != wrap) {
                option.setWrapMode(wrap);
                full->setDefaultTextOption(option);
            }
            if (!untouched) {
                empty->clear();
            } else {
                const int end = full->characterCount() - 1;
                QTextCursor caret(full);
                caret.setPosition(qBound(0, heldPlace_.anchor, end));
                caret.setPosition(qBound(0, heldPlace_.position, end), QTextCursor::KeepAnchor);
                setTextCursor(caret);
                // By block: the line counts of blocks not laid out since are not what they were.
                const QTextBlock top = full->findBlockByNumber(heldPlace_.topBlock);
                verticalScrollBar()->setValue(top.isValid() ? top.firstLineNumber() + heldPlace_.topLineOffset : 0);
                horizontalScrollBar()->setValue(heldPlace_.horizontalScroll);
            }
        }
        heldPlace_ = Place();
    }
    replaceKeepingSelection(text);
}

QTextDocument* CodeEditor::emptyDocument() {
    if (!emptyDocument_) {
        auto* empty = new QTextDocument(this);
        empty->setDocumentLayout(new PlainTextLayout(empty, [this, empty] { return visibleBlocks(empty); }));
        empty->setUndoRedoEnabled(false);
        emptyDocument_ = empty;
    }
    return emptyDocument_;
}

void CodeEditor::showDocument(QTextDocument* shown, const QString& text) {
    // currentText() follows it from the switch on (listeners of the switch
    // read it), with its text known instead of read whole.
    disconnect(cachedEdits_);
    cachedEdits_ = connect(shown, &QTextDocument::contentsChange, this,
                           [this, shown](int position, int charsRemoved, int charsAdded) {
                               followEdit(shown, position, charsRemoved, charsAdded);
                           });
    cachedDocument_ = shown;
    cachedText_ = text;
    cachedTextValid_ = true;
    setDocument(shown);
    // The block count changed without a signal.
    updateGutterWidth();
    gutter_->update();
}

void CodeEditor::replaceKeepingSelection(const QString& text) {
    // Plain numbers: a QTextCursor copy would move with the edit.
    const QTextCursor caret = textCursor();
    const int anchor = caret.anchor();
    const int position = caret.position();
    const int start = caret.selectionStart();
    const int end = caret.selectionEnd();
    const bool hadSelection = caret.hasSelection();
    const int oldLength = document()->characterCount() - 1;
    // The one edit replaceChangedText makes: where, how much went, how much came.
    int from = -1;
    int removed = 0;
    int added = 0;
    const QMetaObject::Connection watch =
        connect(document(), &QTextDocument::contentsChange, this, [&](int position, int charsRemoved, int charsAdded) {
            if (from < 0) {
                from = position;
                removed = charsRemoved;
                added = charsAdded;
            }
        });
    replaceChangedText(text);
    disconnect(watch);
    if (from < 0)
        return;

    const int newLength = document()->characterCount() - 1;
    QTextCursor after(document());
    if (hadSelection && start == 0 && end == oldLength) {
        after.setPosition(0);
        after.setPosition(newLength, QTextCursor::KeepAnchor);
    } else {
        // Positions before the change stay, those after it move with it.
        const auto moved = [&](int position) {
            if (position <= from)
                return position;
            if (position >= from + removed)
                return qBound(0, position + added - removed, newLength);
            return qMin(from, newLength);
        };
        const bool overlaps = hadSelection && start < from + removed && end > from &&
                              !(removed == 0 && (end == from || start == from));
        after.setPosition(moved(anchor));
        if (!overlaps)
            after.setPosition(moved(position), QTextCursor::KeepAnchor);
        else
            after.setPosition(moved(position));
    }
    const QTextCursor current = textCursor();
    if (current.anchor() == after.anchor() && current.position() == after.position())
        return;
    const int vertical = verticalScrollBar()->value();
    const int horizontal = horizontalScrollBar()->value();
    setTextCursor(after);
    verticalScrollBar()->setValue(vertical);
    horizontalScrollBar()->setValue(horizontal);
}

QString CodeEditor::errorProblemText() const {
    if (errorText_.isEmpty())
        return QStringLiteral("Error");
    return errorText_.startsWith(QStringLiteral("error"), Qt::CaseInsensitive) ? errorText_ : "Error: " + errorText_;
}

QList<CodeEditor::Problem> CodeEditor::problems(bool warningsOnly) const {
    QList<Problem> list;
    if (!warningsOnly && !errorCursor_.isNull())
        list.append({cursorAt(errorLine(), errorColumn_).position(), errorProblemText()});
    for (const EditorWarning& warning : warnings_.all())
        list.append({cursorAt(warning.line, warning.column).position(), warning.text});
    // The error first where a warning shares its place.
    std::stable_sort(list.begin(), list.end(),
                     [](const Problem& a, const Problem& b) { return a.position < b.position; });
    return list;
}

bool CodeEditor::goToProblem(bool forward) {
    const QList<Problem> list = problems(false);
    if (list.isEmpty())
        return false;
    const int caret = textCursor().position();
    const qsizetype count = list.size();
    // Still at the problem gone to last: the one beside it, even at the same place.
    qsizetype at = -1;
    if (lastProblem_.textChanges == textChanges_ && lastProblem_.position == caret) {
        const auto isLast = [&](qsizetype i) {
            return list.at(i).position == caret && list.at(i).text == lastProblem_.text;
        };
        if (lastProblem_.index >= 0 && lastProblem_.index < count && isLast(lastProblem_.index))
            at = lastProblem_.index;
        for (qsizetype i = 0; at < 0 && i < count; ++i) {
            if (isLast(i))
                at = i;
        }
    }
    qsizetype index = 0;
    if (at >= 0) {
        index = (at + (forward ? 1 : count - 1)) % count;
    } else if (forward) {
        index = 0;
        for (qsizetype i = 0; i < count; ++i) {
            if (list.at(i).position > caret) {
                index = i;
                break;
            }
        }
    } else {
        index = count - 1;
        for (qsizetype i = count - 1; i >= 0; --i) {
            if (list.at(i).position < caret) {
                index = i;
                break;
            }
        }
    }
    showProblem(list, index);
    return true;
}

bool CodeEditor::goToFirstWarning() {
    const QList<Problem> list = problems(true);
    if (list.isEmpty())
        return false;
    showProblem(list, 0);
    return true;
}

void CodeEditor::showProblem(const QList<Problem>& list, qsizetype index) {
    const Problem& problem = list.at(index);
    // First: a change of focus hides tool tips.
    setFocus(Qt::OtherFocusReason);
    QTextCursor caret(document());
    caret.setPosition(qBound(0, problem.position, document()->characterCount() - 1));
    showingProblem_ = true;
    setTextCursor(caret);
    ensureCursorVisible();
    showingProblem_ = false;
    lastProblem_ = {textChanges_, caret.position(), index, problem.text};

    if (!describesProblem_) {
        ownDescription_ = accessibleDescription();
        describesProblem_ = true;
    }
    if (accessibleDescription() != problem.text) {
        setAccessibleDescription(problem.text);
    } else {
        // The same text again (the only problem, or two alike): said again all the same.
        QAccessibleEvent said(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&said);
    }
    const QRect at = cursorRect();
    QToolTip::showText(viewport()->mapToGlobal(at.bottomLeft()), chrome::plainToolTip(problem.text), viewport());
}

void CodeEditor::leaveProblem() {
    if (showingProblem_ || !describesProblem_)
        return;
    describesProblem_ = false;
    setAccessibleDescription(ownDescription_);
    QToolTip::hideText();
}

// Hovering the dimmed text of a line's warnings shows them whole; hovering
// the error's line shows the error.
bool CodeEditor::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QPlainTextEdit::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    QRect area;
    QStringList texts = warnings_.textsDrawnAt(help->pos(), &area);
    if (texts.isEmpty() && !errorText_.isEmpty() && !errorCursor_.isNull() && errorCursor_.block().isVisible()) {
        const QRect rows = blockArea(errorCursor_.block()).toAlignedRect();
        if (help->pos().y() >= rows.top() && help->pos().y() <= rows.bottom()) {
            texts = QStringList{errorProblemText()};
            area = QRect(0, rows.top(), viewport()->width(), rows.height());
        }
    }
    if (texts.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), chrome::plainToolTip(texts.join(u'\n')), viewport(), area);
    return true;
}

}  // namespace pelorin
