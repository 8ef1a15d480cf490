// Times the real window, offscreen: one key press in the SCSS editor until its
// CSS is shown, against the conversion of the same text through the library
// and by libsass in this process, with each compiler the window offers, and
// start-up to the first CSS shown; the first conversion after choosing Dart
// Sass, the runtime's start included; then what long CSS lines cost from
// conversion to shown: the last plain stylesheet with "Source Map Embed"
// turned on (one long base64 line), and a one-line 4 MB CSS; and a keystroke
// on that stylesheet with 100 @warn rules.
//
//   bench_window SAMPLE.scss 1K.scss 8K.scss
//                [--framework NAME ENTRY.scss USER.scss ENGINES]...
//
// A plain stylesheet converts with libsass. A framework's text is what a user
// writes on top of it: the framework's entry (Bootstrap's scss/bootstrap.scss,
// Bulma's bulma.scss) followed by USER.scss, a few hundred lines of the site's
// own rules on the framework's variables, functions and mixins (written by
// run_window_bench.py). It converts in the entry's folder, made the current
// folder as a dropped file's folder is, so the entry's relative loads resolve
// there. ENGINES is "libsass", "dart-sass" or both, comma-separated; each is
// chosen as a user chooses it, through the Compiler submenu's item, and with
// two the runs alternate between them, so both meet the same machine.
//
// The key presses edit a number in a value near the middle of each text (for
// a framework, of the user's part), so every press changes the CSS (a digit
// typed into it, then deleted), and an opening parenthesis typed there enters
// a Sass error that the next Backspace leaves. Each press follows 150 ms of
// idle, as in typing. "display" is the program's own share: key to CSS shown
// minus the conversion through the library; "own CPU" is the same share as CPU
// time of the program's thread during the press (Qt's key handling and the
// repaint of both editors included), "handler" the part of it from the SCSS
// document's change to the end of the program's handling of it (the layout of
// the edited line, the request to the library and its reply, the CSS's changed
// middle replaced), "lib CPU" the library's share of this thread in the same
// conversion made directly (the request, the reply read and, with Dart Sass,
// the CSS re-indented), "key CPU" the whole press's CPU time plus the compiler
// process's (the libsass worker or the Dart runtime), against libsass's own
// CPU time in this process ("bare CPU"): figures the machine's load hardly
// changes, unlike the wall-clock ones on a shared machine. The bare columns
// exist for libsass only, "-" on Dart Sass's rows.
//
// The first conversion after choosing Dart Sass is timed in fresh programs
// (this one started again with --cold-dart-sass [ENTRY USER]), from the
// trigger of the menu item to the CSS shown: on a one-rule text and on the
// first framework given, each after libsass converted it; beside it the same
// switch once the runtime is running.
#include "Options.h"
#include "PelorinForm.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double conversionMs(const QByteArray& scss) {
    QElapsedTimer t;
    t.start();
    VantorCompiler::CompilerOptions o = options;
    o.input = sass_copy_c_string(scss.constData());
    VantorCompiler::compile(o);
    VantorCompiler::error();
    VantorCompiler::free_memory();
    return t.nsecsElapsed() / 1e6;
}

// The same conversion by libsass in this process, on glibc's default allocator.
double bareMs(const QByteArray& scss) {
    QElapsedTimer t;
    t.start();
    Sass_Data_Context* data = sass_make_data_context(sass_copy_c_string(scss.constData()));
    Sass_Options* o = sass_data_context_get_options(data);
    sass_option_set_precision(o, 10);
    sass_option_set_source_comments(o, false);
    sass_option_set_source_map_embed(o, 0);
    sass_option_set_output_style(o, SASS_STYLE_EXPANDED);
    sass_option_set_indent(o, "    ");
    sass_data_context_set_options(data, o);
    Sass_Compiler* compiler = sass_make_data_compiler(data);
    sass_compiler_parse(compiler);
    sass_compiler_execute(compiler);
    sass_delete_compiler(compiler);
    sass_context_get_output_string(sass_data_context_get_context(data));
    sass_delete_data_context(data);
    return t.nsecsElapsed() / 1e6;
}

