#include "profile/IniFiles.h"

#include "runtime/DataFileQt.h"
#include "runtime/Runtime.h"

IniFiles::IniFiles(Runtime &rt, const QString &rutaPrograma)
    : m_rt(rt)
    , m_rutaPrograma(rutaPrograma)
{ }

QString IniFiles::LeerIni(const QString &file, const QString &section, const QString &key, const QString &def)
{
    const QString value = m_profiles.read(file, section, key);
    return value.isEmpty() ? def : value.left(kValueLength);
}

QStringList IniFiles::readEntries(const QString &file, const QString &section, int count)
{
    QStringList values = m_profiles.readNumbered(file, section, count);
    for (QString &v : values) {
        if (v.isEmpty())
            v = QString();
        else if (v.size() > kValueLength)
            v.truncate(kValueLength);
    }
    return values;
}

void IniFiles::EscribirIni(const QString &file, const QString &section, const QString &key, const QString &value)
{
    if (!m_profiles.write(file, section, key, value))
        m_rt.msgBox(QStringLiteral("PUFF"), Runtime::Icon::None);
}

bool IniFiles::ExisteArchivo(const QString &path)
{
    return DataFileQt::fileExists(path);
}

void IniFiles::beginBatch(const QString &file)
{
    m_profiles.beginBatch(file);
}

void IniFiles::endBatch()
{
    // Writes that looked fine but never reached the disk fail now, one box each.
    for (int lost = m_profiles.endBatch(); lost > 0; --lost)
        m_rt.msgBox(QStringLiteral("PUFF"), Runtime::Icon::None);
}

qint16 IniFiles::readCount(const QString &text)
{
    // A hand-edited count may be anything. Reading it as Val does (leading whole number,
    // "3.7" -> 3, "abc" -> 0) and clamping it to the range of a list keeps a bad value from
    // overflowing the count or asking for billions of entries: "-5" -> 0, "2000000000" -> 32767.
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > kMaxEntries)
            value = kMaxEntries + 1; // keeps reading the digits without overflow
    }
    if (negative)
        return 0;
    return qint16(qMin<qint64>(value, kMaxEntries));
}
