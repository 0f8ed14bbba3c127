#pragma once

// The desktop's system tray, as Qt's tray icon meets it.
namespace TrayKind {

// Whether a tray icon made now hands its notifications to the desktop's notification server,
// which reads their body as markup (and their summary as plain text). Qt takes that way once a
// process, when it makes its first tray icon, where a StatusNotifier host is registered on the
// session bus; elsewhere it draws its own balloon. This asks the session bus what Qt asks, so
// it answers for Qt's choice when asked at that same moment.
bool readsMarkup();

// Whether this process's tray icons stand in the tray. On a plain X11 tray Qt's icon is a
// window of its own that the tray takes in and shows some time after the icon is shown; until
// then its place is the corner of the screen, and a balloon would point there.
bool iconsPlaced();

} // namespace TrayKind
