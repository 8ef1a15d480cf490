#include "PelorinForm.h"

#include "ExportsFolder.h"
#include "Chrome.h"
#include "ChromeLabel.h"
#include "CodeEditor.h"
#include "DragHandles.h"
#include "FindBar.h"
#include "ElidedLabel.h"
#include "Options.h"
#include "ScssFileDrop.h"
#include "DocumentText.h"
#include "SecondsText.h"
#include "TextPosition.h"
#include "VantorAbout.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>

#include <initializer_list>
#include <tuple>
#include <utility>

namespace pelorin {
namespace {

// Runs a function when the scope ends, however it ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(f) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

// A message line text for a failure of the window's own, set apart from the compiler's messages.
QString errorText(const QString& text) {
    return "ERROR : " + text;
}

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
    using namespace chrome;

    TopBar = new QWidget;
    Title = new QLabel;
    OptionsBar = new QWidget;
    Close = new ChromeLabel(QAccessible::Button);
    Logo = new QLabel;
    SassEditor = new CodeEditor;
    CssEditor = new CodeEditor;
    Border = new QFrame;
    Footer = new QWidget;
    Minimize = new ChromeLabel(QAccessible::Button);
    Status = new QLabel;
    MessageBox = new ElidedLabel;
    CopyrightLabel = new ChromeLabel(QAccessible::Link);
    ExportsFolderLabel = new ChromeLabel(QAccessible::Link);
    ConvertWithDartSass = new ChromeLabel(QAccessible::Link);
    EngineLabel = new ChromeLabel(QAccessible::ButtonMenu);
    ImportFolderLabel = new QLabel;
    WarningCountLabel = new ChromeLabel(QAccessible::Link);
    splitContainer1 = new QSplitter(Qt::Horizontal);
    Panel1 = new QWidget;
    Panel2 = new QWidget;
    Beta = new QLabel;

    // Title strip. Close is docked to its right edge over the full height; the
    // rest is placed by hand. Labels that size themselves to their text get
    // adjustSize() once they have their parent's font.
    TopBar->setObjectName("TopBar");
    TopBar->setGeometry(1, 1, 993, 53);
    setBackground(TopBar, TitleStrip);
    setForeground(TopBar, TitleText);

    Beta->setObjectName("Beta");
    Beta->setText("Beta");
    Beta->move(228, 14);
    addChild(TopBar, Beta);

    for (ChromeLabel* link : {ExportsFolderLabel, CopyrightLabel})
        setUpLink(link);
    ExportsFolderLabel->setObjectName("ExportsFolderLabel");
    ExportsFolderLabel->setText("Open Exports Folder");
    ExportsFolderLabel->move(638, 2);
    addChild(TopBar, ExportsFolderLabel);
    CopyrightLabel->setObjectName("CopyrightLabel");
    CopyrightLabel->setText("About Vantor");
    CopyrightLabel->move(769, 2);
    addChild(TopBar, CopyrightLabel);

    for (ChromeLabel* glyph : {Minimize, Close})
        setUpGlyph(glyph);
    Minimize->setObjectName("Minimize");
    Minimize->setText("-");
    Minimize->move(920, 0);
    Minimize->setToolTip("Minimize");
    addChild(TopBar, Minimize);

    Logo->setObjectName("Logo");
    Logo->setGeometry(12, 7, 40, 40);
    Logo->setScaledContents(true);
    Logo->setPixmap(logoImage());
    addChild(TopBar, Logo);

    Title->setObjectName("Title");
    Title->setText("PELORIN | Vantor");
    Title->setFont(uiFont(12));
    Title->move(57, 16);
    addChild(TopBar, Title);

    Close->setObjectName("Close");
    Close->setText("X");
    Close->setToolTip("Close");
    addChild(TopBar, Close);
    auto* topBarDock = new QHBoxLayout(TopBar);
    topBarDock->setContentsMargins(0, 0, 0, 0);
    topBarDock->setSpacing(0);
    topBarDock->addStretch(1);
    topBarDock->addWidget(Close);

    for (QLabel* label : std::initializer_list<QLabel*>{Beta, ExportsFolderLabel, CopyrightLabel, Minimize, Title})
        label->adjustSize();

    // Message strip. placeMessageLine() keeps the message line sized to its
    // text, which every conversion replaces, and the link after it.
    OptionsBar->setObjectName("OptionsBar");
    OptionsBar->setGeometry(1, 54, 993, 26);
    setBackground(OptionsBar, MessageStrip);

    MessageBox->setObjectName("MessageBox");
    MessageBox->setText("(Ln 0, Col 0) : <css input>:0:0: Unexpected }");
    MessageBox->setContentsMargins(6, 6, 6, 6);
    MessageBox->setFont(codeFont(8.25));
    setForeground(MessageBox, LightSalmon);
    // Clicked to reach the error; not a stop on the way round with Tab.
    MessageBox->setFocusPolicy(Qt::NoFocus);
    addChild(OptionsBar, MessageBox);
    MessageBox->move(0, 0);
    // Shown only while libsass refuses a module system rule and Dart Sass can run.
    setUpLink(ConvertWithDartSass);
    ConvertWithDartSass->setObjectName("ConvertWithDartSass");
    ConvertWithDartSass->setText("Convert with Dart Sass");
    ConvertWithDartSass->setContentsMargins(6, 6, 6, 6);
    setForeground(ConvertWithDartSass, ActionLink);
    ConvertWithDartSass->setToolTip("Choose Dart Sass as the compiler and convert the text with it");
    addChild(OptionsBar, ConvertWithDartSass);
    ConvertWithDartSass->adjustSize();
    ConvertWithDartSass->hide();

