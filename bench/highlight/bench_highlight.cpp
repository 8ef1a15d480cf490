// Measures what the code editors cost on a large stylesheet: highlighting the
// SCSS and its CSS, loading them, and the per-keystroke work (typing into the
// SCSS editor, updating the CSS view). Prints the median of repeated runs.
//
//   bench_highlight [file.scss] [--lines N] [--repeats N]
//
// Without a file it generates a stylesheet of N lines (default 8000).

#include "CodeEditor.h"
#include "DocumentText.h"
#include "ScssHighlighter.h"
#include "TextPosition.h"
#include "VantorCompiler.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextBlock>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using pelorin::CodeEditor;
using pelorin::ScssHighlighter;
using pelorin::Syntax;

namespace {

const char* const Prelude = R"(// Generated stylesheet: variables, maps, functions, mixins with content
// blocks, placeholders, loops, nesting and media queries.
$base-font-size: 16px !default;
$spacing: 8px !default;
$palette: (
  primary: #4f1a35,
  secondary: #e1a1c1,
  accent: #edc7da,
  muted: #737373,
  danger: #ffa07a
);
$breakpoints: (
  sm: 576px,
  md: 768px,
  lg: 992px
);

@function rem($px) {
  @return ($px / $base-font-size) * 1rem;
}

@function space($factor: 1) {
  @if $factor <= 0 {
    @return 0;
  } @else {
    @return $spacing * $factor;
  }
}

@mixin respond($breakpoint) {
  @media (min-width: map-get($breakpoints, $breakpoint)) {
    @content;
  }
}

@mixin button-variant($background, $border: darken($background, 5%)) {
  background: $background;
  border: 1px solid $border;
  &:hover {
    background: lighten($background, 8%);
  }
}

%card-base {
  border-radius: 4px;
  box-shadow: 0 1px 2px rgba(0, 0, 0, 0.2);
}
)";

const char* const Module = R"(
/* Module %1: panel with title, states and a grid */
$module-%1-color: %2;
.module-%1 {
  @extend %card-base;
  color: $module-%1-color;
  padding: rem(12px) space(2);
  font-family: "Segoe UI", sans-serif;
  &__title {
    font-size: rem(18px);
    font-weight: 600;
    &:hover { color: darken($module-%1-color, 10%); }
  }
  &--active {
    border: 1px solid lighten($module-%1-color, 20%) !important;
  }
  .button {
    @include button-variant(map-get($palette, primary));
  }
  @include respond(md) {
    padding: rem(16px) space(3);
    .module-%1__title { font-size: rem(22px); }
  }
  @each $name, $value in (primary: #4f1a35, accent: #edc7da) {
    &--#{$name} { background: $value; }
  }
  @for $i from 1 through 3 {
    .col-#{$i} { width: percentage($i / 3); }
  }
  // Trailing note for module %1
  > li + li { margin-top: space(1); }
}
)";

QString generateStylesheet(int lines) {
    QString text = QString::fromUtf8(Prelude);
    for (int module = 1; text.count(u'\n') < lines; ++module) {
        const QString color = QString("#%1").arg((module * 2654435761u) & 0xffffff, 6, 16, QChar(u'0'));
        text += QString::fromUtf8(Module).arg(module).arg(color);
    }
    return text;
}

