#include "PelorinForm.h"

#include "ExportsFolder.h"
#include "Options.h"
#include "TextUtil.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QUrl>
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

    // SCSS editor menu: editor commands, then the conversion options.
    EditorOptions = new QMenu(this);
    EditorOptions->setObjectName("EditorOptions");
    auto command = [](QMenu* menu, QAction*& field, const char* name, const QString& text) {
        field = menu->addAction(text);
        field->setObjectName(name);
    };
    auto separator = [](QMenu* menu, QAction*& field, const char* name) {
        field = menu->addSeparator();
        field->setObjectName(name);
    };
    auto option = [](QMenu* menu, QAction*& field, const char* name, const QString& text, bool checked) {
        field = menu->addAction(text);
        field->setObjectName(name);
        field->setCheckable(true);
        field->setChecked(checked);
    };
    auto submenu = [this](QMenu*& field, const char* name, const QString& text) {
        field = EditorOptions->addMenu(text);
        field->setObjectName(name);
    };
    command(EditorOptions, CtxUndo, "CtxUndo", "Undo");
    command(EditorOptions, CtxRedo, "CtxRedo", "Redo");
    separator(EditorOptions, toolStripSeparator2, "toolStripSeparator2");
    command(EditorOptions, CtxCut, "CtxCut", "Cut");
    command(EditorOptions, CtxCopy, "CtxCopy", "Copy");
    command(EditorOptions, CtxPaste, "CtxPaste", "Paste");
    command(EditorOptions, CtxSelectAll, "CtxSelectAll", "Select All");
    separator(EditorOptions, toolStripSeparator1, "toolStripSeparator1");
    // Check marks mirror the record's defaults: style code 2 is expanded output.
    submenu(outputStyleToolStripMenuItem, "outputStyleToolStripMenuItem", "Output Style");
    option(outputStyleToolStripMenuItem, nestedToolStripMenuItem, "nestedToolStripMenuItem", "Nested", false);
    option(outputStyleToolStripMenuItem, expandedToolStripMenuItem, "expandedToolStripMenuItem", "Expanded", true);
    option(outputStyleToolStripMenuItem, compactToolStripMenuItem, "compactToolStripMenuItem", "Compact", false);
    option(outputStyleToolStripMenuItem, compressedToolStripMenuItem, "compressedToolStripMenuItem", "Compressed", false);
    submenu(indentTypeToolStripMenuItem, "indentTypeToolStripMenuItem", "Indent Type");
    option(indentTypeToolStripMenuItem, spacesToolStripMenuItem, "spacesToolStripMenuItem", "Spaces", true);
    option(indentTypeToolStripMenuItem, tabsToolStripMenuItem, "tabsToolStripMenuItem", "Tabs", false);
    submenu(indentWidthToolStripMenuItem, "indentWidthToolStripMenuItem", "Indent Width");
    QAction** widthItems[] = {&toolStripMenuItem2, &toolStripMenuItem3, &toolStripMenuItem4, &toolStripMenuItem5,
                              &toolStripMenuItem6, &toolStripMenuItem7, &toolStripMenuItem8, &toolStripMenuItem9,
                              &toolStripMenuItem10, &toolStripMenuItem11};
    for (int width = 1; width <= 10; ++width) {
        const QByteArray name = "toolStripMenuItem" + QByteArray::number(width + 1);
        option(indentWidthToolStripMenuItem, *widthItems[width - 1], name.constData(), QString::number(width), width == 4);
    }
    separator(EditorOptions, toolStripSeparator3, "toolStripSeparator3");
    option(EditorOptions, sourceMapEmbedToolStripMenuItem, "sourceMapEmbedToolStripMenuItem", "Source Map Embed", false);

    // CSS editor menu.
    CssEditorOptions = new QMenu(this);
    CssEditorOptions->setObjectName("CssEditorOptions");
    command(CssEditorOptions, CssEditorCtxCopy, "CssEditorCtxCopy", "Copy");
    command(CssEditorOptions, CssEditorCtxSAllCopy, "CssEditorCtxSAllCopy", "Select All and Copy");
    command(CssEditorOptions, CssEditorCtxDownload, "CssEditorCtxDownload", "Export CSS");

    // The menus replace the editors' own and open where the mouse is.
    SassEditor->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(SassEditor, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { EditorOptions->popup(SassEditor->viewport()->mapToGlobal(pos)); });
    CssEditor->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(CssEditor, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { CssEditorOptions->popup(CssEditor->viewport()->mapToGlobal(pos)); });

    connect(CtxUndo, &QAction::triggered, this, &PelorinForm::CtxUndo_Click);
    connect(CtxRedo, &QAction::triggered, this, &PelorinForm::CtxRedo_Click);
    connect(CtxCut, &QAction::triggered, this, &PelorinForm::CtxCut_Click);
    connect(CtxCopy, &QAction::triggered, this, &PelorinForm::CtxCopy_Click);
    connect(CtxPaste, &QAction::triggered, this, &PelorinForm::CtxPaste_Click);
    connect(CtxSelectAll, &QAction::triggered, this, &PelorinForm::CtxSelectAll_Click);
    connect(nestedToolStripMenuItem, &QAction::triggered, this, &PelorinForm::nestedToolStripMenuItem_Click);
    connect(expandedToolStripMenuItem, &QAction::triggered, this, &PelorinForm::expandedToolStripMenuItem_Click);
    connect(compactToolStripMenuItem, &QAction::triggered, this, &PelorinForm::compactToolStripMenuItem_Click);
    connect(compressedToolStripMenuItem, &QAction::triggered, this, &PelorinForm::compressedToolStripMenuItem_Click);
    connect(spacesToolStripMenuItem, &QAction::triggered, this, &PelorinForm::spacesToolStripMenuItem_Click);
    connect(tabsToolStripMenuItem, &QAction::triggered, this, &PelorinForm::tabsToolStripMenuItem_Click);
    connect(toolStripMenuItem2, &QAction::triggered, this, &PelorinForm::toolStripMenuItem2_Click);
    connect(toolStripMenuItem3, &QAction::triggered, this, &PelorinForm::toolStripMenuItem3_Click);
    connect(toolStripMenuItem4, &QAction::triggered, this, &PelorinForm::toolStripMenuItem4_Click);
    connect(toolStripMenuItem5, &QAction::triggered, this, &PelorinForm::toolStripMenuItem5_Click);
    connect(toolStripMenuItem6, &QAction::triggered, this, &PelorinForm::toolStripMenuItem6_Click);
    connect(toolStripMenuItem7, &QAction::triggered, this, &PelorinForm::toolStripMenuItem7_Click);
    connect(toolStripMenuItem8, &QAction::triggered, this, &PelorinForm::toolStripMenuItem8_Click);
    connect(toolStripMenuItem9, &QAction::triggered, this, &PelorinForm::toolStripMenuItem9_Click);
    connect(toolStripMenuItem10, &QAction::triggered, this, &PelorinForm::toolStripMenuItem10_Click);
    connect(toolStripMenuItem11, &QAction::triggered, this, &PelorinForm::toolStripMenuItem11_Click);
    connect(sourceMapEmbedToolStripMenuItem, &QAction::triggered, this, &PelorinForm::sourceMapEmbed_Click);
    connect(CssEditorCtxCopy, &QAction::triggered, this, &PelorinForm::CssEditorCtxCopy_Click);
    connect(CssEditorCtxSAllCopy, &QAction::triggered, this, &PelorinForm::CssEditorCtxSAllCopy_Click);
    connect(CssEditorCtxDownload, &QAction::triggered, this, &PelorinForm::CssEditorCtxDownload_Click);

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

