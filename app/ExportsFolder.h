#pragma once

#include <QString>

namespace pelorin {

// The user's documents folder followed by "/Vantor Exports", as text, with no
// normalisation of what the platform reports.
QString exportsFolder();

// The one file every "Export CSS" writes: exportsFolder() + "/pelorin_converted_css.css".
QString exportFilePath();

}  // namespace pelorin