    // Framed body: a one-pixel frame round the whole window, behind the two
    // strips. Its children are placed inside the frame.
    Border->setObjectName("Border");
    setUpBorder(Border, QSize(995, 557));
    const QPoint inside = Border->contentsRect().topLeft();

    splitContainer1->setObjectName("splitContainer1");
    splitContainer1->setGeometry(QRect(inside + QPoint(0, 84), QSize(993, 440)));
    splitContainer1->setHandleWidth(1);
    splitContainer1->setChildrenCollapsible(false);
    setBackground(splitContainer1, SplitterLine);
    addChild(Border, splitContainer1);

    Footer->setObjectName("Footer");
    setBackground(Footer, FooterStrip);
    Footer->setFixedHeight(26);
    addChild(Border, Footer);
    auto* footerDock = new QVBoxLayout(Border);
    footerDock->setContentsMargins(0, 0, 0, 0);
    footerDock->setSpacing(0);
    footerDock->addStretch(1);
    footerDock->addWidget(Footer);

    // The footer's labels share the status line's look.
    auto footerLabel = [this](QLabel* label, const char* name, const QColor& color, QMargins margins) {
        label->setObjectName(name);
        label->setContentsMargins(margins);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFont(uiFont(8.25));
        setForeground(label, color);
        addChild(Footer, label);
    };
    footerLabel(Status, "Status", DarkGray, QMargins(5, 5, 5, 5));
    Status->setText("Compiled in 0.000 seconds");
    // The compiler in effect, at the far right; it opens the Compiler submenu.
    footerLabel(EngineLabel, "EngineLabel", DarkGray, QMargins(5, 5, 8, 5));
    EngineLabel->setHoverUnderline(true);
    EngineLabel->setToolTip("The compiler: click to choose libsass or Dart Sass");
    // Left: the folder relative loads resolve against, then the warning count (hidden at none).
    footerLabel(ImportFolderLabel, "ImportFolderLabel", DarkGray, QMargins(8, 5, 5, 5));
    ImportFolderLabel->setTextFormat(Qt::PlainText);
    footerLabel(WarningCountLabel, "WarningCountLabel", SyntaxColors().warningMark, QMargins(5, 5, 5, 5));
    WarningCountLabel->setHoverUnderline(true);
    WarningCountLabel->setToolTip("Go to the first warning (F8 goes to the next)");
    WarningCountLabel->hide();
    auto* statusDock = new QHBoxLayout(Footer);
    statusDock->setContentsMargins(0, 0, 0, 0);
    statusDock->setSpacing(0);
    statusDock->addWidget(ImportFolderLabel);
    statusDock->addWidget(WarningCountLabel);
    statusDock->addStretch(1);
    statusDock->addWidget(Status);
    statusDock->addWidget(EngineLabel);

    // The two editor panels of the split container, each with a 4-pixel padding.
    for (auto [panel, name, editor] : {std::tuple{Panel1, "Panel1", SassEditor},
                                       std::tuple{Panel2, "Panel2", CssEditor}}) {
        panel->setObjectName(name);
        setBackground(panel, WindowBackground);
        auto* padding = new QHBoxLayout(panel);
        padding->setContentsMargins(4, 4, 4, 4);
        padding->addWidget(editor);
        splitContainer1->addWidget(panel);
    }
    splitContainer1->setSizes({493, 499});

    // Editors.
    for (QPlainTextEdit* editor : {SassEditor, CssEditor}) {
        editor->setFrameShape(QFrame::NoFrame);
        QPalette palette = editor->palette();
        palette.setColor(QPalette::Base, WindowBackground);
        palette.setColor(QPalette::Window, WindowBackground);
        palette.setColor(QPalette::Text, EditorText);
        editor->setPalette(palette);
        editor->setFont(codeFont(9.75));
        editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    }
    SassEditor->setObjectName("SassEditor");
    SassEditor->setTabChangesFocus(false);
    SassEditor->setInputMethodHints(Qt::ImhPreferLatin);
    CssEditor->setObjectName("CssEditor");
    CssEditor->setReadOnly(true);
    CssEditor->setTabChangesFocus(true);
    setTabOrder(SassEditor, CssEditor);
    // Tabs four characters wide; find bars over the top right of each pane.
    for (CodeEditor* editor : {SassEditor, CssEditor})
        editor->setTabStopCharacters(4);
    SassFindBar = new FindBar(SassEditor, Panel1);
    SassFindBar->setObjectName("SassFindBar");
    SassFindBar->setAccessibleName("Find in SCSS");
    CssFindBar = new FindBar(CssEditor, Panel2);
    CssFindBar->setObjectName("CssFindBar");
    CssFindBar->setAccessibleName("Find in CSS");
    // Coloured from while the documents are empty, so that no whole-document pass runs later.
    SassEditor->setHighlightedSyntax(Syntax::Scss);
    CssEditor->setHighlightedSyntax(Syntax::Css);

