#pragma once

#include <QtGlobal>

class QWindow;

// Brings the top-level window of the process to the front; false when the process has none.
bool activateWindowOfProcess(qint64 pid);

// Asks the window manager, as a pager would on the user's behalf, to give this program's
// window the keyboard; a window that is not on the screen yet gets it once it is there.
// Nothing where the display is not X11.
void activateOwnWindow(QWindow *window);

// Tells an X11 desktop that the launch behind startupId (the launcher's DESKTOP_STARTUP_ID)
// has ended, so that it stops showing it as starting: a second start ends without a window of
// its own, and it is the running one that answers it. Nothing where the display is not X11.
void endLaunchFeedback(const QByteArray &startupId);

// A window once shown minimised and hidden since (in the tray) would come back minimised
// when shown again: Qt writes the start state of WM_HINTS when it minimises a window, and
// not when the window manager withdraws it, so a window manager that reads it (xfwm4) maps
// the window minimised, and the tray rule hides it at once. From this call on, every window
// of the program shown in a state other than minimised asks for a normal start. Nothing where
// the display is not X11.
void keepShowsNormal();
