#include "FindBar.h"

#include "Chrome.h"
#include "CodeEditor.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

namespace pelorin {
namespace {

constexpr int FieldWidth = 170;
constexpr int GlyphButtonWidth = 24;

QString barStyleSheet() {
    using namespace chrome;
    return QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; padding: 2px 4px;"
                   " selection-background-color: %4; selection-color: %2; }"
                   "QLineEdit:focus { border-color: %5; }"
                   "QLabel { color: %5; }"
                   "QToolButton { background: transparent; color: %2; border: 1px solid transparent;"
                   " padding: 1px 4px; }"
                   "QToolButton:hover { background: %3; }"
                   "QToolButton:focus { border-color: %5; }"
                   "QToolButton:checked { background: %3; color: %6; }"
                   "QToolButton:disabled { color: %7; }")
        .arg(WindowBackground.name(), TitleText.name(), GlyphHover.name(), SelectionBackground.name(),
             DarkGray.name(), CheckedText.name(), MutedLink.name());
}

QToolButton* toolButton(const char* name, const QString& text, const QString& accessibleName, const QString& description) {
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setText(text);
    button->setAccessibleName(accessibleName);
    button->setAccessibleDescription(description);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::ArrowCursor);
    return button;
}

}  // namespace

FindBar::FindBar(CodeEditor* editor, QWidget* pane) : QFrame(pane), editor_(editor), pane_(pane) {
    InitializeComponent();
    editor->installEventFilter(this);
    // The editor's signals, not its document's: they follow the document it shows.
    connect(editor, &QPlainTextEdit::textChanged, this, [this] {
        if (isVisible())
            refreshMatches();
    });
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, &FindBar::followSelection);
    hide();
}

void FindBar::InitializeComponent() {
    findField = new QLineEdit;
    resultLabel = new QLabel;
    matchCaseButton = toolButton("matchCaseButton", "Aa", "Match case", "Match case");
    previousButton = toolButton("previousButton", QString(u'\u2191'), "Previous match", "Previous match (Shift+Enter)");
    nextButton = toolButton("nextButton", QString(u'\u2193'), "Next match", "Next match (Enter)");
    closeButton = toolButton("closeButton", QString(u'\u00d7'), "Close find bar", "Close (Esc)");
    replaceRow = new QWidget;
    replaceField = new QLineEdit;
    replaceButton = toolButton("replaceButton", "Replace", "Replace", "Replace (Enter)");
    replaceAllButton = toolButton("replaceAllButton", "Replace All", "Replace all", "Replace all");

    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    chrome::setBackground(this, chrome::TitleStrip);
    chrome::setForeground(this, chrome::GlyphHover);
    setFont(chrome::uiFont(9));
    setStyleSheet(barStyleSheet());
    setAccessibleName("Find");

    findField->setObjectName("findField");
    findField->setAccessibleName("Find");
    findField->setPlaceholderText("Find");
    findField->setFixedWidth(FieldWidth);
    findField->setClearButtonEnabled(false);

    resultLabel->setObjectName("resultLabel");
    // Read by its text ("3 of 12"); the description says what that is.
    resultLabel->setAccessibleName("Search results");
    resultLabel->setAccessibleDescription("Search results");
    resultLabel->setMinimumWidth(60);
    resultLabel->setAlignment(Qt::AlignCenter);

    matchCaseButton->setCheckable(true);
    for (QToolButton* glyph : {previousButton, nextButton, closeButton})
        glyph->setFixedWidth(GlyphButtonWidth);

    replaceRow->setObjectName("replaceRow");
    replaceRow->setAccessibleName("Replace");
    replaceField->setObjectName("replaceField");
    replaceField->setAccessibleName("Replace with");
    replaceField->setPlaceholderText("Replace");
    replaceField->setFixedWidth(FieldWidth);

    auto* rows = new QGridLayout(this);
    rows->setContentsMargins(5, 4, 4, 4);
    rows->setHorizontalSpacing(2);
    rows->setVerticalSpacing(3);
    rows->addWidget(findField, 0, 0);
    rows->addWidget(resultLabel, 0, 1);
    rows->addWidget(matchCaseButton, 0, 2);
    rows->addWidget(previousButton, 0, 3);
    rows->addWidget(nextButton, 0, 4);
    rows->addWidget(closeButton, 0, 5);
    rows->addWidget(replaceRow, 1, 0, 1, 6);
    rows->setColumnStretch(1, 1);
    auto* replaceLayout = new QHBoxLayout(replaceRow);
    replaceLayout->setContentsMargins(0, 0, 0, 0);
    replaceLayout->setSpacing(2);
    replaceLayout->addWidget(replaceField);
    replaceLayout->addWidget(replaceButton);
    replaceLayout->addWidget(replaceAllButton);
    replaceLayout->addStretch(1);
    replaceRow->hide();

    setTabOrder(findField, replaceField);
    setTabOrder(replaceField, matchCaseButton);
    setTabOrder(matchCaseButton, previousButton);
    setTabOrder(previousButton, nextButton);
    setTabOrder(nextButton, replaceButton);
    setTabOrder(replaceButton, replaceAllButton);
    setTabOrder(replaceAllButton, closeButton);

    connect(findField, &QLineEdit::textChanged, this, &FindBar::search);
    connect(matchCaseButton, &QToolButton::toggled, this, &FindBar::search);
    connect(previousButton, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(nextButton, &QToolButton::clicked, this, &FindBar::findNext);
    connect(closeButton, &QToolButton::clicked, this, &FindBar::closeBar);
    connect(replaceButton, &QToolButton::clicked, this, &FindBar::replaceCurrent);
    connect(replaceAllButton, &QToolButton::clicked, this, &FindBar::replaceAll);
    pane_->installEventFilter(this);
    findField->installEventFilter(this);
    replaceField->installEventFilter(this);
}

void FindBar::openFind() { open(false); }

void FindBar::openReplace() { open(!editor_->isReadOnly()); }

void FindBar::open(bool withReplace) {
    const QTextCursor selection = editor_->textCursor();
    origin_ = selection.selectionStart();
    const QString selected = selection.selectedText();
    replaceRow->setVisible(withReplace);
    adjustSize();
    place();
    show();
    raise();
    // A selection within one line is what the user wants to find.
    const bool oneLine = !selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator) &&
                         !selected.contains(QChar::LineSeparator);
    if (oneLine && selected != findField->text())
        findField->setText(selected);  // searches
    else
        search();
    QLineEdit* field = withReplace && !findField->text().isEmpty() ? replaceField : findField;
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
}

