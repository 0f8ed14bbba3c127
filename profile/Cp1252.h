#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the ANSI code page of the Spanish Windows systems the profile files are
// shared with. Qt has no codec for it, so the table lives here.
namespace Cp1252 {

// Every character outside the code page becomes "?", as the ANSI API does (a character
// beyond the BMP, a surrogate pair, becomes a single "?").
QByteArray encode(QStringView text);

// Never fails: the five bytes the code page leaves undefined come back as the control
// characters of the same value, so that they survive a round trip.
QString decode(QByteArrayView bytes);

} // namespace Cp1252