// Output style: the value is stored and converted before the check marks move.
void PelorinForm::setOutputStyle(QAction* item, int code) {
    options.output_style = code;
    Compile();
    for (QAction* a : {nestedToolStripMenuItem, expandedToolStripMenuItem, compactToolStripMenuItem, compressedToolStripMenuItem})
        a->setChecked(a == item);
}

// The library's table turns code 2 into expanded and code 1 into compact output.
void PelorinForm::nestedToolStripMenuItem_Click() { setOutputStyle(nestedToolStripMenuItem, 0); }
void PelorinForm::expandedToolStripMenuItem_Click() { setOutputStyle(expandedToolStripMenuItem, 2); }
void PelorinForm::compactToolStripMenuItem_Click() { setOutputStyle(compactToolStripMenuItem, 1); }
void PelorinForm::compressedToolStripMenuItem_Click() { setOutputStyle(compressedToolStripMenuItem, 3); }

void PelorinForm::setIndentType(QAction* item, int type) {
    spacesToolStripMenuItem->setChecked(item == spacesToolStripMenuItem);
    tabsToolStripMenuItem->setChecked(item == tabsToolStripMenuItem);
    options.indent_type = type;
    Compile();
}

void PelorinForm::spacesToolStripMenuItem_Click() { setIndentType(spacesToolStripMenuItem, VantorCompiler::Spaces); }
void PelorinForm::tabsToolStripMenuItem_Click() { setIndentType(tabsToolStripMenuItem, VantorCompiler::Tabs); }