void FindBar::closeBar() {
    hide();
    editor_->setFocus(Qt::OtherFocusReason);
}

bool FindBar::caseSensitive() const { return matchCaseButton->isChecked(); }

void FindBar::collectMatches() {
    matches_.clear();
    const QString query = findField->text();
    if (query.isEmpty())
        return;
    const QString& text = editor_->currentText();
    const Qt::CaseSensitivity sensitivity = caseSensitive() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (qsizetype at = text.indexOf(query, 0, sensitivity); at >= 0;
         at = text.indexOf(query, at + query.size(), sensitivity))
        matches_.append(int(at));
}

void FindBar::search() {
    collectMatches();
    current_ = -1;
    if (matches_.isEmpty() && !findField->text().isEmpty()) {
        // The earlier match, still selected, is not one of this search.
        QTextCursor caret = editor_->textCursor();
        if (caret.hasSelection() && caret.selectionStart() == selectedFrom_ && caret.selectionEnd() == selectedTo_) {
            caret.setPosition(caret.selectionStart());
            editor_->setTextCursor(caret);
        }
        selectedFrom_ = selectedTo_ = -1;
    }
    if (!matches_.isEmpty()) {
        current_ = 0;
        for (int i = 0; i < matches_.size(); ++i) {
            if (matches_.at(i) >= origin_) {
                current_ = i;
                break;
            }
        }
        select(current_);
    }
    updateResult();
}

void FindBar::refreshMatches() {
    collectMatches();
    current_ = selectedMatch();
    updateResult();
}

int FindBar::selectedMatch() const {
    const QTextCursor selection = editor_->textCursor();
    const int length = int(findField->text().size());
    if (!selection.hasSelection() || selection.selectionEnd() - selection.selectionStart() != length)
        return -1;
    const int index = int(matches_.indexOf(selection.selectionStart()));
    return index;
}

void FindBar::select(int index) {
    current_ = index;
    QTextCursor cursor(editor_->document());
    cursor.setPosition(matches_.at(index));
    cursor.setPosition(matches_.at(index) + int(findField->text().size()), QTextCursor::KeepAnchor);
    selectedFrom_ = cursor.selectionStart();
    selectedTo_ = cursor.selectionEnd();
    editor_->setTextCursor(cursor);
    origin_ = matches_.at(index);
}

void FindBar::followSelection() {
    if (!isVisible() || findField->text().isEmpty())
        return;
    const int index = selectedMatch();
    if (index == current_)
        return;
    current_ = index;
    updateResult();
}

void FindBar::findNext() {
    if (matches_.isEmpty())
        return;
    int index = selectedMatch();
    if (index >= 0) {
        index = (index + 1) % int(matches_.size());
    } else {
        // The first match after the caret, wrapping.
        const int caret = editor_->textCursor().selectionEnd();
        index = 0;
        for (int i = 0; i < matches_.size(); ++i) {
            if (matches_.at(i) >= caret) {
                index = i;
                break;
            }
        }
    }
    select(index);
    updateResult();
}

void FindBar::findPrevious() {
    if (matches_.isEmpty())
        return;
    int index = selectedMatch();
    if (index >= 0) {
        index = (index - 1 + int(matches_.size())) % int(matches_.size());
    } else {
        const int caret = editor_->textCursor().selectionStart();
        index = int(matches_.size()) - 1;
        for (int i = int(matches_.size()) - 1; i >= 0; --i) {
            if (matches_.at(i) < caret) {
                index = i;
                break;
            }
        }
    }
    select(index);
    updateResult();
}