    // Chrome events: drag handles, glyph buttons and link labels. The chrome
    // labels keep their presses; Beta's must not reach TopBar and start a drag.
    topBarHandles = new DragHandles(this);
    topBarHandles->setObjectName("topBarHandles");
    for (QWidget* handle : {static_cast<QWidget*>(TopBar), static_cast<QWidget*>(Logo), static_cast<QWidget*>(Title)})
        topBarHandles->add(handle);
    connect(topBarHandles, &DragHandles::mouseDown, this, &PelorinForm::TopBar_MouseDown);
    connect(topBarHandles, &DragHandles::mouseMove, this, &PelorinForm::TopBar_MouseMove);
    connect(topBarHandles, &DragHandles::mouseUp, this, &PelorinForm::TopBar_MouseUp);
    Beta->setAttribute(Qt::WA_NoMousePropagation);
    connect(Minimize, &ChromeLabel::clicked, this, &PelorinForm::Minimize_Click);
    connect(Minimize, &ChromeLabel::mouseEntered, this, &PelorinForm::Minimize_MouseEnter);
    connect(Minimize, &ChromeLabel::mouseLeft, this, &PelorinForm::Minimize_MouseLeave);
    connect(Close, &ChromeLabel::clicked, this, &PelorinForm::Close_Click);
    connect(Close, &ChromeLabel::mouseEntered, this, &PelorinForm::Close_MouseEnter);
    connect(Close, &ChromeLabel::mouseLeft, this, &PelorinForm::Close_MouseLeave);
    connect(CopyrightLabel, &ChromeLabel::clicked, this, &PelorinForm::CopyrightLabel_Click);
    connect(CopyrightLabel, &ChromeLabel::mouseEntered, this, &PelorinForm::CopyrightLabel_MouseEnter);
    connect(CopyrightLabel, &ChromeLabel::mouseLeft, this, &PelorinForm::CopyrightLabel_MouseLeave);
    connect(ExportsFolderLabel, &ChromeLabel::clicked, this, &PelorinForm::ExportsFolderLabel_Click);
    connect(ExportsFolderLabel, &ChromeLabel::mouseEntered, this, &PelorinForm::ExportsFolderLabel_MouseEnter);
    connect(ExportsFolderLabel, &ChromeLabel::mouseLeft, this, &PelorinForm::ExportsFolderLabel_MouseLeave);
    connect(MessageBox, &ChromeLabel::clicked, this, &PelorinForm::MessageBox_Click);
    connect(ConvertWithDartSass, &ChromeLabel::clicked, this, &PelorinForm::ConvertWithDartSass_Click);
    connect(EngineLabel, &ChromeLabel::clicked, this, &PelorinForm::EngineLabel_Click);
    connect(WarningCountLabel, &ChromeLabel::clicked, this, &PelorinForm::WarningCountLabel_Click);

    // What screen readers announce. Labels that show their own text are
    // announced by it; the message line and the status line by their text
    // and what they are.
    TopBar->setAccessibleName("Title bar");
    Logo->setAccessibleName("PELORIN logo");
    Minimize->setAccessibleName("Minimize");
    Close->setAccessibleName("Close");
    OptionsBar->setAccessibleName("Message bar");
    MessageBox->setAccessibleDescription("Compiler message");
    Border->setAccessibleName("Vantor");
    splitContainer1->setAccessibleName("Editors");
    Panel1->setAccessibleName("SCSS");
    Panel2->setAccessibleName("CSS");
    SassEditor->setAccessibleName("SCSS editor");
    SassEditor->setAccessibleDescription("SCSS input");
    CssEditor->setAccessibleName("CSS editor");
    CssEditor->setAccessibleDescription("CSS output");
    Footer->setAccessibleName("Status bar");
    Status->setAccessibleDescription("Compile time");
    EngineLabel->setAccessibleDescription("Compiler; opens the Compiler menu");
    WarningCountLabel->setAccessibleDescription("Goes to the first warning");

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
    // Check marks mirror the record's defaults: Expanded output.
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
    // The compiler, last; libsass at start. The texts are the library's.
    separator(EditorOptions, toolStripSeparator4, "toolStripSeparator4");
    submenu(compilerToolStripMenuItem, "compilerToolStripMenuItem", "Compiler");
    option(compilerToolStripMenuItem, libsassToolStripMenuItem, "libsassToolStripMenuItem",
           QString::fromUtf8(VantorCompiler::engine_version(VantorCompiler::Libsass)), true);
    option(compilerToolStripMenuItem, dartSassToolStripMenuItem, "dartSassToolStripMenuItem",
           QString::fromUtf8(VantorCompiler::engine_version(VantorCompiler::DartSass)), false);
    // The reasons of disabled items (a style the engine lacks, an engine that cannot run) show on hover.
    outputStyleToolStripMenuItem->setToolTipsVisible(true);
    compilerToolStripMenuItem->setToolTipsVisible(true);
    updateDartSassEntry();
    showChoices();
    showImportFolder();
    connect(compilerToolStripMenuItem, &QMenu::aboutToShow, this, &PelorinForm::updateDartSassEntry);

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
    connect(libsassToolStripMenuItem, &QAction::triggered, this, &PelorinForm::libsassToolStripMenuItem_Click);
    connect(dartSassToolStripMenuItem, &QAction::triggered, this, &PelorinForm::dartSassToolStripMenuItem_Click);
    connect(CssEditorCtxCopy, &QAction::triggered, this, &PelorinForm::CssEditorCtxCopy_Click);
    connect(CssEditorCtxSAllCopy, &QAction::triggered, this, &PelorinForm::CssEditorCtxSAllCopy_Click);
    connect(CssEditorCtxDownload, &QAction::triggered, this, &PelorinForm::CssEditorCtxDownload_Click);

