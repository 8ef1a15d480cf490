#include "LongLineWrap.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextOption>

namespace pelorin {

LongLineWrap::LongLineWrap(QPlainTextEdit* editor) : QObject(editor), editor(editor) {
    // Emitted before the document lays out the change, so a long line is
    // never laid out with the slow mode.
    connect(editor->document(), &QTextDocument::contentsChange, this, &LongLineWrap::contentsChanged);
    if (anyLongLine(0, editor->document()->characterCount()))
        setActive(true);
}

bool LongLineWrap::anyLongLine(int from, int to) const {
    const QTextDocument* document = editor->document();
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.length() > LongLine)
            return true;
    }
    return false;
}

void LongLineWrap::contentsChanged(int position, int removed, int added) {
    if (anyLongLine(position, position + added)) {
        setActive(true);
    } else if (active && removed > 0) {
        // The long line may have gone with the removed text.
        setActive(anyLongLine(0, editor->document()->characterCount()));
    }
}

void LongLineWrap::setActive(bool on) {
    QTextDocument* document = editor->document();
    QTextOption option = document->defaultTextOption();
    const QTextOption::WrapMode wanted = on ? QTextOption::WrapAnywhere : editor->wordWrapMode();
    active = on;
    if (editor->wordWrapMode() != QTextOption::WrapAtWordBoundaryOrAnywhere ||
        editor->lineWrapMode() == QPlainTextEdit::NoWrap || option.wrapMode() == wanted)
        return;
    option.setWrapMode(wanted);
    document->setDefaultTextOption(option);
}

}  // namespace pelorin
