#include "app/window_activation.h"

#include <QByteArray>
#include <QDebug>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace WindowActivation {

namespace {

template<typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A window manager announces itself with this property on the root window.
bool windowManagerRuns(xcb_connection_t *connection, xcb_window_t root)
{
    const xcb_atom_t check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr),
        &std::free);
    return reply && xcb_get_property_value_length(reply.get()) > 0;
}

// The launcher's feedback (a busy cursor, a spinning icon) ends when a
// window of the started program reports the startup id as done. The start
// that handed over showed none, so the window it handed over to does it.
void reportStartupDone(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window,
                       const QByteArray &startupId)
{
    QByteArray quoted = startupId;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    const QByteArray message = "remove: ID=\"" + quoted + '"' + '\0';
    const xcb_atom_t begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    constexpr int chunk = 20;
    for (qsizetype offset = 0; offset < message.size(); offset += chunk) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = window;
        event.type = offset == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + offset,
                    size_t(qMin<qsizetype>(chunk, message.size() - offset)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char *>(&event));
    }
}

// X11: the focus request carries the time of the user's click, taken from
// the startup id ("..._TIME<ms>"); with the program's own last event time
// the X server or the window manager would refuse it as stale.
void activateOnX11(QWidget *window, const QByteArray &startupId)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !window->windowHandle())
        return;
    xcb_connection_t *connection = x11->connection();
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;

    static const QRegularExpression timePart(QStringLiteral("_TIME([0-9]+)$"));
    const QRegularExpressionMatch time = timePart.match(QString::fromLatin1(startupId));
    if (time.hasMatch()) {
        const xcb_timestamp_t stamp = xcb_timestamp_t(time.captured(1).toULongLong());
        if (windowManagerRuns(connection, root)) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = id;
            event.type = atom(connection, "_NET_ACTIVE_WINDOW");
            event.data.data32[0] = 1; // on behalf of an application
            event.data.data32[1] = stamp;
            xcb_send_event(connection, 0, root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                           reinterpret_cast<const char *>(&event));
        } else {
            xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, id, stamp);
        }
    }
    reportStartupDone(connection, root, id, startupId);
    xcb_flush(connection);
    qDebug() << "window activation: start" << startupId << "reported done";
}

} // namespace

void activateForStart(QWidget *window, const QString &activationToken, const QString &startupId)
{
    const QString platform = QGuiApplication::platformName();
    // The Wayland plugin hands the token from the environment to the
    // compositor when the window asks for the focus.
    if (!activationToken.isEmpty() && platform == QLatin1String("wayland"))
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toLatin1());
    window->activateWindow();
    if (!startupId.isEmpty() && platform == QLatin1String("xcb"))
        activateOnX11(window, startupId.toLatin1());
}

} // namespace WindowActivation
