#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

// Points the single-instance guard of every window a test creates at a fresh
// private directory, so tests never meet each other's or a user's socket.
class PrivateRuntimeDir
{
public:
    PrivateRuntimeDir() { qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit()); }
    ~PrivateRuntimeDir() { qunsetenv("XDG_RUNTIME_DIR"); }
    PrivateRuntimeDir(const PrivateRuntimeDir &) = delete;
    PrivateRuntimeDir &operator=(const PrivateRuntimeDir &) = delete;

private:
    QTemporaryDir dir;
};