    // Window: frameless, fixed size, centred on its screen where it fits.
    setObjectName("PelorinForm");
    // v2.5.1 on purpose, not the release's version (the about dialog names that): a fixed text.
    setWindowTitle("PELORIN | Vantor v2.5.1");
    addChild(this, TopBar);
    addChild(this, OptionsBar);
    addChild(this, Border);
    setUpFramelessWindow(this, windowFlags() | Qt::Window, QSize(995, 557), WindowBackground);

    // Keyboard: Tab goes round the editors and the chrome labels (inside the
    // SCSS editor it inserts a tab, so Ctrl+Tab moves on from anywhere).
    // The message line's link, while it shows, comes right after the text it is about.
    setTabOrder(SassEditor, ConvertWithDartSass);
    setTabOrder(ConvertWithDartSass, CssEditor);
    setTabOrder(CssEditor, WarningCountLabel);
    setTabOrder(WarningCountLabel, EngineLabel);
    setTabOrder(EngineLabel, ExportsFolderLabel);
    setTabOrder(ExportsFolderLabel, CopyrightLabel);
    setTabOrder(CopyrightLabel, Minimize);
    setTabOrder(Minimize, Close);
    SassEditor->setFocus();
    auto shortcut = [this](const char* name, std::initializer_list<QKeySequence> keys, auto handler) {
        auto* s = new QShortcut(this);
        s->setObjectName(name);
        s->setKeys(QList<QKeySequence>(keys));
        connect(s, &QShortcut::activated, this, handler);
    };
    shortcut("NextControl", {QKeySequence(Qt::CTRL | Qt::Key_Tab)}, [this] { focusNextPrevChild(true); });
    shortcut("PreviousControl",
             {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)},
             [this] { focusNextPrevChild(false); });
    shortcut("ContextMenuKey", {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)},
             &PelorinForm::openContextMenuAtCaret);
    shortcut("Quit", {QKeySequence(Qt::CTRL | Qt::Key_Q)}, &PelorinForm::Close_Click);
    // The SCSS editor's error and warnings, in text order, from either editor.
    shortcut("NextProblem", {QKeySequence(Qt::Key_F8)}, [this] { SassEditor->goToProblem(true); });
    shortcut("PreviousProblem", {QKeySequence(Qt::SHIFT | Qt::Key_F8)}, [this] { SassEditor->goToProblem(false); });

    // The sample goes in before the handler is attached: building converts nothing.
    SassEditor->setPlainText(resourceText(":/PelorinForm/SassEditor.Text"));
    connect(SassEditor, &QPlainTextEdit::textChanged, this, &PelorinForm::SassEditor_TextChanged);
    sassEditorDrop = new ScssFileDrop(SassEditor);
    sassEditorDrop->setObjectName("sassEditorDrop");
    connect(sassEditorDrop, &ScssFileDrop::fileDropped, this, &PelorinForm::SassEditor_DragDrop);
    connect(sassEditorDrop, &ScssFileDrop::dropRefused, this, &PelorinForm::SassEditor_DropRefused);
}

void PelorinForm::TopBar_MouseDown(QWidget*, QMouseEvent* event) { topBarHandles->press(event); }
void PelorinForm::TopBar_MouseMove(QWidget* sender, QMouseEvent* event) { topBarHandles->drag(sender, event); }
void PelorinForm::TopBar_MouseUp(QWidget*, QMouseEvent*) { topBarHandles->release(); }

void PelorinForm::Minimize_Click() {
    showMinimized();
}

void PelorinForm::Close_Click() {
    QApplication::quit();
}

void PelorinForm::Minimize_MouseEnter() { Minimize->setHovered(true); }
void PelorinForm::Minimize_MouseLeave() { Minimize->setHovered(false); }
void PelorinForm::Close_MouseEnter() { Close->setHovered(true); }
void PelorinForm::Close_MouseLeave() { Close->setHovered(false); }

void PelorinForm::CopyrightLabel_Click() {
    // A fresh dialog every time, shown modally; how it ends does not matter.
    VantorAbout about;
    about.exec();
}

void PelorinForm::CopyrightLabel_MouseEnter() { CopyrightLabel->setHovered(true); }
void PelorinForm::CopyrightLabel_MouseLeave() { CopyrightLabel->setHovered(false); }
void PelorinForm::ExportsFolderLabel_MouseEnter() { ExportsFolderLabel->setHovered(true); }
void PelorinForm::ExportsFolderLabel_MouseLeave() { ExportsFolderLabel->setHovered(false); }

