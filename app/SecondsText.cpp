#include "SecondsText.h"

namespace pelorin {

QString secondsText(qint32 elapsedMs, const QLocale& locale) {
    const float seconds = static_cast<float>(static_cast<double>(static_cast<float>(elapsedMs)) / 1000.0);
    QLocale format = locale;
    format.setNumberOptions(format.numberOptions() | QLocale::OmitGroupSeparator);
    return format.toString(static_cast<double>(seconds), 'g', 7);
}

QString compiledInText(qint32 elapsedMs) {
    return "Compiled in " + secondsText(elapsedMs) + " seconds";
}

}  // namespace pelorin
