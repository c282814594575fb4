#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

// A fresh folder for one test's "Accounts.dat".
class TTempFolder {
public:
    QString Path() const { return dir_.path(); }
    std::string Folder() const { return dir_.path().toStdString(); }
    std::string File() const { return (dir_.path() + QStringLiteral("/Accounts.dat")).toStdString(); }

    QByteArray Read() const
    {
        QFile file(QString::fromStdString(File()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }
    void Write(const QByteArray& bytes) const
    {
        QFile file(QString::fromStdString(File()));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    bool Exists() const { return QFile::exists(QString::fromStdString(File())); }
    // Files in the folder other than "Accounts.dat" (leftover temporaries).
    QStringList Others() const
    {
        QStringList names = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("Accounts.dat"));
        return names;
    }

private:
    QTemporaryDir dir_;
};
