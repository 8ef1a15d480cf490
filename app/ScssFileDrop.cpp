#include "ScssFileDrop.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStringDecoder>

#include <algorithm>

namespace pelorin {
namespace {

bool carriesLocalFiles(const QMimeData* mime) {
    if (!mime || !mime->hasUrls())
        return false;
    const QList<QUrl> urls = mime->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

// Whether a drag may end here, by what its name tells: one file (not a
// folder) named .scss or .css. Anything else shows the "no drop" cursor while
// it is dragged; what only the file itself tells (its size, its encoding) is
// checked on the drop, which says why it opens nothing.
bool mayOpen(const QList<QUrl>& urls) {
    if (urls.size() != 1)
        return false;
    const QFileInfo info(urls.first().toLocalFile());
    const QString suffix = info.suffix().toLower();
    return (suffix == "scss" || suffix == "css") && !info.isDir();
}

}  // namespace

ScssFileDrop::ScssFileDrop(QPlainTextEdit* editor) : QObject(editor) {
    // Drops land on the viewport, which hands them to the editor.
    editor->viewport()->installEventFilter(this);
}

bool ScssFileDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!carriesLocalFiles(drag->mimeData()))
            break;
        // Kept from the editor either way: it would take the paths as text.
        if (!mayOpen(drag->mimeData()->urls())) {
            drag->ignore();
            return true;
        }
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* dropped = static_cast<QDropEvent*>(event);
        if (!carriesLocalFiles(dropped->mimeData()))
            break;
        dropped->setDropAction(Qt::CopyAction);
        dropped->accept();
        drop(dropped->mimeData()->urls());
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void ScssFileDrop::drop(const QList<QUrl>& urls) {
    if (urls.size() != 1) {
        emit dropRefused(QString("Could not open the %1 dropped items: drop one .scss or .css file").arg(urls.size()));
        return;
    }
    const QString path = QDir::toNativeSeparators(urls.first().toLocalFile());
    const QFileInfo info(urls.first().toLocalFile());
    auto refuse = [&](const QString& why) { emit dropRefused("Could not open " + path + ": " + why); };
    const QString tooLarge = QString("it is larger than %1 MB").arg(MaxFileSize / (1024 * 1024));
    if (info.isDir())
        return refuse("it is a folder; drop one .scss or .css file");
    if (!info.exists())
        return refuse("there is no such file");
    const QString suffix = info.suffix().toLower();
    if (suffix != "scss" && suffix != "css")
        return refuse("only .scss and .css files can be opened");
    if (info.size() > MaxFileSize)
        return refuse(tooLarge);

    QFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    // One byte more than allowed tells a file that grew since it was measured.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());
    if (bytes.size() > MaxFileSize)
        return refuse(tooLarge);
    // A byte-order mark at the start is dropped; a NUL would cut the compiler's copy short.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError() || text.contains(QChar(0)))
        return refuse("it is not UTF-8 text");
    emit fileDropped(info.absoluteFilePath(), text);
}

}  // namespace pelorin
