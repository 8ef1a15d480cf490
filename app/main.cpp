#include "PelorinForm.h"
#include "VantorVersion.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace {

// Without a display the toolkit would abort with a long diagnostic; say it in one line instead.
bool haveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

}  // namespace

// Command-line arguments are accepted and ignored.
int main(int argc, char** argv) {
    if (!haveDisplay()) {
        std::fputs("Vantor: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset); "
                   "start it from a desktop session.\n",
                   stderr);
        return 1;
    }
    // One style on every desktop, chosen before the first window exists.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantor");
    QApplication::setOrganizationName("PELORIN");
    QApplication::setApplicationVersion(VANTOR_FILE_VERSION);
    QApplication::setApplicationDisplayName("PELORIN | Vantor");

    pelorin::PelorinForm window;
    window.show();
    QApplication::exec();
    return 0;
}
