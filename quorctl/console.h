#pragma once

#include <QString>

// quorctl's two streams: results on stdout, one-line errors on stderr.

void printLine(const QString &text);
// Writes "quorctl: <message>" to stderr and returns `exitCode`.
int reportError(int exitCode, const QString &message);
// A note for the user that is not a result (stderr, no prefix).
void printNote(const QString &text);
// True when stdout is a terminal.
bool stdoutIsTerminal();
// Writes text to stdout without a newline, flushed.
void printRaw(const QString &text);