void FindBar::replaceCurrent() {
    if (editor_->isReadOnly() || matches_.isEmpty())
        return;
    const int index = selectedMatch();
    if (index < 0) {
        findNext();
        return;
    }
    QTextCursor cursor = editor_->textCursor();
    cursor.insertText(replaceField->text());
    editor_->setTextCursor(cursor);
    // The text changed, so the matches were counted again; go on after the replacement.
    if (matches_.isEmpty()) {
        updateResult();
        return;
    }
    findNext();
}

void FindBar::replaceAll() {
    if (editor_->isReadOnly() || matches_.isEmpty())
        return;
    const QList<int> targets = matches_;
    const int length = int(findField->text().size());
    const QString replacement = replaceField->text();
    QTextCursor cursor(editor_->document());
    cursor.beginEditBlock();
    // From the last to the first, so the positions still to come stay valid.
    for (auto it = targets.crbegin(); it != targets.crend(); ++it) {
        cursor.setPosition(*it);
        cursor.setPosition(*it + length, QTextCursor::KeepAnchor);
        cursor.insertText(replacement);
    }
    cursor.endEditBlock();
    editor_->setTextCursor(cursor);
    // Said where the count of matches was, until the next search, step or edit.
    const QString replaced = QString("%1 replaced").arg(targets.size());
    resultLabel->setText(replaced);
    resultLabel->setAccessibleName(replaced);
}

void FindBar::updateResult() {
    if (findField->text().isEmpty())
        resultLabel->clear();
    else if (matches_.isEmpty())
        resultLabel->setText("No results");
    else if (current_ >= 0)
        resultLabel->setText(QString("%1 of %2").arg(current_ + 1).arg(matches_.size()));
    else
        resultLabel->setText(QString("? of %1").arg(matches_.size()));
    // Read by its text; named even before anything was searched.
    resultLabel->setAccessibleName(resultLabel->text().isEmpty() ? QString("Search results") : resultLabel->text());
    const bool any = !matches_.isEmpty();
    previousButton->setEnabled(any);
    nextButton->setEnabled(any);
    replaceButton->setEnabled(any);
    replaceAllButton->setEnabled(any);
}

// Over the top right of the editor's text, clear of its scroll bar.
void FindBar::place() {
    const QRect area = editor_->geometry();
    const QScrollBar* bar = editor_->verticalScrollBar();
    const int scrollBar = bar->isVisible() ? bar->width() : 0;
    move(qMax(area.left(), area.right() + 1 - scrollBar - width()), area.top());
}

void FindBar::updateEditorMargin(bool shown) {
    const int covered = shown ? geometry().bottom() + 1 - editor_->geometry().top() : 0;
    editor_->setTopMargin(qMax(0, covered));
}

void FindBar::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    updateEditorMargin(true);
}

void FindBar::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    updateEditorMargin(false);
}

void FindBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateEditorMargin(isVisible());
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == pane_) {
        if (isVisible())
            place();
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == editor_ && handleKey(key, false))
            return true;
        if ((watched == findField || watched == replaceField) && handleReturn(key, watched == replaceField))
            return true;
    }
    return QFrame::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event, true) && !handleReturn(event, false))
        QFrame::keyPressEvent(event);
}

bool FindBar::handleKey(QKeyEvent* event, bool inBar) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::ControlModifier && key == Qt::Key_F) {
        openFind();
        return true;
    }
    if (modifiers == Qt::ControlModifier && key == Qt::Key_H) {
        openReplace();
        return true;
    }
    if (key == Qt::Key_F3 && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        if (!isVisible() || findField->text().isEmpty()) {
            openFind();
            return true;
        }
        if (modifiers == Qt::ShiftModifier)
            findPrevious();
        else
            findNext();
        return true;
    }
    if (key == Qt::Key_Escape && modifiers == Qt::NoModifier && isVisible()) {
        if (inBar) {
            closeBar();
        } else {
            hide();  // the editor keeps the focus
        }
        return true;
    }
    return false;
}

bool FindBar::handleReturn(QKeyEvent* event, bool inReplaceField) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (modifiers == Qt::NoModifier && inReplaceField)
        replaceCurrent();
    else if (modifiers == Qt::NoModifier)
        findNext();
    else if (modifiers == Qt::ShiftModifier)
        findPrevious();
    else
        return false;
    return true;
}

// Tab and Shift+Tab go round the bar's own controls.
bool FindBar::focusNextPrevChild(bool next) {
    QList<QWidget*> order;
    for (QWidget* w : {static_cast<QWidget*>(findField), static_cast<QWidget*>(replaceField),
                       static_cast<QWidget*>(matchCaseButton), static_cast<QWidget*>(previousButton),
                       static_cast<QWidget*>(nextButton), static_cast<QWidget*>(replaceButton),
                       static_cast<QWidget*>(replaceAllButton), static_cast<QWidget*>(closeButton)}) {
        if (w->isVisibleTo(this) && w->isEnabled())
            order.append(w);
    }
    const int at = int(order.indexOf(QWidget::focusWidget()));
    if (order.isEmpty() || at < 0)
        return QFrame::focusNextPrevChild(next);
    const int count = int(order.size());
    order.at((at + (next ? 1 : -1) + count) % count)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

}  // namespace pelorin