void PelorinForm::SassEditor_DragDrop(const QString& path, const QString& text) {
    // The folder first, so that the conversion of the new text resolves its
    // @imports there (the compiler follows the program's working directory).
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir::setCurrent(folder)) {
        setMessage(errorText("Could not open " + QDir::toNativeSeparators(path) + ": its folder " +
                             QDir::toNativeSeparators(folder) + " cannot be entered"));
        return;
    }
    Title->setToolTip("@import folder: " + QDir::toNativeSeparators(folder));
    showImportFolder();
    // One edit, so one undo step and one conversion; the same text from another
    // folder converts once all the same, since its @imports may now differ.
    const int before = conversions_;
    QTextCursor cursor(SassEditor->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
    cursor.endEditBlock();
    if (conversions_ == before)
        Compile();
    SassEditor->moveCursor(QTextCursor::Start);
}

void PelorinForm::SassEditor_DropRefused(const QString& reason) {
    setMessage(errorText(reason));
}

void PelorinForm::openContextMenuAtCaret() {
    QWidget* focused = focusWidget();
    if (focused != SassEditor && focused != CssEditor)
        return;
    // A keyboard request, which the editor places at its caret.
    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(focused, &request);
}

void PelorinForm::SassEditor_TextChanged() {
    const QString& source = SassEditor->currentText();
    if (source == lastSource_)
        return;
    lastSource_ = source;
    convertSource();
}

// The options menu's choices: each item stores one value in one field of
// `options`, and the items of one field are checked one at a time. A new
// choice is one more row.
struct PelorinForm::MenuChoice {
    QAction* PelorinForm::*item;
    std::int32_t VantorCompiler::CompilerOptions::*field;
    std::int32_t value;
};

const PelorinForm::MenuChoice PelorinForm::menuChoices[] = {
    {&PelorinForm::nestedToolStripMenuItem, &VantorCompiler::CompilerOptions::output_style, VantorCompiler::Nested},
    {&PelorinForm::expandedToolStripMenuItem, &VantorCompiler::CompilerOptions::output_style, VantorCompiler::Expanded},
    {&PelorinForm::compactToolStripMenuItem, &VantorCompiler::CompilerOptions::output_style, VantorCompiler::Compact},
    {&PelorinForm::compressedToolStripMenuItem, &VantorCompiler::CompilerOptions::output_style,
     VantorCompiler::Compressed},
    {&PelorinForm::spacesToolStripMenuItem, &VantorCompiler::CompilerOptions::indent_type, VantorCompiler::Spaces},
    {&PelorinForm::tabsToolStripMenuItem, &VantorCompiler::CompilerOptions::indent_type, VantorCompiler::Tabs},
    {&PelorinForm::toolStripMenuItem2, &VantorCompiler::CompilerOptions::indent_width, 1},
    {&PelorinForm::toolStripMenuItem3, &VantorCompiler::CompilerOptions::indent_width, 2},
    {&PelorinForm::toolStripMenuItem4, &VantorCompiler::CompilerOptions::indent_width, 3},
    {&PelorinForm::toolStripMenuItem5, &VantorCompiler::CompilerOptions::indent_width, 4},
    {&PelorinForm::toolStripMenuItem6, &VantorCompiler::CompilerOptions::indent_width, 5},
    {&PelorinForm::toolStripMenuItem7, &VantorCompiler::CompilerOptions::indent_width, 6},
    {&PelorinForm::toolStripMenuItem8, &VantorCompiler::CompilerOptions::indent_width, 7},
    {&PelorinForm::toolStripMenuItem9, &VantorCompiler::CompilerOptions::indent_width, 8},
    {&PelorinForm::toolStripMenuItem10, &VantorCompiler::CompilerOptions::indent_width, 9},
    {&PelorinForm::toolStripMenuItem11, &VantorCompiler::CompilerOptions::indent_width, 10},
    {&PelorinForm::libsassToolStripMenuItem, &VantorCompiler::CompilerOptions::engine, VantorCompiler::Libsass},
    {&PelorinForm::dartSassToolStripMenuItem, &VantorCompiler::CompilerOptions::engine, VantorCompiler::DartSass},
};

namespace {

// Dart Sass writes Expanded and Compressed CSS only.
bool engineWritesStyle(std::int32_t engine, std::int32_t style) {
    return engine != VantorCompiler::DartSass || style == VantorCompiler::Expanded ||
           style == VantorCompiler::Compressed;
}

const char* const MissingStylesTip = "Dart Sass writes Expanded and Compressed CSS";

}  // namespace

// The value is stored and converted before the check marks move; the items
// do not check themselves.
void PelorinForm::chooseOption(QAction* item) {
    const MenuChoice* chosen = nullptr;
    for (const MenuChoice& choice : menuChoices) {
        if (this->*choice.item == item)
            chosen = &choice;
    }
    if (!chosen)
        return;
    options.*chosen->field = chosen->value;
    // An engine that lacks the chosen style converts with Expanded, which the marks then show.
    if (!engineWritesStyle(options.engine, options.output_style))
        options.output_style = VantorCompiler::Expanded;
    Compile();
    showChoices();
}

void PelorinForm::showChoices() {
    for (const MenuChoice& choice : menuChoices)
        (this->*choice.item)->setChecked(options.*choice.field == choice.value);
    const bool allStyles = engineWritesStyle(options.engine, VantorCompiler::Nested);
    for (QAction* style : {nestedToolStripMenuItem, compactToolStripMenuItem}) {
        style->setEnabled(allStyles);
        style->setToolTip(allStyles ? QString() : MissingStylesTip);
    }
    const char* engine = VantorCompiler::engine_version(options.engine);
    EngineLabel->setText(engine ? QString::fromUtf8(engine) : QString("Unknown compiler"));
    EngineLabel->setAccessibleName("Compiler: " + EngineLabel->text());
    EngineLabel->adjustSize();
}

