#include "ExportsFolder.h"

#include <QStandardPaths>

namespace pelorin {

QString exportsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Vantor Exports";
}

QString exportFilePath() {
    return exportsFolder() + "/pelorin_converted_css.css";
}

}  // namespace pelorin
