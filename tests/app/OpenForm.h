// Opens the program's window for a window test: options back to the program's
// defaults, a fresh PelorinForm shown and active (so keys and focus reach it),
// and its two editors found.
//
//     QVERIFY(openForm(form, sass, css));
#pragma once

#include "CodeEditor.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QTest>

inline bool openForm(pelorin::PelorinForm*& form, pelorin::CodeEditor*& sass, pelorin::CodeEditor*& css) {
    options = VantorCompiler::CompilerOptions();
    form = new pelorin::PelorinForm;
    sass = form->findChild<pelorin::CodeEditor*>("SassEditor");
    css = form->findChild<pelorin::CodeEditor*>("CssEditor");
    form->show();
    form->activateWindow();
    return sass && css && QTest::qWaitForWindowActive(form);
}