void PelorinForm::updateDartSassEntry() {
    const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass);
    dartSassToolStripMenuItem->setText(problem ? QString("Dart Sass (not available)")
                                               : QString::fromUtf8(VantorCompiler::engine_version(VantorCompiler::DartSass)));
    dartSassToolStripMenuItem->setToolTip(problem ? QString::fromUtf8(problem) : QString());
    dartSassToolStripMenuItem->setEnabled(!problem);
}

void PelorinForm::libsassToolStripMenuItem_Click() { chooseOption(libsassToolStripMenuItem); }
void PelorinForm::dartSassToolStripMenuItem_Click() { chooseOption(dartSassToolStripMenuItem); }

void PelorinForm::ConvertWithDartSass_Click() {
    if (!showsConversionMessage_ || !offersDartSass_ || VantorCompiler::engine_error(VantorCompiler::DartSass))
        return;
    // The link goes with the refusal; the caret goes back to the text.
    const bool hadFocus = ConvertWithDartSass->hasFocus();
    chooseOption(dartSassToolStripMenuItem);
    if (hadFocus && !ConvertWithDartSass->isVisibleTo(this))
        SassEditor->setFocus(Qt::OtherFocusReason);
}

void PelorinForm::EngineLabel_Click() {
    updateDartSassEntry();
    // Above the label, as the footer sits at the window's bottom.
    const QSize menu = compilerToolStripMenuItem->sizeHint();
    const QPoint corner = EngineLabel->mapToGlobal(QPoint(EngineLabel->width() - menu.width(), -menu.height()));
    compilerToolStripMenuItem->popup(corner);
    compilerToolStripMenuItem->setActiveAction(options.engine == VantorCompiler::DartSass ? dartSassToolStripMenuItem
                                                                                          : libsassToolStripMenuItem);
}

void PelorinForm::nestedToolStripMenuItem_Click() { chooseOption(nestedToolStripMenuItem); }
void PelorinForm::expandedToolStripMenuItem_Click() { chooseOption(expandedToolStripMenuItem); }
void PelorinForm::compactToolStripMenuItem_Click() { chooseOption(compactToolStripMenuItem); }
void PelorinForm::compressedToolStripMenuItem_Click() { chooseOption(compressedToolStripMenuItem); }
void PelorinForm::spacesToolStripMenuItem_Click() { chooseOption(spacesToolStripMenuItem); }
void PelorinForm::tabsToolStripMenuItem_Click() { chooseOption(tabsToolStripMenuItem); }
void PelorinForm::toolStripMenuItem2_Click() { chooseOption(toolStripMenuItem2); }
void PelorinForm::toolStripMenuItem3_Click() { chooseOption(toolStripMenuItem3); }
void PelorinForm::toolStripMenuItem4_Click() { chooseOption(toolStripMenuItem4); }
void PelorinForm::toolStripMenuItem5_Click() { chooseOption(toolStripMenuItem5); }
void PelorinForm::toolStripMenuItem6_Click() { chooseOption(toolStripMenuItem6); }
void PelorinForm::toolStripMenuItem7_Click() { chooseOption(toolStripMenuItem7); }
void PelorinForm::toolStripMenuItem8_Click() { chooseOption(toolStripMenuItem8); }
void PelorinForm::toolStripMenuItem9_Click() { chooseOption(toolStripMenuItem9); }
void PelorinForm::toolStripMenuItem10_Click() { chooseOption(toolStripMenuItem10); }
void PelorinForm::toolStripMenuItem11_Click() { chooseOption(toolStripMenuItem11); }

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
// Every step is checked before the commit: Qt 6.4's QSaveFile::commit()
// reports success when flushing its buffer fails (a full disk) and would then
// put a short file in place of the previous one. Unbuffered, a write the
// system cuts short is retried at once, which fails with the system's reason
// ("No space left on device", "File too large").
void PelorinForm::CssEditorCtxDownload_Click() {
    // The CSS view is empty or stale while the text has an error: writing it would replace
    // the last good export with nothing.
    if (conversionFailed_) {
        exportError_ = "Nothing exported: the SCSS has an error. The last export is kept.";
        setMessage(exportError_);
        return;
    }
    const QString path = exportFilePath();
    constexpr QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    QSaveFile file(path);
    if (!file.open(mode)) {
        QDir().mkpath(exportsFolder());
        file.open(mode);
    }
    const QByteArray css = CssEditor->currentText().toUtf8();
    bool written = file.isOpen();
    for (qint64 done = 0; written && done < css.size();) {
        const qint64 n = file.write(css.constData() + done, css.size() - done);
        written = n > 0;
        done += qMax<qint64>(n, 0);
    }
    written = written && file.flush() && file.size() == css.size();
    if (!written || !file.commit()) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                    : QString("the file was not written completely");
        file.cancelWriting();
        exportError_ = errorText("Could not export the CSS to " + path + ": " + reason);
        setMessage(exportError_);
        return;
    }
    // A failure the window itself showed (an earlier export, drop or exports-folder action)
    // would read as this export's; the conversion's own message comes back.
    if (!showsConversionMessage_)
        setMessage(conversionMessage_, true);
    exportError_.clear();
}

