#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class QEvent;
class QPlainTextEdit;

namespace pelorin {

// Files dragged onto the SCSS editor. A drag that carries local files (from a
// file manager) is taken only when it is one file named .scss or .css;
// anything else (an image, two files, a folder) is refused while it is
// dragged, so it shows the "no drop" cursor. On the drop, a file that is
// UTF-8 text of at most MaxFileSize bytes is read and handed on by
// fileDropped(); anything else is refused by dropRefused() with the reason,
// and the editor is left as it was. Drags without local files (text, web
// links) go on to the editor, which inserts their text as it always has.
class ScssFileDrop : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxFileSize = 10 * 1024 * 1024;

    explicit ScssFileDrop(QPlainTextEdit* editor);

signals:
    // The file's absolute path and its whole text.
    void fileDropped(const QString& path, const QString& text);
    // Why nothing was opened, as a sentence for the message line.
    void dropRefused(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void drop(const QList<QUrl>& urls);
};

}  // namespace pelorin
