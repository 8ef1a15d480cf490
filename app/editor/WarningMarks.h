#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTextCursor>

class QPainter;
class QPoint;
class QRect;
class QRectF;
class QTextBlock;

namespace pelorin {

class CodeEditor;

// One compiler warning as an editor shows it: 1-based line and column in the
// editor's own text, and the message.
struct EditorWarning {
    int line = 1;
    int column = 1;
    QString text;
};

// The warnings a CodeEditor shows. Each line that has any carries them in
// order, anchored to the line so that they move with edits above it until
// the next conversion replaces them. Drawn over the text, never part of it.
class WarningMarks {
public:
    explicit WarningMarks(CodeEditor* editor);

    // Replaces the warnings; a line outside the text takes them to the first
    // line. Returns whether anything shown changed.
    bool set(const QList<EditorWarning>& warnings);
    bool isEmpty() const { return lines_.isEmpty(); }

    // 1-based numbers of the lines with warnings, ascending.
    QList<int> lineNumbers() const;
    // The texts at block `blockNumber` (0-based), in order; empty when none.
    QStringList textsAt(int blockNumber) const;
    // Every warning at its line as it stands now and its column, in text order.
    QList<EditorWarning> all() const;
    // The texts whose dimmed line is drawn at `point` (viewport coordinates),
    // with the area it is drawn in; none when no warning is drawn there.
    QStringList textsDrawnAt(const QPoint& point, QRect* area) const;
    // Their one-line form as drawn after the line's text.
    static QString inlineText(const QStringList& texts);

    // Draws each warning message of the blocks within `rect` (viewport
    // coordinates) after the end of its line's text, dimmed, cut with an
    // ellipsis at the viewport's edge.
    void paint(QPainter& painter, const QRect& rect) const;

private:
    struct Line {
        QTextCursor anchor;  // at the line's start
        QStringList texts;
        QList<int> columns;  // each text's, 1-based
        QString shown;       // inlineText(texts), made once
    };
    // Where a block's warnings are drawn: after the end of its last visual
    // line to the view's right edge, with the text's baseline. False when
    // they are not drawn (no room, block hidden or not laid out).
    bool drawnArea(const QTextBlock& block, QRectF* area, qreal* baseline) const;

    CodeEditor* editor_;
    QList<Line> lines_;  // one per line, in line order when set
};

}  // namespace pelorin
