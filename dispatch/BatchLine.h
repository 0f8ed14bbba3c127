#pragma once

#include <QByteArray>
#include <QString>

// The one line of ejecuta.bat: "net send TARGET MESSAGE > "DIR/mensaje.txt"". The batch
// file runs under /bin/sh, so every character that sh would read as syntax is escaped:
// the recipient stays one word, the message splits into words at its blanks only, and
// the output goes nowhere but mensaje.txt. Text without such characters is left as typed.
namespace BatchLine {

// The command line for one recipient (already trimmed) and one message, without line end.
QString arm(const QString &recipient, bool group, const QString &message, const QString &rutaPrograma);

// The file's bytes: the line in the locale's encoding, ended by LF (a CR would end up in
// the output file's name under sh).
QByteArray contents(const QString &line);

// Unquoted text whose blanks still separate words but where nothing else is syntax.
QString escapeWords(const QString &text);

// Text for the inside of double quotes.
QString escapeInQuotes(const QString &text);

} // namespace BatchLine