void pause() { QThread::msleep(150); }

// CPU time of this thread in ms. While the library waits for its compiler this
// thread sleeps, so over a key press it is the program's own share.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double threadCpuSince(double startMs) { return threadCpuMs() - startMs; }

// The compilers the window offers: the menu item that chooses each, the name
// of its process among this one's children, and whether libsass in process
// converts the same text (the bare columns).
struct Engine {
    const char* name;
    const char* item;
    const char* process;
    bool bare;
};

const Engine engines[] = {
    {"libsass", "libsassToolStripMenuItem", "vantor-compiler", true},  // the worker's name, as the kernel cuts it
    {"dart-sass", "dartSassToolStripMenuItem", "dart", false},  // "dart:sass.snapshot", as the runtime names itself
};

const Engine* engineNamed(const QString& name) {
    for (const Engine& engine : engines) {
        if (name == QLatin1String(engine.name))
            return &engine;
    }
    return nullptr;
}

// CPU time in ms of this process's children whose name starts with `process`
// (all their threads), from the kernel's per-thread schedstat.
double childCpuMs(const char* process) {
    double ns = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children("/proc/self/task/" + task + "/children");
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& pid : children.readAll().trimmed().split(' ')) {
            QFile comm("/proc/" + QString::fromLatin1(pid) + "/comm");
            if (pid.isEmpty() || !comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith(process))
                continue;
            const QString tasks = "/proc/" + QString::fromLatin1(pid) + "/task/";
            for (const QString& thread : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile sched(tasks + thread + "/schedstat");
                if (sched.open(QIODevice::ReadOnly))
                    ns += sched.readAll().split(' ').first().toDouble();
            }
        }
    }
    return ns / 1e6;
}

struct Row {
    std::vector<double> key, convert, bare, ownCpu, handlerCpu, libraryCpu, keyCpu, bareCpu;
};

// The thread's CPU time at the SCSS document's last change and at the end of
// the handling of it: the program reacts to the change between the two.
struct HandlerClock {
    double changed = 0;
    double handled = 0;
    void watch(QTextDocument* document) {
        QObject::connect(document, &QTextDocument::contentsChange, [this] { changed = threadCpuMs(); });
        QObject::connect(document, &QTextDocument::contentsChanged, [this] { handled = threadCpuMs(); });
    }
} handlerClock;

// A figure of the table, or "-" where the row has none.
QByteArray cell(double value, bool has, int width, int decimals = 3) {
    return has ? QByteArray::number(value, 'f', decimals).rightJustified(width) : QByteArray("-").rightJustified(width);
}

void printHeader() {
    std::printf("%-16s %-9s %6s %-17s %4s %11s %10s %8s %10s %8s  %8s %8s %8s %8s %8s %8s\n", "input", "engine",
                "lines", "edit", "runs", "key->CSS ms", "convert ms", "bare ms", "display ms", "key/bare", "own CPU",
                "handler", "lib CPU", "key CPU", "bare CPU", "CPU k/b");
}

void print(const QString& input, const Engine& engine, long long lines, const char* edit, const Row& row) {
    const double k = median(row.key), c = median(row.convert), b = median(row.bare);
    const double kc = median(row.keyCpu), bc = median(row.bareCpu);
    const bool bare = engine.bare && b > 0;
    std::printf("%-16s %-9s %6lld %-17s %4zu %11.3f %10.3f %s %10.3f %s  %8.3f %8.3f %8.3f %8.3f %s %s\n",
                qPrintable(input), engine.name, lines, edit, row.key.size(), k, c, cell(b, bare, 8).constData(), k - c,
                cell(k / b, bare, 8).constData(), median(row.ownCpu), median(row.handlerCpu), median(row.libraryCpu), kc,
                cell(bc, bare, 8).constData(), cell(kc / bc, bare && bc > 0, 8).constData());
    std::fflush(stdout);
}

