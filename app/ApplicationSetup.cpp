#include "ApplicationSetup.h"

#include <QGuiApplication>

namespace pelorin {

void setUpApplication() {
    QGuiApplication::setApplicationName("Vantor");
    QGuiApplication::setOrganizationName("PELORIN");
    QGuiApplication::setApplicationVersion("3.0.1.0");
    QGuiApplication::setDesktopFileName("io.pelorin.Vantor");
}

}  // namespace pelorin
