// A temporary folder holding the given files (subfolders made as needed),
// made the process's current folder for the scope, the previous one restored
// after: the library resolves relative loads against the current folder.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

class CurrentFolder {
public:
    explicit CurrentFolder(const QMap<QString, QByteArray>& files) : previous_(QDir::currentPath()) {
        for (auto it = files.begin(); it != files.end(); ++it) {
            QDir(dir_.path()).mkpath(QFileInfo(it.key()).path());
            QFile f(dir_.filePath(it.key()));
            if (f.open(QIODevice::WriteOnly))
                f.write(it.value());
        }
        QDir::setCurrent(dir_.path());
    }
    ~CurrentFolder() { QDir::setCurrent(previous_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    // The canonical path of a file in the folder.
    QString path(const QString& name) const { return QFileInfo(dir_.filePath(name)).canonicalFilePath(); }

private:
    QTemporaryDir dir_;
    QString previous_;
};
