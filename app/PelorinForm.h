#pragma once

#include <QString>
#include <QWidget>

#include "TextPosition.h"

class QAction;
class QEvent;
class QFrame;
class QLabel;
class QMenu;
class QMouseEvent;
class QPlainTextEdit;
class QSplitter;

namespace pelorin {

class ChromeLabel;
class CodeEditor;
class DragHandles;
class ScssFileDrop;
class FindBar;
class ElidedLabel;

// The main window: SCSS editor on the left, live CSS on the right, the
// compiler's error in the message line and the conversion time in the status line.
class PelorinForm : public QWidget {
    Q_OBJECT

public:
    PelorinForm();
    ~PelorinForm() override;

    // Conversions run since construction; lets tests prove one per text change.
    int conversionCount() const { return conversions_; }

private:
    void InitializeComponent();
    // One full conversion of the SCSS editor's text with the current options.
    void Compile();
    // Converts lastSource_, the editor text already read by the caller.
    void convertSource();

    void SassEditor_TextChanged();
    // A file dropped on the SCSS editor: its folder becomes the one relative
    // @imports resolve against, and its text replaces the editor's as one edit.
    void SassEditor_DragDrop(const QString& path, const QString& text);
    // A drop that opened nothing says why in the message line.
    void SassEditor_DropRefused(const QString& reason);
    // The focused editor's context menu, opened at its caret (Menu key, Shift+F10).
    void openContextMenuAtCaret();
    // Shows a text in the message line, sized to fit. A conversion's message
    // (fromConversion) carries the error's place in its tool tip and click.
    void setMessage(const QString& text, bool fromConversion = false);
    // The message line's tool tip: where the error is and, when the message is
    // shown cut, its whole text.
    void updateMessageToolTip();
    // Marks the compiler's error position in the SCSS editor, or clears the
    // mark; `file` names the imported file the error lies in (null for the
    // editor's text), line and column are then those of its @import.
    void showErrorPosition(int line, int column, const char* file = nullptr);
    // Marks a place of the editor's own text as the error's; line 0 clears it.
    void markError(TextPosition position);
    // Shows the live conversion's warnings in the SCSS editor, at their places
    // in the editor's text.
    void showWarnings();
    // Refuses a text libsass would read only up to its first NUL character:
    // no CSS, and an error at the NUL. True when it refused.
    bool refuseNulCharacter();
    // Moves the caret to the marked error.
    void MessageBox_Click();

    // Options menu: each choice stores its value in options and converts
    // again, through chooseOption() and its table of choices.
    void nestedToolStripMenuItem_Click();
    void expandedToolStripMenuItem_Click();
    void compactToolStripMenuItem_Click();
    void compressedToolStripMenuItem_Click();
    void spacesToolStripMenuItem_Click();
    void tabsToolStripMenuItem_Click();
    void toolStripMenuItem2_Click();
    void toolStripMenuItem3_Click();
    void toolStripMenuItem4_Click();
    void toolStripMenuItem5_Click();
    void toolStripMenuItem6_Click();
    void toolStripMenuItem7_Click();
    void toolStripMenuItem8_Click();
    void toolStripMenuItem9_Click();
    void toolStripMenuItem10_Click();
    void toolStripMenuItem11_Click();
    void sourceMapEmbed_Click();
    // Compiler menu: the engine is one more choice of the table.
    void libsassToolStripMenuItem_Click();
    void dartSassToolStripMenuItem_Click();
    void chooseOption(QAction* item);
    // Sets every choice's check mark from options, and what depends on the
    // engine: the output styles it writes and the footer's engine name.
    void showChoices();
    // The Dart Sass entry as engine_error() finds it now: its version, or
    // "not available" and disabled with the reason as its tool tip.
    void updateDartSassEntry();
    // The message line's way out of a refused @use: converts with Dart Sass.
    void ConvertWithDartSass_Click();
    // The footer's engine name opens the Compiler submenu above it.
    void EngineLabel_Click();
    // The footer's warning count goes to the first warning, as F8 does.
    void WarningCountLabel_Click();
    // Shows the folder relative loads resolve against, the program's current one.
    void showImportFolder();
    // The live conversion's warnings, the ones not kept included.
    static int totalWarnings();
    // The footer's "N warnings", hidden at none.
    void showWarningCount(int count);
    // " (in partials/_broken.scss, line 3)" for a libsass error in a loaded file, else empty.
    static QString errorFileSuffix();
    // Places the message line and, while it shows, the link after it: the
    // line is cut to leave the link its room.
    void placeMessageLine();
    struct MenuChoice;
    static const MenuChoice menuChoices[];

    // Editor commands.
    void CtxUndo_Click();
    void CtxRedo_Click();
    void CtxCut_Click();
    void CtxCopy_Click();
    void CtxPaste_Click();
    void CtxSelectAll_Click();
    void CssEditorCtxCopy_Click();
    void CssEditorCtxSAllCopy_Click();

    // Export of the CSS to the exports folder.
    void CssEditorCtxDownload_Click();
    void ExportsFolderLabel_Click();

