// Any bytes, as Windows-1252 and as UTF-8. The Qt-free table (TablaCp1252, Unicode) and the
// Qt one (Cp1252) agree with each other and with QString: every byte survives a round trip,
// broken UTF-8 is replaced as Qt replaces it, and names match without regard to case exactly
// when QString says they do, with the same hash.

#include "Comprobar.h"

#include "profile/Cp1252.h"
#include "profile/SintaxisIni.h"
#include "profile/TablaCp1252.h"
#include "profile/Unicode.h"

#include <QString>

namespace {

QByteArray qb(std::string_view s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// The fold of every character of the code page is QChar's.
bool foldsAsQt()
{
    for (int b = 0; b < 256; ++b) {
        const QChar c(TablaCp1252::decodificar(static_cast<unsigned char>(b)));
        COMPROBAR(TablaCp1252::plegado(static_cast<unsigned char>(b)) == c.toCaseFolded().unicode());
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool tableChecked = foldsAsQt();
    (void)tableChecked;
    const std::string_view bytes = fuzz::texto(data, size);

    // As Windows-1252.
    const QString text = Cp1252::decode(bytes);
    COMPROBAR(Cp1252::encode(text) == qb(bytes));
    const std::string utf8 = TablaCp1252::aUtf8(bytes);
    COMPROBAR(qb(utf8) == text.toUtf8());
    COMPROBAR(TablaCp1252::desdeUtf8(utf8) == bytes);

    // As UTF-8, broken or not.
    const QString fromUtf8Text = QString::fromUtf8(qb(bytes));
    COMPROBAR(qb(TablaCp1252::desdeUtf8(bytes)) == Cp1252::encode(fromUtf8Text));
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t c = 0;
        const int n = Unicode::leerUtf8(bytes, pos, c);
        if (n > 0) {
            std::string again;
            Unicode::anadirUtf8(again, c);
            COMPROBAR(again == bytes.substr(pos, size_t(n)));
        }
        pos += n > 0 ? size_t(n) : 1;
    }

    // The same name with some letters in another case, as Qt changes them; one bit of each
    // byte says which way.
    QString otherCase = text;
    for (qsizetype i = 0; i < otherCase.size(); ++i)
        otherCase[i]
            = (static_cast<unsigned char>(bytes[size_t(i)]) & 1) ? otherCase[i].toUpper() : otherCase[i].toLower();
    const QByteArray otherCaseBytes = Cp1252::encode(otherCase);
    const std::string_view b(otherCaseBytes.constData(), size_t(otherCaseBytes.size()));
    const bool sameName = SintaxisIni::mismoNombre(bytes, b);
    COMPROBAR(sameName == (text.compare(Cp1252::decode(b), Qt::CaseInsensitive) == 0));
    if (sameName) {
        COMPROBAR(SintaxisIni::huella(bytes) == SintaxisIni::huella(b));
        COMPROBAR(SintaxisIni::huella(bytes, size) == SintaxisIni::huella(b, size));
    }
    return 0;
}