// Presses `key`, waits until both editors have repainted, and times the
// conversions of the text it left.
void press(QPlainTextEdit* sass, Qt::Key key, const Engine& engine, Row& row) {
    pause();
    QElapsedTimer t;
    const double compiler = childCpuMs(engine.process);
    const double cpu = threadCpuMs();
    t.start();
    QTest::keyClick(sass, key);
    QCoreApplication::processEvents();  // includes the repaint of both editors
    row.key.push_back(t.nsecsElapsed() / 1e6);
    const double own = threadCpuSince(cpu);
    row.ownCpu.push_back(own);
    row.handlerCpu.push_back(handlerClock.handled - handlerClock.changed);
    row.keyCpu.push_back(own + childCpuMs(engine.process) - compiler);
    const QByteArray text = sass->toPlainText().trimmed().toUtf8();
    pause();
    const double libraryCpu = threadCpuMs();
    row.convert.push_back(conversionMs(text));
    row.libraryCpu.push_back(threadCpuSince(libraryCpu));
    if (!engine.bare)
        return;
    pause();
    const double bareCpu = threadCpuMs();
    row.bare.push_back(bareMs(text));
    row.bareCpu.push_back(threadCpuSince(bareCpu));
}

// One text the edits run on: a plain stylesheet, or a framework's entry and
// the user's part after it.
struct Input {
    QString name;
    QString path;   // the stylesheet, or the user's part
    QString entry;  // the framework's entry; empty for a plain stylesheet
    QList<const Engine*> engines;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    return file.readAll();
}

// Chooses `engine` as a user does, in the Compiler submenu; false (with a note)
// when the window offers it disabled.
bool choose(pelorin::PelorinForm& form, const Engine& engine) {
    auto* item = form.findChild<QAction*>(engine.item);
    if (!item || !item->isEnabled()) {
        std::printf("note: %s cannot be chosen here%s%s\n", engine.name, item ? ": " : "",
                    item ? qPrintable(item->toolTip()) : "");
        return false;
    }
    item->trigger();
    QCoreApplication::processEvents();
    return item->isChecked();
}

