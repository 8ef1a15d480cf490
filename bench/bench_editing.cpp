// Times the editing aids on a large stylesheet, offscreen: the bracket match
// that follows every caret move (worst case: a bracket near the end, so the
// scan reads the whole text) and one find-as-you-type step in the find bar.
//
//   bench_editing 8K.scss
#include "CodeEditor.h"
#include "FindBar.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double conversionMs(const QString& scss) {
    QElapsedTimer t;
    t.start();
    VantorCompiler::CompilerOptions o = options;
    o.input = sass_copy_c_string(QStringView(scss).trimmed().toUtf8().constData());
    VantorCompiler::compile(o);
    VantorCompiler::error();
    VantorCompiler::free_memory();
    return t.nsecsElapsed() / 1e6;
}

// Ctrl+V over the whole text of the sample, until both editors have painted
// the result; against the conversion of the pasted text on its own. The first
// of the five apart, then the medians.
void pasteLongRule() {
    const QString rule = "a{b:url(data:image/png;base64," + QString(4 * 1024 * 1024, u'Q') + ")}";
    pelorin::PelorinForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return;
    auto* sass = form.findChild<pelorin::CodeEditor*>("SassEditor");
    auto* css = form.findChild<pelorin::CodeEditor*>("CssEditor");
    const QString sample = sass->toPlainText();
    QApplication::clipboard()->setText(rule);
    std::vector<double> shown, convert;
    for (int r = 0; r < 5; ++r) {
        sass->setPlainText(sample);
        sass->selectAll();
        sass->setFocus();
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        QTest::keyClick(sass, Qt::Key_V, Qt::ControlModifier);
        QCoreApplication::processEvents();
        sass->viewport()->repaint();
        css->viewport()->repaint();
        shown.push_back(t.nsecsElapsed() / 1e6);
        if (sass->toPlainText() != rule || css->toPlainText().size() < rule.size())
            std::printf("paste: unexpected text\n");
        convert.push_back(conversionMs(rule));
    }
    // The first paste lays the line out in memory the program has not used yet.
    std::printf("4 MB one-line rule, first paste: %.1f ms to CSS shown, %.1f ms conversion\n", shown.front(),
                convert.front());
    std::printf("4 MB one-line rule pasted: %.1f ms to CSS shown, %.1f ms conversion, %.1f ms beyond (medians)\n",
                median(shown), median(convert), median(shown) - median(convert));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QFile file(argv[1]);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QString scss = QString::fromUtf8(file.readAll());

    pelorin::PelorinForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto* sass = form.findChild<pelorin::CodeEditor*>("SassEditor");
    sass->setPlainText(scss);
    QCoreApplication::processEvents();

    // Caret moves between the last two characters (a closing brace is there in
    // the generated stylesheet), each one a full bracket match.
    std::vector<double> caret;
    QTextCursor cursor = sass->textCursor();
    for (int r = 0; r < 41; ++r) {
        cursor.setPosition(int(scss.size()) - 1 - r % 2);
        QElapsedTimer t;
        t.start();
        sass->setTextCursor(cursor);
        caret.push_back(t.nsecsElapsed() / 1e6);
    }

    // One typed character in the find field: all matches counted, the first selected.
    auto* bar = form.findChild<pelorin::FindBar*>("SassFindBar");
    auto* field = bar->findChild<QLineEdit*>("findField");
    bar->openFind();
    std::vector<double> find;
    for (int r = 0; r < 21; ++r) {
        QElapsedTimer t;
        t.start();
        field->setText(r % 2 ? "colo" : "color");
        find.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("%lld lines, %lld characters: caret move with bracket match %.3f ms, find step %.3f ms (medians)\n",
                static_cast<long long>(scss.count('\n') + 1), static_cast<long long>(scss.size()), median(caret),
                median(find));
    pasteLongRule();
    return 0;
}
