#pragma once

#include "Chrome.h"

#include <QColor>

#include <array>
#include <cstddef>

namespace pelorin {

// The kinds of text the highlighter tells apart, each drawn in its own colour.
// A new kind is one enumerator here and one row in SyntaxColors::tokens.
enum class Token {
    Comment,
    String,
    Variable,
    AtRule,
    Selector,
    Property,
    Number,
    HexColor,
    Flag,
    Interpolation,
};
inline constexpr std::size_t TokenCount = std::size_t(Token::Interpolation) + 1;

// A token kind's colour, with the name tests and messages call it by.
struct TokenColor {
    const char* name;
    QColor color;
};

// Every colour the code editors draw beyond their own text colour: the syntax
// scheme, the line-number gutter, the error marks and the warnings. A dark
// scheme on the window background RGB 21, 21, 21; the defaults are the program's scheme.
struct SyntaxColors {
    // Tokens, one row per Token in its order.
    std::array<TokenColor, TokenCount> tokens{{
        {"comment", {106, 135, 89}},        // muted grey-green
        {"string", {206, 145, 120}},        // warm tan
        {"variable", {156, 220, 254}},      // light blue
        {"atRule", {197, 134, 192}},        // soft violet: @media, @if, @include ...
        {"selector", {215, 186, 125}},      // sand: a, .class, #id, &, %placeholder
        {"property", {129, 180, 220}},      // steel blue
        {"number", {181, 206, 168}},        // pale green, units included
        {"hexColor", {220, 170, 110}},      // amber: #fff, #e1a1c1
        {"flag", {230, 120, 120}},          // !default, !important, !global
        {"interpolation", {86, 182, 194}},  // teal: #{ ... }
    }};

    QColor& operator[](Token token) { return tokens[std::size_t(token)].color; }
    const QColor& operator[](Token token) const { return tokens[std::size_t(token)].color; }

    // Line-number gutter.
    QColor gutterBackground = chrome::WindowBackground;
    QColor lineNumber = chrome::MutedLink;
    QColor currentLineNumber = chrome::TitleText;
    QColor errorLineNumber = chrome::LightSalmon;  // the message colour

    // Error marks in the text.
    QColor errorLineBackground{64, 36, 30};  // subtle reddish tint of the background
    QColor errorUnderline = chrome::LightSalmon;

    // The bracket at the caret and its partner; an unmatched one in red.
    QColor bracketMatchBackground{70, 70, 70};
    QColor bracketMismatchBackground{90, 30, 30};
    QColor bracketMismatch{255, 110, 110};

    // Compiler warnings: the gutter mark (and its line number), amber so that
    // it never reads as an error, and the message drawn after the line's text.
    QColor warningMark{229, 192, 123};
    QColor warningText{138, 124, 94};  // dimmed amber, quieter than any token
};

}  // namespace pelorin
