#pragma once

#include "LongLineMemory.h"

#include <QObject>

#include <optional>

class QPlainTextEdit;

namespace pelorin {

// Keeps the layout of an editor's text linear in the length of its lines.
// QTextOption::WrapAtWordBoundaryOrAnywhere, the editors' wrap mode, looks for
// a word boundary up to the end of a line before it breaks anywhere, so each
// visual line of a line without break opportunities costs the rest of that
// line: a 128 KB base64 source map took 8 s to show. While the document holds
// a long line (isLongLine) its default text option wraps
// anywhere, which is linear; otherwise the editor's own wrap mode holds, so
// ordinary text keeps its word wrapping. Only the editor's default mode is
// adapted; any other mode a caller sets is left alone. While the document
// holds a long line, memory freed is kept for its next layout (LongLineMemory).
class LongLineWrap : public QObject {
    Q_OBJECT

public:
    explicit LongLineWrap(QPlainTextEdit* editor);

private:
    void contentsChanged(int position, int removed, int added);
    bool anyLongLine(int from, int to) const;
    void setActive(bool on);

    QPlainTextEdit* editor_;
    bool active_ = false;
    std::optional<LongLineMemory> memory_;  // while active
};

}  // namespace pelorin
