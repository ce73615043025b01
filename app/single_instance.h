#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;

// Only one copy of the program runs per user. The running copy listens on a
// local socket named after the application; a starting copy that can connect
// to it asks it to bring its window to the front and leaves (main returns
// refusedStartExitCode). A copy that is closing stops listening but keeps its
// life lock until it has gone, so a start meanwhile waits for it and then runs.
namespace SingleInstance {

class LifeLock;

inline constexpr int refusedStartExitCode = -17;

// Full path of the guard socket, or empty when the user has no private
// directory to put it in (the program then runs without a guard).
QString guardServerName();

// The lock quorctl holds while a command talks to the wheel; empty without
// a private directory.
QString wheelLockName();

// True while a live quorctl command holds the wheel lock.
bool wheelHeldByCommand();

// True when a copy of the program answered on the guard socket within
// 100 ms. Only finds the copy: its window stays as it is.
bool isInstanceRunning();

// Asks a running copy to show its window and take the focus, passing on the
// activation token this start got from its launcher. True when a copy
// answered.
bool showRunningInstance();

// The start-up decision. `life` is held for the whole run of a copy that
// goes on; null for one that handed over, or that found no private place.
struct Start
{
    bool handedOver = false;
    std::unique_ptr<LifeLock> life;
    Start();
    Start(Start &&) noexcept;
    ~Start();
};
Start claimOrHandOver();

// Starts server listening on the guard socket. Leaves a live copy's socket
// alone and replaces one left behind by a copy that died.
void startGuardServer(QLocalServer &server);

// Reads what starting copies and probes send on the guard socket and reports
// the requests to show the window.
class GuardRequests : public QObject
{
    Q_OBJECT

public:
    GuardRequests(QLocalServer &server, QObject *parent);

signals:
    // The launcher's tokens for the start that asks (xdg-activation on
    // Wayland, the startup id on X11); empty where it gave none.
    void showRequested(const QString &activationToken, const QString &startupId);

private slots:
    void onNewConnection();

private:
    void read(QLocalSocket *socket);
    QLocalServer &server_;
};

} // namespace SingleInstance

using SingleInstance::isInstanceRunning;
