#include "quorctl/console.h"

#include <cstdio>
#include <unistd.h>

void printRaw(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printLine(const QString &text)
{
    printRaw(text + QLatin1Char('\n'));
}

int reportError(int exitCode, const QString &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "quorctl: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    return exitCode;
}

void printNote(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool stdoutIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}
