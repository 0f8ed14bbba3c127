#pragma once

// Which display server the program draws on. X11 lets the "Mensaje recibido" pop-up stand
// above the focused window without taking the keyboard (the "above" state and a mapping
// without focus); Wayland gives an ordinary window no way to do either. So where a Wayland
// session also runs an X server (GNOME and KDE start Xwayland and say so in DISPLAY), the
// program draws on that X server, unless the user chose a platform (QT_QPA_PLATFORM or
// -platform). Native Wayland only where no X server is.
class DisplayChoice final
{
public:
    // Before QApplication is made: asks Qt for xcb where that is the choice (Wayland after it,
    // should the X server refuse the connection).
    DisplayChoice(int argc, char **argv);
    // Once QApplication is made: the programs it starts (net, the help viewer, a browser)
    // see the environment the user gave.
    void restore();

private:
    bool m_chosen = false;
};