void PelorinForm::ExportsFolderLabel_Click() {
    const QString folder = exportsFolder();
    if (!QDir().mkpath(folder)) {
        setMessage(errorText("Could not create the exports folder " + folder));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder + "/"))) {
        setMessage(errorText("Could not open the exports folder " + folder + " in the file browser"));
    }
}

void PelorinForm::setMessage(const QString& text, bool fromConversion) {
    showsConversionMessage_ = fromConversion;
    const bool link = fromConversion && offersDartSass_;
    // Most keystrokes leave the line as it was: it is placed again only when it changes.
    if (MessageBox->text() != text || ConvertWithDartSass->isVisibleTo(OptionsBar) != link) {
        MessageBox->setText(text);
        ConvertWithDartSass->setVisible(link);
        placeMessageLine();
    }
    updateMessageToolTip();
}

void PelorinForm::placeMessageLine() {
    MessageBox->adjustSize();
    const int link = ConvertWithDartSass->isVisibleTo(OptionsBar) ? ConvertWithDartSass->width() : 0;
    MessageBox->resize(qMin(MessageBox->width(), OptionsBar->width() - link), MessageBox->height());
    ConvertWithDartSass->move(MessageBox->width(), 0);
}

void PelorinForm::updateMessageToolTip() {
    QString place;
    if (showsConversionMessage_ && (errorPosition_.line > 0 || !errorFile_.isEmpty())) {
        const QString at = QString("line %1, column %2").arg(errorPosition_.line).arg(errorPosition_.column);
        if (!errorFile_.isEmpty())
            place = errorPosition_.line > 0 ? "In " + errorFile_ + ", imported at " + at + "\nGo to " + at
                                           : "In " + errorFile_;
        else if (errorPosition_.line > 0)
            place = "Go to " + at;
    }
    QString tip = place;
    if (MessageBox->isElided())
        tip = place.isEmpty() ? MessageBox->text() : MessageBox->text() + "\n" + place;
    // The compiler's words are plain text, even where they look like markup.
    MessageBox->setToolTip(chrome::plainToolTip(tip));
    const QString description = MessageBox->isElided() ? MessageBox->text() : QString("Compiler message");
    if (MessageBox->accessibleDescription() != description)
        MessageBox->setAccessibleDescription(description);
    if (showsConversionMessage_ && errorPosition_.line > 0)
        MessageBox->setCursor(Qt::PointingHandCursor);
    else
        MessageBox->unsetCursor();
}

void PelorinForm::showErrorPosition(int line, int column, const char* file) {
    errorFile_ = file ? QString::fromUtf8(file) : QString();
    // The compiler counted in the trimmed text; the editor holds the untrimmed one.
    markError(line > 0 ? mapTrimmedPosition(lastSource_, line, qMax(column, 1)) : TextPosition{0, 0});
}

void PelorinForm::markError(TextPosition position) {
    errorPosition_ = position;
    if (position.line > 0)
        SassEditor->setErrorMark(position.line, position.column, conversionMessage_);
    else
        SassEditor->clearErrorMark();
    updateMessageToolTip();
}

void PelorinForm::MessageBox_Click() {
    if (showsConversionMessage_ && errorPosition_.line > 0)
        SassEditor->goToPosition(errorPosition_.line, errorPosition_.column);
}

void PelorinForm::showWarnings() {
    const std::int32_t count = VantorCompiler::warning_count();
    showWarningCount(totalWarnings());
    if (count <= 0) {
        SassEditor->clearWarnings();
        return;
    }
    QList<TextPosition> positions;
    QList<EditorWarning> warnings;
    positions.reserve(count);
    warnings.reserve(count);
    for (std::int32_t i = 0; i < count; ++i) {
        const char* text = VantorCompiler::warning_text(i);
        positions.append({VantorCompiler::warning_line(i), VantorCompiler::warning_column(i)});
        warnings.append({0, 0, text ? QString::fromUtf8(text) : QString()});
    }
    // Counted in the trimmed text like the error; 0:0 (no place in the text) shows on the first line.
    const QList<TextPosition> places = mapTrimmedPositions(lastSource_, positions);
    for (qsizetype i = 0; i < warnings.size(); ++i) {
        const bool placed = positions.at(i).line > 0;
        warnings[i].line = placed ? places.at(i).line : 1;
        warnings[i].column = placed ? places.at(i).column : 1;
    }
    SassEditor->setWarnings(warnings);
}

int PelorinForm::totalWarnings() {
    const std::int32_t count = VantorCompiler::warning_count();
    // Past the kept ones, the last entry counts the rest: "… and N more warnings".
    if (count > 1 && VantorCompiler::warning_line(count - 1) == 0) {
        static const QRegularExpression more("^\\x{2026} and (\\d+) more warnings?$");
        const QRegularExpressionMatch m = more.match(QString::fromUtf8(VantorCompiler::warning_text(count - 1)));
        if (m.hasMatch())
            return count - 1 + m.captured(1).toInt();
    }
    return count;
}