QString compileCss(const QString& scss, double& ms, int outputStyle = VantorCompiler::Expanded) {
    VantorCompiler::CompilerOptions options;
    options.output_style = outputStyle;
    options.input = sass_copy_c_string(scss.trimmed().toUtf8().constData());
    QElapsedTimer timer;
    timer.start();
    const char* css = VantorCompiler::compile(options);
    const char* error = VantorCompiler::error();
    ms = double(timer.nsecsElapsed()) / 1e6;
    const QString result = css ? QString::fromUtf8(css) : QString();
    if (error)
        std::fprintf(stderr, "conversion error: %s\n", error);
    VantorCompiler::free_memory();
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Median milliseconds of `run`, each run preceded by an untimed `prepare`.
double measure(int repeats, const std::function<void()>& prepare, const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

struct Editor {
    CodeEditor view;
    ScssHighlighter* highlighter = nullptr;

    Editor(Syntax mode, bool highlighted) {
        QFont font("DejaVu Sans Mono", 10);
        view.setFont(font);
        view.resize(500, 440);
        if (highlighted)
            highlighter = new ScssHighlighter(view.document(), mode);
        view.show();
        QCoreApplication::processEvents();
    }
};

void row(const char* what, double ms) { std::printf("  %-58s %9.2f ms\n", what, ms); }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int lines = 8000;
    int repeats = 7;
    QString path;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--lines" && i + 1 < args.size())
            lines = args[++i].toInt();
        else if (args[i] == "--repeats" && i + 1 < args.size())
            repeats = qMax(1, args[++i].toInt());
        else
            path = args[i];
    }

    QString scss;
    if (path.isEmpty()) {
        scss = generateStylesheet(lines);
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        scss = QString::fromUtf8(file.readAll());
    }
    double conversionMs = 0;
    const QString css = compileCss(scss, conversionMs);
    std::vector<double> conversions;
    for (int i = 0; i < repeats; ++i) {
        compileCss(scss, conversionMs);
        conversions.push_back(conversionMs);
    }
    std::printf("Input: %s, %lld SCSS lines (%lld chars) -> %lld CSS lines (%lld chars); median of %d runs\n",
                path.isEmpty() ? "generated" : qPrintable(path), qlonglong(scss.count(u'\n') + 1),
                qlonglong(scss.size()), qlonglong(css.count(u'\n') + 1), qlonglong(css.size()), repeats);
    row("conversion (compile + error + free_memory), for scale", median(conversions));

    using Mode = Syntax;
    std::printf("Highlighting a whole document (rehighlight):\n");
    {
        Editor sass(Mode::Scss, true);
        sass.view.setPlainText(scss);
        row("SCSS", measure(repeats, [] {}, [&] { sass.highlighter->rehighlight(); }));
        Editor out(Mode::Css, true);
        out.view.setPlainText(css);
        row("CSS", measure(repeats, [] {}, [&] { out.highlighter->rehighlight(); }));
        double unused = 0;
        const QString compressed = compileCss(scss, unused, VantorCompiler::Compressed);
        Editor oneLine(Mode::Css, true);
        oneLine.view.setPlainText(compressed);
        row(qPrintable(QString("CSS compressed (%1 lines, %2 chars)")
                           .arg(compressed.count(u'\n') + 1)
                           .arg(compressed.size())),
            measure(repeats, [] {}, [&] { oneLine.highlighter->rehighlight(); }));
    }

    std::printf("Loading the text (setPlainText), plain vs highlighted:\n");
    {
        Editor plainSass(Mode::Scss, false);
        Editor sass(Mode::Scss, true);
        Editor plainCss(Mode::Css, false);
        Editor out(Mode::Css, true);
        const auto clear = [](Editor& e) { return [&e] { e.view.clear(); }; };
        row("SCSS, no highlighter", measure(repeats, clear(plainSass), [&] { plainSass.view.setPlainText(scss); }));
        row("SCSS, highlighted", measure(repeats, clear(sass), [&] { sass.view.setPlainText(scss); }));
        row("CSS, no highlighter", measure(repeats, clear(plainCss), [&] { plainCss.view.setPlainText(css); }));
        row("CSS, highlighted", measure(repeats, clear(out), [&] { out.view.setPlainText(css); }));
    }

    std::printf("One keystroke in the SCSS editor (highlighted), middle of the text:\n");
    {
        Editor sass(Mode::Scss, true);
        sass.view.setPlainText(scss);
        QCoreApplication::processEvents();
        const QTextBlock middle = sass.view.document()->findBlockByNumber(sass.view.blockCount() / 2);
        sass.view.goToPosition(middle.blockNumber() + 1, middle.length());
        row("type a letter", measure(repeats, [] {}, [&] { QTest::keyClick(&sass.view, Qt::Key_X); }));
        row("type a letter and repaint the editor", measure(repeats, [] {}, [&] {
                QTest::keyClick(&sass.view, Qt::Key_X);
                sass.view.repaint();
                sass.view.viewport()->repaint();
            }));
    }
    std::printf("One keystroke with 100 compiler warnings, as a conversion re-sets them (positions mapped\n"
                "in the text, warnings set, editor repainted), against none:\n");
    {
        Editor sass(Mode::Scss, true);
        sass.view.setPlainText(scss);
        QCoreApplication::processEvents();
        const int middle = sass.view.blockCount() / 2;
        const QTextBlock block = sass.view.document()->findBlockByNumber(middle);
        sass.view.goToPosition(middle + 1, block.length());
        QCoreApplication::processEvents();
        const int firstShown = sass.view.cursorForPosition(QPoint(0, 0)).blockNumber() + 1;
        QString text;
        bool flip = false;
        const auto prepare = [&] { text = pelorin::documentText(*sass.view.document()); };
        const auto keystroke = [&](const QList<pelorin::TextPosition>& positions, bool changed) {
            return [&, positions, changed] {
                QTest::keyClick(&sass.view, Qt::Key_X);
                if (!positions.isEmpty()) {
                    const QList<pelorin::TextPosition> places = pelorin::mapTrimmedPositions(text, positions);
                    QList<pelorin::EditorWarning> warnings;
                    flip = !flip;
                    for (qsizetype i = 0; i < places.size(); ++i)
                        warnings.append({places.at(i).line, places.at(i).column,
                                         QString("WARNING: mixin m%1 is deprecated, use n%1 (%2)")
                                             .arg(i)
                                             .arg(changed && flip ? 1 : 0)});
                    sass.view.setWarnings(warnings);
                }
                sass.view.repaint();
                sass.view.viewport()->repaint();
            };
        };
        QList<pelorin::TextPosition> spread, inView;
        for (int i = 0; i < 100; ++i) {
            spread.append({1 + i * (sass.view.blockCount() / 100), 3});
            inView.append({firstShown + i / 4, 1 + i % 4});
        }
        row("no warnings", measure(repeats, prepare, keystroke({}, false)));
        row("100 spread over the text, same as before", measure(repeats, prepare, keystroke(spread, false)));
        row("100 on the lines in view (4 a line), same as before", measure(repeats, prepare, keystroke(inView, false)));
        row("100 on the lines in view, texts changed every key", measure(repeats, prepare, keystroke(inView, true)));
        sass.view.clearWarnings();
    }

    std::printf("Showing a line with no break opportunity (base64), from setPlainText to painted:\n");
    {
        const QString base64Line = "/*# sourceMappingURL=data:application/json;base64," + QString(128 * 1024, u'Q') + " */";
        QPlainTextEdit plain;  // the editors' wrap mode without the long-line switch, as before
        plain.setFont(QFont("DejaVu Sans Mono", 10));
        plain.resize(500, 440);
        plain.show();
        QCoreApplication::processEvents();
        row("128 KB, QPlainTextEdit word wrap (before), one run", measure(1, [] {}, [&] {
                plain.setPlainText(base64Line);
                plain.viewport()->repaint();
            }));
        Editor out(Mode::Css, true);
        row("128 KB, CodeEditor (wraps anywhere)", measure(repeats, [&] { out.view.clear(); }, [&] {
                out.view.setPlainText(base64Line);
                out.view.viewport()->repaint();
            }));
        const QString huge = "a{b:url(data:image/png;base64," + QString(4 * 1024 * 1024, u'Q') + ")}";
        row("4 MB, CodeEditor", measure(3, [&] { out.view.clear(); }, [&] {
                out.view.setPlainText(huge);
                out.view.viewport()->repaint();
            }));
    }

    {
        // Opening a block comment re-colours the lines up to the next "*/";
        // in a text without one, every line after it.
        const auto openAndClose = [&](const QString& text, const char* open, const char* close) {
            Editor sass(Mode::Scss, true);
            sass.view.setPlainText(text);
            QCoreApplication::processEvents();
            sass.view.goToPosition(3, 1);
            std::vector<double> opens;
            std::vector<double> closes;
            for (int i = 0; i < repeats; ++i) {
                QElapsedTimer timer;
                timer.start();
                QTest::keyClicks(&sass.view, "/*");
                opens.push_back(double(timer.nsecsElapsed()) / 1e6);
                timer.restart();
                QTest::keyClick(&sass.view, Qt::Key_Backspace);
                QTest::keyClick(&sass.view, Qt::Key_Backspace);
                closes.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
            row(open, median(opens));
            row(close, median(closes));
        };
        openAndClose(scss, "type \"/*\" near the top (comment up to the next \"*/\")", "erase it again");
        QString noBlockComments = scss;
        noBlockComments.replace(QStringLiteral("/* Module"), QStringLiteral("// Module"));
        noBlockComments.replace(QStringLiteral(" and a grid */"), QStringLiteral(" and a grid"));
        openAndClose(noBlockComments, "type \"/*\" near the top, no \"*/\" after (all lines)", "erase it again (all lines back to code)");
    }

    std::printf("Showing a new conversion in the CSS view (highlighted):\n");
    {
        // The next CSS differs in one value in the middle, as after a keystroke.
        QString changed = css;
        const qsizetype at = changed.indexOf(QStringLiteral("padding"), changed.size() / 2);
        changed.insert(at + 9, QStringLiteral("1"));
        Editor out(Mode::Css, true);
        bool flip = false;
        out.view.setPlainText(css);
        row("replaceChangedText, one value changed",
            measure(repeats, [] {}, [&] {
                flip = !flip;
                out.view.replaceChangedText(flip ? changed : css);
            }));
        row("replaceChangedText and repaint the view",
            measure(repeats, [] {}, [&] {
                flip = !flip;
                out.view.replaceChangedText(flip ? changed : css);
                out.view.repaint();
                out.view.viewport()->repaint();
            }));
        double unused = 0;
        const QString compressed = compileCss(scss, unused, VantorCompiler::Compressed);
        QString compressedChanged = compressed;
        compressedChanged.insert(compressedChanged.indexOf(QStringLiteral("padding:"), compressed.size() / 2) + 8,
                                 QStringLiteral("1"));
        for (const bool highlighted : {false, true}) {
            Editor oneLine(Mode::Css, highlighted);
            oneLine.view.setPlainText(compressed);
            row(highlighted ? "replaceChangedText, compressed CSS, highlighted"
                            : "replaceChangedText, compressed CSS, no highlighter",
                measure(repeats, [] {}, [&] {
                    flip = !flip;
                    oneLine.view.replaceChangedText(flip ? compressedChanged : compressed);
                }));
        }
        row("setPlainText of the whole CSS, for comparison",
            measure(repeats, [] {}, [&] {
                flip = !flip;
                out.view.setPlainText(flip ? changed : css);
            }));
    }
    return 0;
}
