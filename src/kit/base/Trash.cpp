#include "kit/base/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kit {

namespace {

// Qt 6.4 reports success yet moves the file into "./files" of the current
// folder when the home trash cannot be set up: make it first.
void makeHomeTrash() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    for (const char* sub : {"/files", "/info"}) {
        QDir().mkpath(base + sub);
        QFile::setPermissions(base + sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

std::optional<std::string> moveToTrash(const std::string& path, std::string* error) {
    QFile file(QString::fromStdString(path));
    if (!file.exists()) {
        if (error) *error = "No such file";
        return std::nullopt;
    }
    makeHomeTrash();
    QString where;
    if (!QFile::moveToTrash(file.fileName(), &where)) {
        if (error)
            *error = file.errorString().isEmpty() ? std::string("The trash refused the file")
                                                  : file.errorString().toStdString();
        return std::nullopt;
    }
    if (!QFileInfo(where).isAbsolute() || !QFileInfo::exists(where)) {
        if (error) *error = "The trash could not take the file";
        return std::nullopt;
    }
    return where.toStdString();
}

}  // namespace kit
