#pragma once

#include "Syntax.h"

class QString;

namespace pelorin {

// Finds the bracket that matches one of `()`, `[]`, `{}` at a caret, reading
// the text as a stylesheet: brackets inside quoted strings and comments do not
// count, and neither does `//` inside an unquoted `url(...)`.
class BracketMatcher {
public:
    struct Match {
        int bracket = -1;  // position of the bracket at the caret; -1 when none
        int partner = -1;  // position of its partner; -1 when it has none
    };

    // In SCSS `//` starts a comment that runs to the line's end.
    explicit BracketMatcher(Syntax syntax) : lineComments_(syntax == Syntax::Scss) {}

    // The bracket just before the caret, else the one just after it, with its
    // partner, in `text`: a document's text as documentText() reads it.
    Match at(const QString& text, int caret) const;

private:
    bool lineComments_;
};

}  // namespace pelorin
