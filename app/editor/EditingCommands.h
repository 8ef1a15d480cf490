#pragma once

class QPlainTextEdit;
class QString;

namespace pelorin {

// The code editor's editing commands. Each changes the text as one edit, so
// it is one undo step and raises one text change, exactly like a keystroke.
// One indentation level is a tab on lines whose indentation starts with a
// tab, else four spaces.
class EditingCommands {
public:
    // Enter: a line break, then the current line's leading white space, one
    // level more after a line whose text before the caret ends in '{'.
    static void newLine(QPlainTextEdit& editor);
    // A '}' typed as the first non-blank character of its line takes one
    // level off that line first. Returns false, doing nothing, elsewhere.
    static bool closingBrace(QPlainTextEdit& editor);
    // Puts `marker` and a space after the smallest indentation of the
    // caret's line or of the selected lines (blank ones skipped), or takes
    // it off when every one of them has it.
    static void toggleLineComment(QPlainTextEdit& editor, const QString& marker);
    // One level more or less at the start of the caret's or the selected lines.
    static void indentLines(QPlainTextEdit& editor);
    static void outdentLines(QPlainTextEdit& editor);
};

}  // namespace pelorin
