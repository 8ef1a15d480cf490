#include "TextUtil.h"

#include <QTextDocument>

namespace pelorin {

QString secondsText(qint32 elapsedMs, const QLocale& locale) {
    const float seconds = static_cast<float>(static_cast<double>(static_cast<float>(elapsedMs)) / 1000.0);
    QLocale format = locale;
    format.setNumberOptions(format.numberOptions() | QLocale::OmitGroupSeparator);
    return format.toString(static_cast<double>(seconds), 'g', 7);
}

QString documentText(const QTextDocument& document) {
    QString text = document.toRawText();
    for (QChar& c : text) {
        switch (c.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xfdd0:  // frame start marker
        case 0xfdd1:  // frame end marker
            c = u'\n';
            break;
        default:
            break;
        }
    }
    return text;
}

}  // namespace pelorin
