#include "BracketMatcher.h"

#include "SassName.h"

#include <QString>

#include <array>
#include <vector>

namespace pelorin {
namespace {

bool isOpening(QChar c) { return c == u'(' || c == u'[' || c == u'{'; }
bool isClosing(QChar c) { return c == u')' || c == u']' || c == u'}'; }

QChar partnerOf(QChar c) {
    switch (c.unicode()) {
    case u'(': return u')';
    case u'[': return u']';
    case u'{': return u'}';
    case u')': return u'(';
    case u']': return u'[';
    case u'}': return u'{';
    default: return QChar();
    }
}

// The characters the scan below acts on: brackets, quotes and '/' (comments).
constexpr std::array<bool, 128> significantTable() {
    std::array<bool, 128> table{};
    for (const char c : {'(', ')', '[', ']', '{', '}', '"', '\'', '/'})
        table[std::size_t(c)] = true;
    return table;
}
constexpr std::array<bool, 128> Significant = significantTable();

bool startsSomething(char16_t u) {
    return u < Significant.size() && Significant[u];
}

// Walks the text once from its start and reports every bracket that lies
// outside strings and comments, in order.
template <typename Visit>
void scanBrackets(const QString& text, bool lineComments, Visit visit) {
    const qsizetype n = text.size();
    bool inUrl = false;  // inside an unquoted url( ... ), where // is no comment
    const auto* const units = reinterpret_cast<const char16_t*>(text.constData());
    for (qsizetype i = 0; i < n; ++i) {
        // Most of a stylesheet is none of these: skipped in a tight loop, so
        // that a line of megabytes (a data: URL) is read in milliseconds.
        while (i < n && !startsSomething(units[i]))
            ++i;
        if (i == n)
            return;
        const QChar c = text.at(i);
        if (c == u'/' && i + 1 < n && text.at(i + 1) == u'*') {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0)
                return;
            i = end + 1;
        } else if (c == u'/' && lineComments && !inUrl && i + 1 < n && text.at(i + 1) == u'/') {
            const qsizetype end = text.indexOf(u'\n', i + 2);
            if (end < 0)
                return;
            i = end;
        } else if (c == u'"' || c == u'\'') {
            // A string ends at its closing quote or, unclosed, at the line's end.
            qsizetype j = i + 1;
            while (j < n && text.at(j) != c && text.at(j) != u'\n')
                j += text.at(j) == u'\\' ? 2 : 1;
            i = qMin(j, n - 1);
        } else if (isOpening(c) || isClosing(c)) {
            if (c == u'(' && i >= 3 && text.mid(i - 3, 3).compare(QLatin1String("url"), Qt::CaseInsensitive) == 0 &&
                (i == 3 || !isNameChar(text.at(i - 4))))
                inUrl = true;
            else if (c == u')')
                inUrl = false;
            if (!visit(int(i), c))
                return;
        }
    }
}

}  // namespace

BracketMatcher::Match BracketMatcher::at(const QString& text, int caret) const {
    Match match;
    // Most caret positions touch no bracket: no scan then.
    const auto bracketAt = [&text](int position) {
        const QChar c = position >= 0 && position < text.size() ? text.at(position) : QChar();
        return isOpening(c) || isClosing(c);
    };
    if (!bracketAt(caret - 1) && !bracketAt(caret))
        return match;
    // Candidates: the character before the caret first, then the one after it.
    const int candidates[2] = {caret - 1, caret};
    bool targetIsCandidate[2] = {false, false};
    // A closing candidate's partner: the innermost opening bracket still open
    // before it, found on the same pass.
    int closedPartner[2] = {-1, -1};
    std::vector<std::pair<int, QChar>> open;

    // First find which candidate is a bracket outside strings and comments.
    scanBrackets(text, lineComments_, [&](int position, QChar c) {
        if (position > caret)
            return false;
        for (int k = 0; k < 2; ++k) {
            if (position != candidates[k])
                continue;
            targetIsCandidate[k] = true;
            if (isClosing(c) && !open.empty() && open.back().second == partnerOf(c))
                closedPartner[k] = open.back().first;
        }
        if (isOpening(c))
            open.emplace_back(position, c);
        else if (!open.empty() && open.back().second == partnerOf(c))
            open.pop_back();
        return true;
    });
    const int chosen = targetIsCandidate[0] ? 0 : targetIsCandidate[1] ? 1 : -1;
    if (chosen < 0)
        return match;
    const int target = candidates[chosen];
    const QChar targetChar = text.at(target);
    match.bracket = target;
    if (isClosing(targetChar)) {
        match.partner = closedPartner[chosen];
        return match;
    }

    // An opening bracket: its partner closes it after everything opened inside it closed.
    // A closing bracket of the wrong kind there leaves it unmatched.
    std::vector<QChar> nested;  // opened after it and not yet closed
    bool started = false;
    scanBrackets(text, lineComments_, [&](int position, QChar c) {
        if (!started) {
            started = position == target;
            return true;
        }
        if (isOpening(c)) {
            nested.push_back(c);
        } else if (!nested.empty()) {
            if (nested.back() == partnerOf(c))
                nested.pop_back();
        } else {
            if (c == partnerOf(targetChar))
                match.partner = position;
            return false;
        }
        return true;
    });
    return match;
}

}  // namespace pelorin
