#pragma once

#include <QColor>

namespace pelorin {

// Every colour the code editors draw beyond their own text colour: the syntax
// scheme, the line-number gutter, the error marks and the warnings. A dark
// scheme on the window background RGB 21, 21, 21; the defaults are the program's scheme.
struct SyntaxColors {
    // Tokens.
    QColor comment{106, 135, 89};        // muted grey-green
    QColor string{206, 145, 120};        // warm tan
    QColor variable{156, 220, 254};      // light blue
    QColor atRule{197, 134, 192};        // soft violet: @media, @if, @include ...
    QColor selector{215, 186, 125};      // sand: a, .class, #id, &, %placeholder
    QColor property{129, 180, 220};      // steel blue
    QColor number{181, 206, 168};        // pale green, units included
    QColor hexColor{220, 170, 110};      // amber: #fff, #e1a1c1
    QColor flag{230, 120, 120};          // !default, !important, !global
    QColor interpolation{86, 182, 194};  // teal: #{ ... }

    // Line-number gutter.
    QColor gutterBackground{21, 21, 21};
    QColor lineNumber{115, 115, 115};
    QColor currentLineNumber{204, 204, 204};
    QColor errorLineNumber{255, 160, 122};  // LightSalmon, the message colour

    // Error marks in the text.
    QColor errorLineBackground{64, 36, 30};  // subtle reddish tint of the background
    QColor errorUnderline{255, 160, 122};    // LightSalmon

    // Compiler warnings: the gutter mark (and its line number), amber so that
    // it never reads as an error, and the message drawn after the line's text.
    QColor warningMark{229, 192, 123};
    QColor warningText{138, 124, 94};  // dimmed amber, quieter than any token
};

}  // namespace pelorin
