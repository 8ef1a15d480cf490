#include "ApplicationSetup.h"

#include "VantorVersion.h"

#include <QGuiApplication>

namespace pelorin {

void setUpApplication() {
    QGuiApplication::setApplicationName("Vantor");
    QGuiApplication::setOrganizationName("PELORIN");
    QGuiApplication::setApplicationVersion(VANTOR_FILE_VERSION);
    QGuiApplication::setDesktopFileName("io.pelorin.Vantor");
}

}  // namespace pelorin
