#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QPoint>

class QAbstractScrollArea;
class QFrame;
class QLabel;
class QMouseEvent;
class QWidget;

namespace pelorin {
class ChromeLabel;
}

// Look and feel shared by the main window and the about dialog: the dark
// palette, the fonts with their stand-ins, the artwork, and helpers to build
// hand-placed, frameless windows.
namespace pelorin::chrome {

// Colours of the main window.
inline const QColor WindowBackground{21, 21, 21};
inline const QColor TitleStrip{50, 50, 50};
inline const QColor TitleText{204, 204, 204};
inline const QColor MessageStrip{40, 40, 40};
inline const QColor FooterStrip{43, 43, 43};
inline const QColor SplitterLine{30, 30, 30};
inline const QColor MutedLink{115, 115, 115};
inline const QColor GlyphHover{68, 68, 68};
inline const QColor LightSalmon{255, 160, 122};
// A link that acts on the message beside it, bright enough to be seen as one.
inline const QColor ActionLink{110, 175, 245};
inline const QColor DarkGray{169, 169, 169};
// Selected text in the find field, and a checked tool button's text.
inline const QColor SelectionBackground{38, 79, 120};
inline const QColor CheckedText{255, 255, 255};
// Editor text. The desktop theme has no "active border" colour to follow, so
// this is the usual value of that colour on the desktop the layout was drawn on.
inline const QColor EditorText{180, 180, 180};
// The one-pixel frame around each window (the desktop's window-frame colour).
inline const QColor FrameLine{0, 0, 0};
// Scroll bars: a track a shade off the window's background and a thumb that
// stands out from it, lighter under the mouse and while it is dragged.
inline const QColor ScrollTrack{30, 30, 30};
inline const QColor ScrollThumb{84, 84, 84};
inline const QColor ScrollThumbHover{110, 110, 110};
inline const QColor ScrollThumbPressed{135, 135, 135};
// Colours of the about dialog.
inline const QColor DialogBackground{20, 20, 20};
inline const QColor Silver{192, 192, 192};
inline const QColor Transparent{Qt::transparent};

// "Segoe UI" where the desktop has it, else a common sans.
QFont uiFont(qreal pointSize, bool underline = false);
// "Consolas" where the desktop has it, else a common monospace.
QFont codeFont(qreal pointSize);
// The glyph buttons' "Segoe MDL2 Assets" 12 pt bold, else the sans at that size, bold.
QFont glyphFont();

// The window icon (16, 24, 32, 48 and 256 pixel images) and the 512 x 512 logo.
QIcon vantorIcon();
QPixmap logoImage();

// A tool tip that shows `text` as plain text, even where it looks like markup
// (a compiler's message, a warning).
QString plainToolTip(const QString& text);

// Paints the widget's own background in the colour; a transparent colour
// stops it painting one, so the parent shows through.
void setBackground(QWidget* widget, const QColor& color);
void setForeground(QWidget* widget, const QColor& color);

// The small labels of the chrome, the links and the notices: padding 5, the
// sans at 8.25 pt in the muted link colour, the arrow cursor.
void setUpNoticeLabel(QLabel* label);
// A link of the chrome: a notice label that is underlined, with the hand
// cursor, while the mouse is over it.
void setUpLink(ChromeLabel* link);
// A glyph button (close, minimise): padding 10, 4, 10, 6 round the centred
// glyph in the glyph font, the hover background behind it.
void setUpGlyph(ChromeLabel* glyph);
// The one-pixel frame round a whole window of `size`, in the frame colour.
void setUpBorder(QFrame* border, QSize size);
// A frameless window of fixed `size` with the program's icon and the
// background colour, centred on its screen where it fits. `flags` is the
// kind of window; the frameless hint is added.
void setUpFramelessWindow(QWidget* window, Qt::WindowFlags flags, QSize size, const QColor& background);

// Draws the scroll area's scroll bars in the scroll bar colours above, without
// arrow buttons, as thin bars with a rounded thumb.
void setUpScrollBars(QAbstractScrollArea* area);

// Adds a child to a hand-placed container. Each child added goes behind the
// ones added before it, so the first child added lies in front.
void addChild(QWidget* parent, QWidget* child);

// Whether window moves belong to the compositor (Wayland), so a drag must be
// handed to it instead of moving the window by hand.
bool systemMovesWindows();

// A press on one of a frameless window's drag handles: hands the move to the
// compositor where clients may not place windows and returns false; otherwise
// returns true, and the caller tracks the drag from the press position.
bool beginDrag(QWidget* window);

// Where the window goes for a mouse move over the pressed handle: the mouse's
// screen position in the window's client coordinates minus the press offset.
// Without a frame the client origin is the window's position, so the window
// follows the mouse exactly, without a jump at the start.
QPoint dragTarget(QWidget* window, QWidget* handle, const QMouseEvent* event, QPoint offset);

}  // namespace pelorin::chrome
