#pragma once

#include <QString>

class QWidget;

// Brings the window to the front with the focus on behalf of a second start
// of the program. Desktops refuse the focus to a program that merely asks
// for it (it could be stealing it); what they grant it for is the token
// their launcher gave the start the user made, which the second start passes
// on: an xdg-activation token on Wayland, a startup id on X11, whose time
// stamp is the moment of the user's click. Empty ones: the platform decides.
namespace WindowActivation {

void activateForStart(QWidget *window, const QString &activationToken, const QString &startupId);

} // namespace WindowActivation
