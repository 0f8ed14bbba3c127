// Any bytes, as Windows-1252 and as UTF-8. The Qt-free table (Cp1252Table, Unicode) and the
// Qt one (Cp1252) agree with each other and with QString: every byte survives a round trip,
// broken UTF-8 is replaced as Qt replaces it, and names match without regard to case exactly
// when QString says they do, with the same hash.

#include "Check.h"

#include "profile/Cp1252.h"
#include "profile/IniSyntax.h"
#include "profile/Cp1252Table.h"
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
        const QChar c(Cp1252Table::decode(static_cast<unsigned char>(b)));
        CHECK_THAT(Cp1252Table::folded(static_cast<unsigned char>(b)) == c.toCaseFolded().unicode());
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool tableChecked = foldsAsQt();
    (void)tableChecked;
    const std::string_view bytes = fuzz::text(data, size);

    // As Windows-1252.
    const QString text = Cp1252::decode(bytes);
    CHECK_THAT(Cp1252::encode(text) == qb(bytes));
    const std::string utf8 = Cp1252Table::toUtf8(bytes);
    CHECK_THAT(qb(utf8) == text.toUtf8());
    CHECK_THAT(Cp1252Table::fromUtf8(utf8) == bytes);

    // As UTF-8, broken or not.
    const QString fromUtf8Text = QString::fromUtf8(qb(bytes));
    CHECK_THAT(qb(Cp1252Table::fromUtf8(bytes)) == Cp1252::encode(fromUtf8Text));
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t c = 0;
        const int n = Unicode::readUtf8(bytes, pos, c);
        if (n > 0) {
            std::string again;
            Unicode::appendUtf8(again, c);
            CHECK_THAT(again == bytes.substr(pos, size_t(n)));
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
    const bool sameName = IniSyntax::sameName(bytes, b);
    CHECK_THAT(sameName == (text.compare(Cp1252::decode(b), Qt::CaseInsensitive) == 0));
    if (sameName) {
        CHECK_THAT(IniSyntax::fingerprint(bytes) == IniSyntax::fingerprint(b));
        CHECK_THAT(IniSyntax::fingerprint(bytes, size) == IniSyntax::fingerprint(b, size));
    }
    return 0;
}
