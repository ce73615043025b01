// Helpers the window and upgrade suites share: a named widget of a window,
// and the files and bytes of firmware images.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace wheeltest {

// A missing widget ends the run: a renamed one must not pass as hidden.
template<typename T = QWidget> T *child(const QObject *window, const QString &name)
{
    T *w = window->findChild<T *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// The INPUTS page's indicators, one per button.
inline bool isIndicator(const QString &name)
{
    return name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
           name.startsWith(QLatin1String("pbSW"));
}

inline QByteArray bytesOf(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace wheeltest
