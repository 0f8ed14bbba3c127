#include "runtime/posix/AppActivate.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// The display's connection where the program draws on X11; null elsewhere.
xcb_connection_t *x11Connection()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    return c && !xcb_connection_has_error(c) ? c : nullptr;
}

struct FreeReply
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The windows listed in a WINDOW[] property; false when the property is absent.
bool windowList(xcb_connection_t *c, xcb_window_t root, xcb_atom_t property, std::vector<xcb_window_t> &out)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, property, XCB_ATOM_WINDOW, 0, 1u << 16), nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32)
        return false;
    const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
    out.assign(windows, windows + xcb_get_property_value_length(reply.get()) / 4);
    return true;
}

// Without a window manager there is no client list: the mapped, ordinary children of the
// root window are the top-level windows then.
std::vector<xcb_window_t> mappedTopLevels(xcb_connection_t *c, xcb_window_t root)
{
    std::vector<xcb_window_t> result;
    const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    if (!tree)
        return result;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < count; ++i) {
        const Reply<xcb_get_window_attributes_reply_t> attrs(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr));
        if (attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE && !attrs->override_redirect)
            result.push_back(children[i]);
    }
    return result;
}

bool ownedBy(xcb_connection_t *c, xcb_window_t window, xcb_atom_t pidAtom, quint32 pid)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32
        || xcb_get_property_value_length(reply.get()) < 4)
        return false;
    return *static_cast<const quint32 *>(xcb_get_property_value(reply.get())) == pid;
}

void activate(xcb_connection_t *c, xcb_window_t root, xcb_window_t window, bool managed)
{
    // Mapping de-iconifies a minimised window (the manager sees the request).
    xcb_map_window(c, window);
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    if (managed) {
        // Source 2 ("pager"): the request comes on the user's behalf, so managers with
        // focus-stealing prevention honour it.
        xcb_client_message_event_t message {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = internAtom(c, "_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char *>(&message));
    } else {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    }
    // A round trip, so the server has acted when we report success.
    const Reply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace

bool activateWindowOfProcess(qint64 pid)
{
    if (pid <= 0 || pid > qint64(UINT32_MAX))
        return false;
    // Only X11 lets one program look up and raise another's window; elsewhere there is none to find.
    xcb_connection_t *c = x11Connection();
    if (!c)
        return false;

    const xcb_atom_t clientListAtom = internAtom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t pidAtom = internAtom(c, "_NET_WM_PID");
    if (pidAtom == XCB_ATOM_NONE)
        return false;

    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        const xcb_window_t root = it.data->root;
        std::vector<xcb_window_t> windows;
        const bool managed = clientListAtom != XCB_ATOM_NONE && windowList(c, root, clientListAtom, windows);
        if (!managed)
            windows = mappedTopLevels(c, root);
        for (const xcb_window_t window : windows) {
            if (ownedBy(c, window, pidAtom, quint32(pid))) {
                activate(c, root, window, managed);
                return true;
            }
        }
    }
    return false;
}

namespace {

void requestActivation(QWindow *window)
{
    xcb_connection_t *c = x11Connection();
    if (!c)
        return;
    const xcb_window_t id = xcb_window_t(window->winId());
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        std::vector<xcb_window_t> managedWindows;
        // Without a window manager Qt has given it the focus itself.
        if (windowList(c, it.data->root, internAtom(c, "_NET_CLIENT_LIST"), managedWindows))
            activate(c, it.data->root, id, true);
    }
}

// Waits for the window to be on the screen: until the manager has taken it in (which it
// does before it maps it), a request to activate it is ignored.
class ExposeWait final : public QObject
{
public:
    explicit ExposeWait(QWindow *window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWindow *>(watched);
        if (event->type() == QEvent::Expose && window->isExposed()) {
            requestActivation(window);
            deleteLater();
        }
        return false;
    }
};

// Before the window is mapped (the show event comes first): the start state as the window has it.
void startNormal(QWindow *window)
{
    xcb_connection_t *c = x11Connection();
    const Qt::WindowType type = window->type();
    if (!c || !window->handle() || (type != Qt::Window && type != Qt::Dialog)
        || (window->windowStates() & Qt::WindowMinimized))
        return;
    // WM_HINTS: flags, input, start state, and six fields left as they are.
    constexpr int kFields = 9;
    constexpr uint32_t kStateHint = 1u << 1;
    constexpr uint32_t kNormalState = 1;
    const auto id = xcb_window_t(window->winId());
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kFields), nullptr));
    if (!reply || reply->format != 32)
        return;
    const int count = std::min(xcb_get_property_value_length(reply.get()) / 4, kFields);
    if (count < 3)
        return;
    std::array<uint32_t, kFields> hints {};
    std::copy_n(static_cast<const uint32_t *>(xcb_get_property_value(reply.get())), count, hints.begin());
    if (!(hints[0] & kStateHint) || hints[2] == kNormalState)
        return;
    hints[2] = kNormalState;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, count, hints.data());
}

class ShowNormal final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWindowType())
            startNormal(static_cast<QWindow *>(watched));
        return false;
    }
};

} // namespace

void keepShowsNormal()
{
    // Once for each application object (a test may make several, one after the other).
    static QPointer<ShowNormal> filter;
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (filter || !app || !x11Connection())
        return;
    filter = new ShowNormal(app);
    app->installEventFilter(filter);
}

void endLaunchFeedback(const QByteArray &startupId)
{
    xcb_connection_t *c = x11Connection();
    if (!c || startupId.isEmpty())
        return;
    // The startup-notification message: "remove: ID=<id>", the id's blanks, quotes and
    // backslashes escaped, sent to the root in pieces of 20 bytes, its end marked by a 0.
    QByteArray message = "remove: ID=";
    for (const char ch : startupId) {
        if (ch == ' ' || ch == '"' || ch == '\\')
            message += '\\';
        message += ch;
    }
    message += '\0';
    const xcb_atom_t begin = internAtom(c, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = internAtom(c, "_NET_STARTUP_INFO");
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        for (qsizetype sent = 0; sent < message.size(); sent += 20) {
            xcb_client_message_event_t event {};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 8;
            event.window = it.data->root;
            event.type = sent == 0 ? begin : more;
            std::copy_n(message.constData() + sent, std::min<qsizetype>(20, message.size() - sent), event.data.data8);
            xcb_send_event(c, 0, it.data->root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char *>(&event));
        }
    }
    xcb_flush(c);
}

void activateOwnWindow(QWindow *window)
{
    if (!window || !x11Connection())
        return;
    if (window->isExposed())
        requestActivation(window);
    else if (!window->findChild<ExposeWait *>(QString(), Qt::FindDirectChildrenOnly))
        new ExposeWait(window);
}
