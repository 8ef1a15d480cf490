#include "EditingCommands.h"

#include <QPlainTextEdit>
#include <QString>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <vector>

namespace pelorin {
namespace {

const QString FourSpaces = QStringLiteral("    ");

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// Length of the leading spaces and tabs of `text`.
int indentationLength(const QString& text) {
    int i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return i;
}

bool isBlankLine(const QString& text) { return indentationLength(text) == text.size(); }

QString oneLevel(const QString& lineText) { return lineText.startsWith(u'\t') ? QStringLiteral("\t") : FourSpaces; }

// How many characters at the end of `indentation` make up its last level.
int lastLevelLength(const QString& indentation) {
    if (indentation.endsWith(u'\t'))
        return 1;
    int spaces = 0;
    while (spaces < 4 && spaces < indentation.size() && indentation.at(indentation.size() - 1 - spaces) == u' ')
        ++spaces;
    return spaces;
}

// The blocks the caret or selection covers. A selection that ends at the
// start of a line does not take that line in.
std::vector<QTextBlock> coveredBlocks(const QTextCursor& cursor) {
    const QTextDocument* document = cursor.document();
    const QTextBlock first = document->findBlock(cursor.selectionStart());
    QTextBlock last = document->findBlock(cursor.selectionEnd());
    if (cursor.hasSelection() && last != first && cursor.selectionEnd() == last.position())
        last = last.previous();
    std::vector<QTextBlock> blocks;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        blocks.push_back(block);
        if (block == last)
            break;
    }
    return blocks;
}

// Replaces [from, from + length) of the document with `text` through `cursor`.
void replaceAt(QTextCursor& cursor, int from, int length, const QString& text) {
    cursor.setPosition(from);
    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
    cursor.insertText(text);
}

// A selection that started at its first line's start starts there again
// after an edit inserted text at that very place, so it still covers whole lines.
class LineStartKeeper {
public:
    explicit LineStartKeeper(QPlainTextEdit& editor) : editor_(editor) {
        const QTextCursor cursor = editor.textCursor();
        first_ = editor.document()->findBlock(cursor.selectionStart());
        active_ = cursor.hasSelection() && cursor.selectionStart() == first_.position();
    }
    ~LineStartKeeper() {
        QTextCursor cursor = editor_.textCursor();
        if (!active_ || !cursor.hasSelection() || cursor.selectionStart() == first_.position())
            return;
        const bool forward = cursor.anchor() <= cursor.position();
        const int start = first_.position();
        const int end = cursor.selectionEnd();
        cursor.setPosition(forward ? start : end);
        cursor.setPosition(forward ? end : start, QTextCursor::KeepAnchor);
        editor_.setTextCursor(cursor);
    }
    LineStartKeeper(const LineStartKeeper&) = delete;
    LineStartKeeper& operator=(const LineStartKeeper&) = delete;

private:
    QPlainTextEdit& editor_;
    QTextBlock first_;
    bool active_ = false;
};

}  // namespace

void EditingCommands::newLine(QPlainTextEdit& editor) {
    QTextCursor cursor = editor.textCursor();
    const QTextBlock block = editor.document()->findBlock(cursor.selectionStart());
    const QString line = block.text();
    const QString before = line.left(cursor.selectionStart() - block.position());
    QString indentation = before.left(indentationLength(before));
    const QString trimmed = before.trimmed();
    if (trimmed.endsWith(u'{'))
        indentation += oneLevel(line);
    cursor.insertText(u'\n' + indentation);
    editor.setTextCursor(cursor);
}

bool EditingCommands::closingBrace(QPlainTextEdit& editor) {
    QTextCursor cursor = editor.textCursor();
    const QTextBlock block = editor.document()->findBlock(cursor.selectionStart());
    const QString before = block.text().left(cursor.selectionStart() - block.position());
    if (before.isEmpty() || !isBlankLine(before))
        return false;
    const int level = lastLevelLength(before);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, level);
    cursor.insertText(QStringLiteral("}"));
    cursor.endEditBlock();
    editor.setTextCursor(cursor);
    return true;
}

void EditingCommands::toggleLineComment(QPlainTextEdit& editor, const QString& marker) {
    QTextCursor cursor = editor.textCursor();
    std::vector<QTextBlock> lines;
    int column = -1;  // the smallest indentation among the lines
    bool allCommented = true;
    for (const QTextBlock& block : coveredBlocks(cursor)) {
        const QString text = block.text();
        if (isBlankLine(text))
            continue;
        const int indentation = indentationLength(text);
        column = column < 0 ? indentation : qMin(column, indentation);
        allCommented = allCommented && QStringView(text).mid(indentation).startsWith(marker);
        lines.push_back(block);
    }
    if (lines.empty())
        return;

    const LineStartKeeper keeper(editor);
    QTextCursor edit(editor.document());
    edit.beginEditBlock();
    for (const QTextBlock& block : lines) {
        if (allCommented) {
            const QString text = block.text();
            const int at = indentationLength(text);
            int length = int(marker.size());
            if (text.mid(at + length, 1) == QStringLiteral(" "))
                ++length;
            replaceAt(edit, block.position() + at, length, QString());
        } else {
            replaceAt(edit, block.position() + column, 0, marker + u' ');
        }
    }
    edit.endEditBlock();
}

void EditingCommands::indentLines(QPlainTextEdit& editor) {
    const QTextCursor cursor = editor.textCursor();
    const LineStartKeeper keeper(editor);
    QTextCursor edit(editor.document());
    edit.beginEditBlock();
    for (const QTextBlock& block : coveredBlocks(cursor)) {
        const QString text = block.text();
        // Blank lines stay blank, unless the caret's line is the only one.
        if (cursor.hasSelection() && isBlankLine(text))
            continue;
        replaceAt(edit, block.position(), 0, oneLevel(text));
    }
    edit.endEditBlock();
}

void EditingCommands::outdentLines(QPlainTextEdit& editor) {
    const QTextCursor cursor = editor.textCursor();
    QTextCursor edit(editor.document());
    edit.beginEditBlock();
    for (const QTextBlock& block : coveredBlocks(cursor)) {
        const QString text = block.text();
        int length = 0;
        if (text.startsWith(u'\t')) {
            length = 1;
        } else {
            while (length < 4 && length < text.size() && text.at(length) == u' ')
                ++length;
        }
        if (length > 0)
            replaceAt(edit, block.position(), length, QString());
    }
    edit.endEditBlock();
}

}  // namespace pelorin