// The digit, error-entering and error-leaving rows of one input, with each of its engines.
int runEdits(const Input& input) {
    const QByteArray entry = input.entry.isEmpty() ? QByteArray() : readFile(input.entry);
    const QByteArray user = readFile(input.path);
    const QByteArray scss = entry.isEmpty() ? user : entry + (entry.endsWith('\n') ? "" : "\n") + user;
    const QString text = QString::fromUtf8(scss);
    const qsizetype userStart = text.size() - QString::fromUtf8(user).size();
    const long long lines = scss.count('\n') + 1;
    // A number right after a property's colon, at or after the middle of the user's text.
    static const QRegularExpression value(QStringLiteral("^\\s*[a-z-]+:\\s*\\d"), QRegularExpression::MultilineOption);
    QRegularExpressionMatch match = value.match(text, userStart + (text.size() - userStart) / 2);
    if (!match.hasMatch())
        match = value.match(text, userStart);
    if (!match.hasMatch()) {
        std::fprintf(stderr, "%s: no numeric value to edit\n", qPrintable(input.path));
        return 1;
    }
    const int at = int(match.capturedEnd());  // after the value's first digit

    const QString startFolder = QDir::currentPath();
    pelorin::PelorinForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
    auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
    auto* message = form.findChild<QLabel*>("MessageBox");
    // The entry's folder, as a dropped entry's folder becomes the current one: relative loads resolve there.
    if (!input.entry.isEmpty() && !QDir::setCurrent(QFileInfo(input.entry).absolutePath())) {
        std::fprintf(stderr, "cannot enter the folder of %s\n", qPrintable(input.entry));
        return 1;
    }
    sass->setPlainText(text);
    QCoreApplication::processEvents();
    QList<const Engine*> chosen;
    for (const Engine* engine : input.engines) {
        if (!choose(form, *engine))
            continue;
        if (!message->text().isEmpty() || css->toPlainText().isEmpty()) {
            std::printf("note: %s with %s does not convert (%s); its rows are skipped\n", qPrintable(input.name),
                        engine->name, qPrintable(message->text()));
            continue;
        }
        chosen.append(engine);
    }
    handlerClock.watch(sass->document());
    sass->setFocus();
    QTextCursor cursor = sass->textCursor();
    cursor.setPosition(at);
    sass->setTextCursor(cursor);
    sass->centerCursor();
    QCoreApplication::processEvents();

    const int runs = scss.size() > 100000 || !input.entry.isEmpty() ? 15 : 31;
    struct Rows {
        Row edit, enter, leave;
    };
    std::vector<Rows> rows(size_t(chosen.size()));
    bool unchanged = false, noError = false, errorStays = false;
    for (int r = 0; r < runs; ++r) {
        for (qsizetype e = 0; e < chosen.size(); ++e) {
            const Engine& engine = *chosen.at(e);
            if (chosen.size() > 1)
                choose(form, engine);
            // A digit typed into the number and deleted again: both change the CSS.
            for (Qt::Key key : {Qt::Key_1, Qt::Key_Backspace}) {
                const QString before = css->toPlainText();
                press(sass, key, engine, rows[size_t(e)].edit);
                unchanged |= css->toPlainText() == before;
            }
            press(sass, Qt::Key_ParenLeft, engine, rows[size_t(e)].enter);
            noError |= message->text().isEmpty();
            press(sass, Qt::Key_Backspace, engine, rows[size_t(e)].leave);
            errorStays |= !message->text().isEmpty();
        }
    }
    for (qsizetype e = 0; e < chosen.size(); ++e) {
        const Engine& engine = *chosen.at(e);
        print(input.name, engine, lines, "digit in a value", rows[size_t(e)].edit);
        print(input.name, engine, lines, "enters an error", rows[size_t(e)].enter);
        print(input.name, engine, lines, "leaves the error", rows[size_t(e)].leave);
    }
    // Back to the program's start: libsass, in the folder it started in.
    if (options.engine != VantorCompiler::Libsass)
        choose(form, engines[0]);
    QDir::setCurrent(startFolder);
    if (unchanged || noError || errorStays || sass->toPlainText() != text) {
        std::fprintf(stderr, "warning: %s: the edits did not do what they should%s%s%s\n", qPrintable(input.name),
                     unchanged ? " (a press left the CSS as it was)" : "", noError ? " (no error entered)" : "",
                     errorStays ? " (the error stayed)" : "");
        return 1;
    }
    return 0;
}

// In a fresh program: the text (a one-rule one, or ENTRY and USER in ENTRY's
// folder) converted by libsass, then Dart Sass chosen; prints the ms from the
// trigger to the CSS shown, then the same for a second switch, the runtime
// running. Nonzero when Dart Sass did not convert the text.
int coldDartSass(const QString& entry, const QString& user) {
    pelorin::PelorinForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
    auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
    auto* message = form.findChild<QLabel*>("MessageBox");
    QString text = QStringLiteral(".a {\n    width: 10px;\n}\n");
    if (!entry.isEmpty()) {
        text = QString::fromUtf8(readFile(entry) + "\n" + readFile(user));
        if (!QDir::setCurrent(QFileInfo(entry).absolutePath()))
            return 1;
    }
    sass->setPlainText(text);
    QCoreApplication::processEvents();
    auto* dartSass = form.findChild<QAction*>(engines[1].item);
    auto* libsass = form.findChild<QAction*>(engines[0].item);
    double ms[2] = {0, 0};
    for (double& each : ms) {
        if (!libsass->isChecked()) {
            libsass->trigger();
            QCoreApplication::processEvents();
        }
        pause();
        QElapsedTimer t;
        t.start();
        dartSass->trigger();
        QCoreApplication::processEvents();  // includes the repaint of both editors
        each = t.nsecsElapsed() / 1e6;
        if (!dartSass->isChecked() || !message->text().isEmpty() || css->toPlainText().isEmpty()) {
            std::fprintf(stderr, "Dart Sass did not convert the text: %s\n", qPrintable(message->text()));
            return 1;
        }
    }
    std::printf("%.3f %.3f\n", ms[0], ms[1]);
    return 0;
}

