#pragma once

#include <QByteArray>
#include <QString>

// What the output of one `net send` says: it was delivered when the first field of its
// first line starts with "MENSAJE ENVIADO", in any case.
namespace SendResult {

// The first field of the first line: leading blanks skipped; a field that opens with a
// double quote runs to the next one (quotes dropped), any other to the first comma or
// the end of the line. A leading empty line gives an empty field: output that does not
// start with the marker was not a delivery.
QString firstField(const QByteArray &output);

// The first line as a person should read it, for the log: control characters shown as
// blanks, blanks trimmed, at most kAnswerLength characters.
QString firstLine(const QByteArray &output);
inline constexpr qsizetype kAnswerLength = 300;

// 1 when the field starts with the marker, 0 otherwise.
qint16 evaluate(const QString &field);

} // namespace SendResult
