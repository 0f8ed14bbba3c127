#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// Text helpers of the runtime. A "blank" is the space character only: tabs and other
// white space are part of a name.
namespace Text {

// The text without leading and trailing blanks.
QString trimBlanks(const QString &text);

// First letter of every word in upper case, every other letter in lower case. A word
// starts after any character that is neither a letter nor a digit (blank, hyphen,
// apostrophe, dot, underscore...), so "josé-maría o'neill" becomes "José-María O'Neill".
QString properCase(const QString &text);

// The time of day in the locale's long time format, without a time-zone name ("14:05:33").
QString timeOfDay(const QTime &time, const QLocale &locale = QLocale());

// The text as widgets that guess whether a text is markup (tooltips, tray balloons) show it
// as written: text that looks like markup is handed over escaped, anything else unchanged.
QString literal(const QString &text);

// The program directory rule: the directory with exactly one trailing "/" (the root stays "/").
QString withTrailingSeparator(const QString &dir);

} // namespace Text