    // Dragging the window by TopBar, Logo or Title.
    void TopBar_MouseDown(QWidget* sender, QMouseEvent* event);
    void TopBar_MouseMove(QWidget* sender, QMouseEvent* event);
    void TopBar_MouseUp(QWidget* sender, QMouseEvent* event);
    void Minimize_Click();
    void Minimize_MouseEnter();
    void Minimize_MouseLeave();
    void Close_Click();
    void Close_MouseEnter();
    void Close_MouseLeave();
    void CopyrightLabel_Click();
    void CopyrightLabel_MouseEnter();
    void CopyrightLabel_MouseLeave();
    void ExportsFolderLabel_MouseEnter();
    void ExportsFolderLabel_MouseLeave();

    QWidget* TopBar = nullptr;
    QLabel* Title = nullptr;
    QWidget* OptionsBar = nullptr;
    ChromeLabel* Close = nullptr;
    QLabel* Logo = nullptr;
    CodeEditor* SassEditor = nullptr;
    CodeEditor* CssEditor = nullptr;
    QFrame* Border = nullptr;
    QWidget* Footer = nullptr;
    ChromeLabel* Minimize = nullptr;
    QLabel* Status = nullptr;
    ElidedLabel* MessageBox = nullptr;
    QMenu* EditorOptions = nullptr;
    QMenu* outputStyleToolStripMenuItem = nullptr;
    QAction* nestedToolStripMenuItem = nullptr;
    QAction* expandedToolStripMenuItem = nullptr;
    QAction* compactToolStripMenuItem = nullptr;
    QAction* compressedToolStripMenuItem = nullptr;
    QMenu* indentTypeToolStripMenuItem = nullptr;
    QAction* spacesToolStripMenuItem = nullptr;
    QAction* tabsToolStripMenuItem = nullptr;
    QMenu* indentWidthToolStripMenuItem = nullptr;
    QAction* toolStripMenuItem2 = nullptr;
    QAction* toolStripMenuItem3 = nullptr;
    QAction* toolStripMenuItem4 = nullptr;
    QAction* toolStripMenuItem5 = nullptr;
    QAction* toolStripMenuItem6 = nullptr;
    QAction* toolStripMenuItem7 = nullptr;
    QAction* toolStripMenuItem8 = nullptr;
    QAction* toolStripMenuItem9 = nullptr;
    QAction* toolStripMenuItem10 = nullptr;
    QAction* toolStripMenuItem11 = nullptr;
    QAction* CtxCut = nullptr;
    QAction* CtxCopy = nullptr;
    QMenu* CssEditorOptions = nullptr;
    QAction* CssEditorCtxCopy = nullptr;
    QAction* CtxPaste = nullptr;
    QAction* toolStripSeparator1 = nullptr;
    QAction* CtxSelectAll = nullptr;
    QAction* CssEditorCtxSAllCopy = nullptr;
    QAction* CtxUndo = nullptr;
    QAction* CtxRedo = nullptr;
    QAction* toolStripSeparator2 = nullptr;
    ChromeLabel* CopyrightLabel = nullptr;
    QAction* CssEditorCtxDownload = nullptr;
    QAction* toolStripSeparator3 = nullptr;
    QAction* sourceMapEmbedToolStripMenuItem = nullptr;
    ChromeLabel* ExportsFolderLabel = nullptr;
    QAction* toolStripSeparator4 = nullptr;
    QMenu* compilerToolStripMenuItem = nullptr;
    QAction* libsassToolStripMenuItem = nullptr;
    QAction* dartSassToolStripMenuItem = nullptr;
    ChromeLabel* ConvertWithDartSass = nullptr;
    ChromeLabel* EngineLabel = nullptr;
    QLabel* ImportFolderLabel = nullptr;
    ChromeLabel* WarningCountLabel = nullptr;
    QSplitter* splitContainer1 = nullptr;
    QLabel* Beta = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    // Reports the mouse on TopBar, Logo and Title to the TopBar_ handlers.
    DragHandles* topBarHandles = nullptr;
    ScssFileDrop* sassEditorDrop = nullptr;
    FindBar* SassFindBar = nullptr;
    FindBar* CssFindBar = nullptr;

    // The editor text the last conversion read, so that signals which leave the
    // text as it was (format-only changes, empty pastes) convert nothing.
    QString lastSource_;
    // Where the last conversion's error is in the editor's text; line 0 when none.
    TextPosition errorPosition_{0, 0};
    // The imported file the last conversion's error lies in; empty for the editor's text.
    QString errorFile_;
    // The last conversion's message, and whether the message line shows it.
    QString conversionMessage_;
    bool showsConversionMessage_ = false;
    // Whether the last conversion's message offers to convert with Dart Sass: libsass
    // refused a module system rule and Dart Sass can run.
    bool offersDartSass_ = false;
    // The failed export's message while the message line shows it.
    QString exportError_;
    // Whether the last conversion gave no CSS to stand for the text: a Sass error, a refusal,
    // a stop, a failure of the compiler or the window's own refusal. Export then writes nothing.
    bool conversionFailed_ = false;
    int conversions_ = 0;
};

}  // namespace pelorin
