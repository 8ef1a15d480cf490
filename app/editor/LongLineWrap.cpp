#include "LongLineWrap.h"

#include "LongLine.h"
#include "PlainTextLayout.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextOption>

namespace pelorin {

LongLineWrap::LongLineWrap(QPlainTextEdit* editor) : QObject(editor), editor_(editor) {
    // Emitted before the document lays out the change, so a long line is
    // never laid out with the slow mode.
    connect(editor->document(), &QTextDocument::contentsChange, this, &LongLineWrap::contentsChanged);
    if (anyLongLine(0, editor->document()->characterCount()))
        setActive(true);
}

bool LongLineWrap::anyLongLine(int from, int to) const {
    const QTextDocument* document = editor_->document();
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (isLongLine(block.length() - 1))  // its length counts the line break
            return true;
    }
    return false;
}

void LongLineWrap::contentsChanged(int position, int removed, int added) {
    if (anyLongLine(position, position + added)) {
        setActive(true);
    } else if (active_ && removed > 0) {
        // The long line may have gone with the removed text.
        setActive(anyLongLine(0, editor_->document()->characterCount()));
    }
}

void LongLineWrap::setActive(bool on) {
    QTextDocument* document = editor_->document();
    QTextOption option = document->defaultTextOption();
    const QTextOption::WrapMode wanted = on ? QTextOption::WrapAnywhere : editor_->wordWrapMode();
    active_ = on;
    if (on && !memory_)
        memory_.emplace();
    else if (!on)
        memory_.reset();
    if (editor_->wordWrapMode() != QTextOption::WrapAtWordBoundaryOrAnywhere ||
        editor_->lineWrapMode() == QPlainTextEdit::NoWrap || option.wrapMode() == wanted)
        return;
    // Each of the two changes below would lay out the whole document at once;
    // deferred, each block is laid out once, when next needed.
    const PlainTextLayout::Deferral later(document->documentLayout());
    option.setWrapMode(wanted);
    document->setDefaultTextOption(option);
    // Text that needs no shaping (Latin code in a monospace font looks the
    // same) is laid out about a third faster without it. Only while a long
    // line is shown; the editor's own font comes back with word wrap, and a
    // font the editor is given meanwhile replaces this one.
    QFont font = editor_->font();
    if (on)
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    document->setDefaultFont(font);
}

}  // namespace pelorin
