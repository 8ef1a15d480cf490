#pragma once

#include <QFrame>
#include <QList>

class QLabel;
class QLineEdit;
class QToolButton;

namespace pelorin {

class CodeEditor;

// A small find (and replace) bar over the top right of an editor's pane;
// while it shows, the editor's text starts below it, so no line is hidden
// under it. Ctrl+F in the editor opens it for finding, Ctrl+H adds the
// replace row when the editor is editable. The search runs as you type and
// selects the first match at or after the caret (a search that finds nothing
// leaves no earlier match selected); Enter or F3 goes to the next match,
// Shift+Enter or Shift+F3 to the previous one, wrapping. Replace All says how
// many it replaced where the count of matches shows. Esc closes it and gives
// the editor the focus back with the match selected.
class FindBar : public QFrame {
    Q_OBJECT

public:
    FindBar(CodeEditor* editor, QWidget* pane);

    void openFind();
    // Find and replace; find only when the editor is read-only.
    void openReplace();
    void closeBar();

    void findNext();
    void findPrevious();
    // Replaces the selected match and selects the next one.
    void replaceCurrent();
    // Replaces every match as one edit.
    void replaceAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void InitializeComponent();
    void open(bool withReplace);
    // Ctrl+F, Ctrl+H, F3, Shift+F3 and Esc, from the editor or from inside the bar.
    bool handleKey(QKeyEvent* event, bool inBar);
    // Enter: next match, Shift+Enter: previous; in the replace field, replace.
    bool handleReturn(QKeyEvent* event, bool inReplaceField);
    // All matches again, then the first at or after `origin` selected.
    void search();
    // All matches again after the text changed; selects nothing.
    void refreshMatches();
    void collectMatches();
    void select(int index);
    void updateResult();
    // The match the caret's selection is, after the caret moved.
    void followSelection();
    void place();
    // Keeps the editor's text below the bar while it shows.
    void updateEditorMargin(bool shown);
    // The match the editor's selection is, or -1.
    int selectedMatch() const;
    bool caseSensitive() const;

    CodeEditor* editor_;
    QWidget* pane_;
    QList<int> matches_;  // where each match starts, in order
    int current_ = -1;    // the selected match, -1 when none
    int origin_ = 0;      // where the search as you type starts
    // The selection select() made, while it may still be the editor's.
    int selectedFrom_ = -1;
    int selectedTo_ = -1;

    QLineEdit* findField = nullptr;
    QLabel* resultLabel = nullptr;
    QToolButton* matchCaseButton = nullptr;
    QToolButton* previousButton = nullptr;
    QToolButton* nextButton = nullptr;
    QToolButton* closeButton = nullptr;
    QWidget* replaceRow = nullptr;
    QLineEdit* replaceField = nullptr;
    QToolButton* replaceButton = nullptr;
    QToolButton* replaceAllButton = nullptr;
};

}  // namespace pelorin
