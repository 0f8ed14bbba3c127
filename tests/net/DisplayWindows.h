#pragma once

#include <QString>
#include <QStringList>

namespace DisplayWindows {

// The ids (decimal, as xdotool prints them) that `xdotool search` with these arguments finds
// on display (the inherited DISPLAY when empty). When a window goes away while xdotool walks
// the tree, it dies of an X error having found nothing, as if nothing matched: it is then
// asked again, up to ten times.
QStringList search(const QStringList &arguments, const QString &display = QString());

} // namespace DisplayWindows