void PelorinForm::setIndentWidth(QAction* item, int width) {
    for (QAction* a : indentWidthToolStripMenuItem->actions())
        a->setChecked(a == item);
    options.indent_width = width;
    Compile();
}

void PelorinForm::toolStripMenuItem2_Click() { setIndentWidth(toolStripMenuItem2, 1); }
void PelorinForm::toolStripMenuItem3_Click() { setIndentWidth(toolStripMenuItem3, 2); }
void PelorinForm::toolStripMenuItem4_Click() { setIndentWidth(toolStripMenuItem4, 3); }
void PelorinForm::toolStripMenuItem5_Click() { setIndentWidth(toolStripMenuItem5, 4); }
void PelorinForm::toolStripMenuItem6_Click() { setIndentWidth(toolStripMenuItem6, 5); }
void PelorinForm::toolStripMenuItem7_Click() { setIndentWidth(toolStripMenuItem7, 6); }
void PelorinForm::toolStripMenuItem8_Click() { setIndentWidth(toolStripMenuItem8, 7); }
void PelorinForm::toolStripMenuItem9_Click() { setIndentWidth(toolStripMenuItem9, 8); }
void PelorinForm::toolStripMenuItem10_Click() { setIndentWidth(toolStripMenuItem10, 9); }
void PelorinForm::toolStripMenuItem11_Click() { setIndentWidth(toolStripMenuItem11, 10); }

void PelorinForm::sourceMapEmbed_Click() {
    options.source_map_embed = !options.source_map_embed;
    sourceMapEmbedToolStripMenuItem->setChecked(options.source_map_embed);
    Compile();
}

void PelorinForm::CtxUndo_Click() { SassEditor->undo(); }
void PelorinForm::CtxRedo_Click() { SassEditor->redo(); }
void PelorinForm::CtxCut_Click() { SassEditor->cut(); }
void PelorinForm::CtxCopy_Click() { SassEditor->copy(); }
void PelorinForm::CtxPaste_Click() { SassEditor->paste(); }
void PelorinForm::CtxSelectAll_Click() { SassEditor->selectAll(); }
void PelorinForm::CssEditorCtxCopy_Click() { CssEditor->copy(); }

void PelorinForm::CssEditorCtxSAllCopy_Click() {
    CssEditor->selectAll();
    CssEditor->copy();
}

// Writes the CSS editor's text, UTF-8 without byte-order mark, over the export
// file. The new text goes to a temporary file that replaces the old one only
// once it is complete, so a failed export leaves the previous file as it was.
void PelorinForm::CssEditorCtxDownload_Click() {
    const QString path = exportFilePath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        QDir().mkpath(exportsFolder());
        file.open(QIODevice::WriteOnly);
    }
    const QByteArray css = documentText(*CssEditor->document()).toUtf8();
    if (!file.isOpen() || file.write(css) != css.size() || !file.commit()) {
        setMessage("ERROR : Could not export the CSS to " + path + ": " + file.errorString());
    }
}

void PelorinForm::ExportsFolderLabel_Click() {
    const QString folder = exportsFolder();
    if (!QDir().mkpath(folder)) {
        setMessage("ERROR : Could not create the exports folder " + folder);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder + "/"))) {
        setMessage("ERROR : Could not open the exports folder " + folder + " in the file browser");
    }
}

void PelorinForm::setMessage(const QString& text) {
    MessageBox->setText(text);
    MessageBox->adjustSize();
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
                setMessage(QString::fromUtf8(VantorCompiler::error()));
            else
                setMessage(QString());
            CssEditor->setPlainText(css ? QString::fromUtf8(css) : QString());
        }
        Status->setText("Compiled in " + secondsText(static_cast<qint32>(timer.elapsed())) + " seconds");
    } catch (...) {
        setMessage("ERROR : Error while compiling the code");
        Status->setText("Compilation Failed");
    }
}

}  // namespace pelorin
