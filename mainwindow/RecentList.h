#pragma once

#include <QString>

class IniFiles;
class RecipientsBox;

// The recently used recipients lines, kept in mru.ini in the program directory
// (section "Info": "Maximo" lines kept, "ActualMRU" lines stored so far, "Total" lines
// shown, "1", "2"... the lines, oldest first).
namespace RecentList {

// Records the text of the box as the newest line; once "Maximo" lines are stored the
// oldest drops out. One "PUFF" per write that fails.
void GuardarMRU(IniFiles &m, const RecipientsBox &box);

// Replaces the drop-down items with the stored lines 1 to "Total", blanks trimmed and
// blank lines skipped, oldest at the top. The text of the box is left as it was.
void CargarMRU(IniFiles &m, RecipientsBox &box);

QString mruPath(const IniFiles &m);

} // namespace RecentList