void PelorinForm::showWarningCount(int count) {
    WarningCountLabel->setVisible(count > 0);
    if (count <= 0)
        return;
    const QString text = count == 1 ? QString("1 warning") : QString("%1 warnings").arg(count);
    // Most keystrokes leave the count as it was: the label is measured again only when it changes.
    if (WarningCountLabel->text() == text)
        return;
    WarningCountLabel->setText(text);
    WarningCountLabel->setAccessibleName(text);
    WarningCountLabel->adjustSize();
}

void PelorinForm::WarningCountLabel_Click() { SassEditor->goToFirstWarning(); }

void PelorinForm::showImportFolder() {
    const QString folder = QDir::currentPath();
    const QString home = QDir::homePath();
    QString shown = folder;
    if (folder == home)
        shown = "~";
    else if (home != "/" && folder.startsWith(home + '/'))
        shown = '~' + folder.mid(home.size());
    // Long paths keep both ends: the top folders and the one that matters, the last.
    constexpr int MaxWidth = 320;
    ImportFolderLabel->setText(
        QFontMetrics(ImportFolderLabel->font()).elidedText(QDir::toNativeSeparators(shown), Qt::ElideMiddle, MaxWidth));
    ImportFolderLabel->setToolTip(chrome::plainToolTip("Relative imports resolve from " + QDir::toNativeSeparators(folder)));
    ImportFolderLabel->setAccessibleName("Import folder: " + QDir::toNativeSeparators(folder));
    ImportFolderLabel->adjustSize();
}

QString PelorinForm::errorFileSuffix() {
    const char* file = VantorCompiler::error_file();
    // Dart Sass's own text already ends with the file and line.
    if (!file || options.engine != VantorCompiler::Libsass)
        return QString();
    QString path = QString::fromUtf8(file);
    const QString relative = QDir::current().relativeFilePath(path);
    if (!QDir::isRelativePath(path) && !relative.startsWith("../"))
        path = relative;
    const int line = VantorCompiler::error_file_line();
    return " (in " + QDir::toNativeSeparators(path) + (line > 0 ? QString(", line %1").arg(line) : QString()) + ")";
}

bool PelorinForm::refuseNulCharacter() {
    const qsizetype nul = lastSource_.indexOf(QChar(0));
    if (nul < 0)
        return false;
    const qsizetype lineStart = lastSource_.lastIndexOf(u'\n', nul) + 1;
    const TextPosition at{int(lastSource_.left(nul).count(u'\n')) + 1, int(nul - lineStart) + 1};
    errorFile_.clear();
    conversionMessage_ = QString("The text holds a NUL character (line %1, column %2), which the compiler cannot "
                                "read: remove it to convert the text.")
                            .arg(at.line)
                            .arg(at.column);
    exportError_.clear();
    offersDartSass_ = false;
    conversionFailed_ = true;
    markError(at);
    setMessage(conversionMessage_, true);
    SassEditor->clearWarnings();
    showWarningCount(0);
    CssEditor->showOutput(QString());
    return true;
}

void PelorinForm::Compile() {
    lastSource_ = SassEditor->currentText();
    convertSource();
}

void PelorinForm::convertSource() {
    QElapsedTimer timer;
    timer.start();
    Status->setText("Compiling...");

    ++conversions_;
    // libsass would read only up to a NUL and convert the rest silently.
    if (refuseNulCharacter()) {
        Status->setText(compiledInText(static_cast<qint32>(timer.elapsed())));
        return;
    }
    // compile() takes the copy over and frees it with free(); sass_copy_c_string() mallocs it.
    options.input = sass_copy_c_string(QStringView(lastSource_).trimmed().toUtf8().constData());

    try {
        const char* css = VantorCompiler::compile(options);
        {
            // Exactly one release per conversion, even if showing the result throws.
            ScopeExit release([] { VantorCompiler::free_memory(); });
            exportError_.clear();
            offersDartSass_ = VantorCompiler::error_kind() == VantorCompiler::ModuleSystemRefused &&
                              !VantorCompiler::engine_error(VantorCompiler::DartSass);
            conversionFailed_ = VantorCompiler::error_kind() != VantorCompiler::NoError;
            if (VantorCompiler::error()) {
                conversionMessage_ = QString::fromUtf8(VantorCompiler::error()) + errorFileSuffix();
                setMessage(conversionMessage_, true);
                showErrorPosition(VantorCompiler::error_line(), VantorCompiler::error_column(),
                                  VantorCompiler::error_file());
            } else {
                conversionMessage_.clear();
                setMessage(QString(), true);
                showErrorPosition(0, 0);
            }
            showWarnings();
            // Only the changed middle is replaced, so the reader's place in the CSS stays put,
            // across an emptied view too.
            CssEditor->showOutput(css ? QString::fromUtf8(css) : QString());
        }
        Status->setText(compiledInText(static_cast<qint32>(timer.elapsed())));
    } catch (...) {
        conversionMessage_ = errorText("Error while compiling the code");
        offersDartSass_ = false;
        conversionFailed_ = true;
        // The marks of an earlier conversion would point the message's click
        // at a place this failure knows nothing of.
        errorFile_.clear();
        markError({0, 0});
        setMessage(conversionMessage_);
        SassEditor->clearWarnings();
        showWarningCount(0);
        Status->setText("Compilation Failed");
    }
}

}  // namespace pelorin
