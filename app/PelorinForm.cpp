#include "PelorinForm.h"

#include "Options.h"
#include "TextUtil.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>

namespace pelorin {
namespace {

// Runs a function when the scope ends, however it ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f(f) {}
    ~ScopeExit() { f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f;
};

QString resourceText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

}  // namespace

PelorinForm::PelorinForm() {
    InitializeComponent();
    Compile();
}

PelorinForm::~PelorinForm() = default;

void PelorinForm::InitializeComponent() {
    TopBar = new QWidget(this);
    Title = new QLabel(TopBar);
    OptionsBar = new QWidget(this);
    Close = new QLabel(TopBar);
    Logo = new QLabel(TopBar);
    Border = new QFrame(this);
    splitContainer1 = new QSplitter(Qt::Horizontal, Border);
    SassEditor = new QPlainTextEdit;
    CssEditor = new QPlainTextEdit;
    Footer = new QWidget(Border);
    Minimize = new QLabel(TopBar);
    Status = new QLabel(Footer);
    MessageBox = new QLabel(OptionsBar);
    CopyrightLabel = new QLabel(TopBar);
    ExportsFolderLabel = new QLabel(TopBar);
    Beta = new QLabel(TopBar);

    // Title strip.
    TopBar->setObjectName("TopBar");
    TopBar->setGeometry(1, 1, 993, 53);
    Beta->setObjectName("Beta");
    Beta->setText("Beta");
    Beta->move(228, 14);
    ExportsFolderLabel->setObjectName("ExportsFolderLabel");
    ExportsFolderLabel->setText("Open Exports Folder");
    ExportsFolderLabel->setContentsMargins(5, 5, 5, 5);
    ExportsFolderLabel->move(638, 2);
    CopyrightLabel->setObjectName("CopyrightLabel");
    CopyrightLabel->setText("About Vantor");
    CopyrightLabel->setContentsMargins(5, 5, 5, 5);
    CopyrightLabel->move(769, 2);
    Minimize->setObjectName("Minimize");
    Minimize->setText("-");
    Minimize->setContentsMargins(10, 4, 10, 6);
    Minimize->setAlignment(Qt::AlignCenter);
    Minimize->move(920, 0);
    Minimize->setToolTip("Minimize");
    Logo->setObjectName("Logo");
    Logo->setGeometry(12, 7, 40, 40);
    Logo->setScaledContents(true);
    Title->setObjectName("Title");
    Title->setText("PELORIN | Vantor");
    Title->move(57, 16);
    Close->setObjectName("Close");
    Close->setText("X");
    Close->setContentsMargins(10, 4, 10, 6);
    Close->setAlignment(Qt::AlignCenter);
    Close->setGeometry(956, 0, 37, 53);
    Close->setToolTip("Close");

    // Message strip.
    OptionsBar->setObjectName("OptionsBar");
    OptionsBar->setGeometry(1, 54, 993, 26);
    MessageBox->setObjectName("MessageBox");
    MessageBox->setText("(Ln 0, Col 0) : <css input>:0:0: Unexpected }");
    MessageBox->setContentsMargins(6, 6, 6, 6);
    MessageBox->move(0, 0);

    // Framed body: the two editors side by side and the footer.
    Border->setObjectName("Border");
    Border->setGeometry(0, 0, 995, 557);
    Border->setFrameShape(QFrame::Box);
    Border->setLineWidth(1);
    splitContainer1->setObjectName("splitContainer1");
    splitContainer1->setGeometry(0, 84, 993, 440);
    splitContainer1->setHandleWidth(1);
    splitContainer1->setChildrenCollapsible(false);
    Footer->setObjectName("Footer");
    Footer->setGeometry(1, 530, 993, 26);
    Status->setObjectName("Status");
    Status->setText("Compiled in 0.000 seconds");
    Status->setContentsMargins(5, 5, 5, 5);
    auto* footerLayout = new QHBoxLayout(Footer);
    footerLayout->setContentsMargins(0, 0, 0, 0);
    footerLayout->addStretch(1);
    footerLayout->addWidget(Status);

    auto editorPanel = [this](const char* name, QPlainTextEdit* editor) {
        auto* panel = new QWidget;
        panel->setObjectName(name);
        auto* layout = new QHBoxLayout(panel);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->addWidget(editor);
        splitContainer1->addWidget(panel);
    };
    SassEditor->setObjectName("SassEditor");
    SassEditor->setFrameShape(QFrame::NoFrame);
    SassEditor->setTabChangesFocus(false);
    CssEditor->setObjectName("CssEditor");
    CssEditor->setFrameShape(QFrame::NoFrame);
    CssEditor->setReadOnly(true);
    CssEditor->setTabChangesFocus(true);
    editorPanel("Panel1", SassEditor);
    editorPanel("Panel2", CssEditor);
    splitContainer1->setSizes({493, 499});

    // Window.
    setObjectName("PelorinForm");
    setWindowTitle("PELORIN | Vantor v2.5.1");
    resize(995, 557);

    // The sample goes in before the handler is attached: building converts nothing.
    SassEditor->setPlainText(resourceText(":/PelorinForm/SassEditor.Text"));
    connect(SassEditor, &QPlainTextEdit::textChanged, this, &PelorinForm::SassEditor_TextChanged);
}

void PelorinForm::SassEditor_TextChanged() {
    if (documentText(*SassEditor->document()) == lastSource)
        return;
    Compile();
}

void PelorinForm::Compile() {
    QElapsedTimer timer;
    timer.start();
    Status->setText("Compiling...");

    lastSource = documentText(*SassEditor->document());
    ++conversions;
    // libsass takes the copy over and frees it, so it must come from its allocator.
    options.input = sass_copy_c_string(lastSource.trimmed().toUtf8().constData());

    try {
        const char* css = VantorCompiler::compile(options);
        {
            // Exactly one release per conversion, even if showing the result throws.
            ScopeExit release([] { VantorCompiler::free_memory(); });
            if (VantorCompiler::error())
                MessageBox->setText(QString::fromUtf8(VantorCompiler::error()));
            else
                MessageBox->setText(QString());
            CssEditor->setPlainText(css ? QString::fromUtf8(css) : QString());
        }
        Status->setText("Compiled in " + secondsText(static_cast<qint32>(timer.elapsed())) + " seconds");
    } catch (...) {
        MessageBox->setText("ERROR : Error while compiling the code");
        Status->setText("Compilation Failed");
    }
}

}  // namespace pelorin
