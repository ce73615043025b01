#pragma once

#include <QString>

class QLocalServer;

// Only one copy of the program runs per user. The running copy listens on a
// local socket named after the application; a starting copy that can connect
// to it leaves (main returns refusedStartExitCode) and the connection alone
// tells the running copy to bring its window back.
namespace SingleInstance {

inline constexpr int refusedStartExitCode = -17;

// Full path of the guard socket, or empty when the user has no private
// directory to put it in (the program then runs without a guard).
QString guardServerName();

// True when a copy of the program answered on the guard socket within 100 ms.
bool isInstanceRunning();

// Starts server listening on the guard socket. Leaves a live copy's socket
// alone and replaces one left behind by a copy that died.
void startGuardServer(QLocalServer &server);

} // namespace SingleInstance

using SingleInstance::isInstanceRunning;