// Times the first conversion after choosing Dart Sass in fresh programs, on a
// one-rule text and on `framework`, alternating.
void runColdDartSass(const Input* framework) {
    if (const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass)) {
        std::printf("\nnote: Dart Sass cannot run here (%s): no first conversion to time\n", problem);
        return;
    }
    std::printf("\nFirst conversion after choosing Dart Sass, fresh program (the runtime's start included), from\n"
                "the menu item's trigger to the CSS shown; then a second switch, the runtime running:\n");
    struct Case {
        QString name;
        QStringList arguments;
        std::vector<double> cold, warm;
    };
    std::vector<Case> cases = {{"one-rule text", {"--cold-dart-sass"}, {}, {}}};
    if (framework)
        cases.push_back({framework->name, {"--cold-dart-sass", framework->entry, framework->path}, {}, {}});
    for (int r = 0; r < 7; ++r) {
        for (Case& c : cases) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(), c.arguments);
            if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
                continue;
            const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
            if (figures.size() == 2) {
                c.cold.push_back(figures.at(0).toDouble());
                c.warm.push_back(figures.at(1).toDouble());
            }
        }
    }
    for (const Case& c : cases) {
        if (c.cold.empty()) {
            std::printf("  %-16s no run converted\n", qPrintable(c.name));
            continue;
        }
        std::printf("  %-16s first %8.1f ms (%.1f to %.1f over %zu programs), runtime running %8.1f ms\n",
                    qPrintable(c.name), median(c.cold), *std::min_element(c.cold.begin(), c.cold.end()),
                    *std::max_element(c.cold.begin(), c.cold.end()), c.cold.size(), median(c.warm));
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer startup;
    startup.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    if (argc >= 2 && std::strcmp(argv[1], "--cold-dart-sass") == 0)
        return coldDartSass(argc == 4 ? QString::fromLocal8Bit(argv[2]) : QString(),
                            argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString());

    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        QCoreApplication::processEvents();
        std::printf("start-up to first CSS shown: %.1f ms (QApplication, window, first conversion, first paint)\n\n",
                    startup.nsecsElapsed() / 1e6);
    }

    std::vector<Input> inputs;
    QString lastPath;  // the last plain stylesheet, for the sections after the table
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--framework") != 0) {
            lastPath = QString::fromLocal8Bit(argv[i]);
            inputs.push_back({QFileInfo(lastPath).fileName(), lastPath, QString(), {&engines[0]}});
            continue;
        }
        if (i + 4 >= argc) {
            std::fprintf(stderr, "usage: --framework NAME ENTRY.scss USER.scss ENGINES\n");
            return 2;
        }
        Input input{QString::fromLocal8Bit(argv[i + 1]), QString::fromLocal8Bit(argv[i + 3]),
                    QString::fromLocal8Bit(argv[i + 2]), {}};
        for (const QString& name : QString::fromLocal8Bit(argv[i + 4]).split(u',')) {
            const Engine* engine = engineNamed(name);
            if (!engine) {
                std::fprintf(stderr, "unknown engine %s: libsass or dart-sass\n", qPrintable(name));
                return 2;
            }
            input.engines.append(engine);
        }
        inputs.push_back(input);
        i += 4;
    }

    printHeader();
    int status = 0;
    const Input* firstFramework = nullptr;
    for (const Input& input : inputs) {
        status |= runEdits(input);
        if (!firstFramework && !input.entry.isEmpty())
            firstFramework = &input;
    }
    runColdDartSass(firstFramework);

    if (lastPath.isEmpty())
        return status;
    const QByteArray scss = readFile(lastPath);
    std::printf("\nLong CSS lines, from conversion to shown (the window's work beyond the conversion):\n");
    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        sass->setPlainText(QString::fromUtf8(scss));
        QCoreApplication::processEvents();
        QAction* map = form.findChild<QAction*>("sourceMapEmbedToolStripMenuItem");
        std::vector<double> shown, convert, cpu;
        for (int r = 0; r < 6; ++r) {
            QElapsedTimer t;
            t.start();
            const double cpu0 = threadCpuMs();
            map->trigger();
            QCoreApplication::processEvents();
            css->viewport()->repaint();
            const double ms = t.nsecsElapsed() / 1e6;
            if (options.source_map_embed) {
                shown.push_back(ms);
                cpu.push_back(threadCpuMs() - cpu0);
                convert.push_back(conversionMs(sass->toPlainText().trimmed().toUtf8()));
            }
        }
        qsizetype longest = 0;
        for (const QString& line : css->toPlainText().split(u'\n'))
            longest = qMax(longest, line.size());
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (longest line %lld chars)\n",
                    qPrintable(QFileInfo(lastPath).fileName() + ", Source Map Embed turned on"),
                    median(shown), median(convert), median(shown) - median(convert), median(cpu),
                    static_cast<long long>(longest));
    }
    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        const QString huge = "a{b:url(data:image/png;base64," + QString(4 * 1024 * 1024, u'Q') + ")}";
        QElapsedTimer t;
        t.start();
        const double cpu0 = threadCpuMs();
        sass->setPlainText(huge);
        QCoreApplication::processEvents();
        sass->viewport()->repaint();
        css->viewport()->repaint();
        const double pasted = t.nsecsElapsed() / 1e6;
        const double pastedCpu = threadCpuMs() - cpu0;
        const double c = conversionMs(huge.toUtf8());
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (both editors)\n",
                    "4 MB one-line rule pasted as SCSS", pasted, c, pasted - c, pastedCpu);
        // From conversion to shown: each output style gives the CSS view a new 4 MB line.
        std::vector<double> shown, convert, cpu;
        for (const char* item : {"compressedToolStripMenuItem", "expandedToolStripMenuItem",
                                 "compressedToolStripMenuItem", "expandedToolStripMenuItem"}) {
            t.restart();
            const double before = threadCpuMs();
            form.findChild<QAction*>(item)->trigger();
            QCoreApplication::processEvents();
            css->viewport()->repaint();
            shown.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - before);
            convert.push_back(conversionMs(huge.toUtf8()));
        }
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (CSS %lld chars)\n",
                    "4 MB one-line CSS, output style changed", median(shown), median(convert),
                    median(shown) - median(convert), median(cpu), static_cast<long long>(css->toPlainText().size()));
    }

    std::printf("\nOne keystroke with 100 @warn rules spread over %s:\n", qPrintable(QFileInfo(lastPath).fileName()));
    {
        // Each before a top-level rule, so that the stylesheet stays valid.
        const QList<QByteArray> lines = scss.split('\n');
        QList<qsizetype> rules;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines.at(i).startsWith('.'))
                rules.append(i);
        }
        QList<QByteArray> out;
        qsizetype next = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (next < 100 && !rules.isEmpty() && i == rules.at(next * rules.size() / 100)) {
                out.append("@warn \"deprecated, see rule " + QByteArray::number(next) + "\";");
                ++next;
            }
            out.append(lines.at(i));
        }
        const QByteArray warned = out.join('\n');
        VantorCompiler::CompilerOptions o = options;
        o.input = sass_copy_c_string(warned.constData());
        VantorCompiler::compile(o);
        const int count = VantorCompiler::warning_count();
        VantorCompiler::free_memory();
        if (count == 0) {
            std::printf("  the library reports no warnings yet (warning_count() is 0): nothing to measure\n");
            return status;
        }
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        sass->setPlainText(QString::fromUtf8(warned));
        QCoreApplication::processEvents();
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        std::vector<double> key, convert;
        for (int r = 0; r < 15; ++r) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(sass, r % 2 ? Qt::Key_Backspace : Qt::Key_Space);
            QCoreApplication::processEvents();
            key.push_back(t.nsecsElapsed() / 1e6);
            convert.push_back(conversionMs(sass->toPlainText().trimmed().toUtf8()));
        }
        std::printf("  %d warnings: key->CSS %.3f ms, convert %.3f ms, display %.3f ms\n", count, median(key),
                    median(convert), median(key) - median(convert));
    }
    return status;
}
