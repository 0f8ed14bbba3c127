#pragma once

#include <QFont>

// The look that every window of the program shares: one typeface at one size, inherited
// from the application, frames that no scale factor loses, and Qt's own texts (standard
// buttons, edit menus) in Spanish. Windows set no font or style of their own, so a window
// added later gets all of it without code.
namespace Appearance {

// The size of the program's text, in pixels: the windows are laid out in pixels, so
// their text must not grow with the screen's dots per inch and spill out of its place.
inline constexpr int kPixels = 11;

// Installs Qt's Spanish translation, the desktop's style with sharp frames and the
// program's typeface for the whole application. Called once, after the QApplication exists.
void apply();

// The program's typeface at a size of its own, for the few texts the layout draws
// larger or bold.
QFont font(int pixels = kPixels, bool bold = false);

} // namespace Appearance
