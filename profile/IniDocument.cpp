#include "profile/IniDocument.h"

#include "profile/Cp1252.h"
#include "profile/SintaxisIni.h"

#include <algorithm>

namespace {

QByteArrayView view(std::string_view v)
{
    return QByteArrayView(v.data(), qsizetype(v.size()));
}

std::string_view view(QByteArrayView v)
{
    return std::string_view(v.data(), size_t(v.size()));
}

QByteArrayView trimmed(QByteArrayView v)
{
    return view(SintaxisIni::recortar(view(v)));
}

// The line without its line end (LF, or CR LF).
QByteArrayView content(const QByteArray &raw)
{
    return view(SintaxisIni::sinFinDeLinea(view(QByteArrayView(raw))));
}

QByteArray encodeValue(const QString &value)
{
    const QByteArray bytes = Cp1252::encode(value);
    return SintaxisIni::necesitaComillas(view(QByteArrayView(bytes))) ? '"' + bytes + '"' : bytes;
}

} // namespace

QString IniDocument::foldName(const QString &name)
{
    // Most names are short ASCII ("Total", "17"), which the code page leaves as they are.
    const bool plain = !name.isEmpty() && name.front() > QLatin1Char(' ') && name.back() > QLatin1Char(' ')
        && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (plain)
        return name.toCaseFolded();
    return Cp1252::decode(trimmed(Cp1252::encode(name))).toCaseFolded();
}

bool IniDocument::isValidName(const QString &name, bool isSection)
{
    const QByteArray bytes = Cp1252::encode(name);
    return SintaxisIni::nombreValido(view(QByteArrayView(bytes)), isSection);
}

IniDocument::IniDocument()
{
    m_sections.append(Section {}); // the lines before the first section, even when there are none
}

IniDocument IniDocument::parse(const QByteArray &bytes)
{
    IniDocument doc;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        end = end < 0 ? bytes.size() : end + 1;
        QByteArray raw = bytes.sliced(pos, end - pos);
        pos = end;

        const SintaxisIni::Linea line = SintaxisIni::analizar(view(content(raw)));
        if (line.tipo == SintaxisIni::Linea::Tipo::Seccion) {
            doc.m_sections.append(Section {});
            doc.m_sections.back().header = std::move(raw);
            const QString folded = Cp1252::decode(view(line.nombre)).toCaseFolded();
            if (!doc.m_sectionIndex.contains(folded))
                doc.m_sectionIndex.insert(folded, doc.m_sections.size() - 1);
            continue;
        }
        Section &current = doc.m_sections.back();
        if (doc.m_sections.size() > 1 && line.tipo == SintaxisIni::Linea::Tipo::Clave) {
            const QString folded = Cp1252::decode(view(line.nombre)).toCaseFolded();
            if (!current.keys.contains(folded))
                current.keys.insert(folded, current.lines.size());
            current.lastKeyLine = current.lines.size();
        }
        current.lines.append(std::move(raw));
    }
    return doc;
}

QByteArray IniDocument::toBytes() const
{
    qsizetype size = 0;
    for (const Section &s : m_sections) {
        size += s.header.size();
        for (const QByteArray &line : s.lines)
            size += line.size();
    }
    QByteArray out;
    out.reserve(size);
    for (const Section &s : m_sections) {
        out += s.header;
        for (const QByteArray &line : s.lines)
            out += line;
    }
    return out;
}

QString IniDocument::value(const QString &section, const QString &key) const
{
    const auto s = m_sectionIndex.constFind(foldName(section));
    if (s == m_sectionIndex.cend())
        return QString();
    const Section &sec = m_sections[*s];
    const auto k = sec.keys.constFind(foldName(key));
    if (k == sec.keys.cend())
        return QString();
    QString v = Cp1252::decode(view(SintaxisIni::valor(view(content(sec.lines[*k])))));
    // An empty value is present, not absent: hand back an empty, non-null text.
    if (v.isNull())
        v = QLatin1String("");
    return v;
}

void IniDocument::terminate(QByteArray &line)
{
    if (!line.isEmpty() && !line.endsWith('\n'))
        line += "\r\n";
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray keyBytes = trimmed(Cp1252::encode(key)).toByteArray();
    const QString foldedSection = foldName(section);
    auto s = m_sectionIndex.constFind(foldedSection);
    if (s == m_sectionIndex.cend()) {
        // The last line of the file may lack its line end.
        Section &last = m_sections.back();
        terminate(last.lines.isEmpty() ? last.header : last.lines.back());
        Section added;
        added.header = '[' + trimmed(Cp1252::encode(section)).toByteArray() + "]\r\n";
        m_sections.append(std::move(added));
        s = m_sectionIndex.insert(foldedSection, m_sections.size() - 1);
    }
    Section &sec = m_sections[*s];
    const QString foldedKey = foldName(key);
    const auto k = sec.keys.constFind(foldedKey);
    if (k != sec.keys.cend()) {
        // Keep the name as the file spells it.
        const QByteArrayView name = view(SintaxisIni::analizar(view(content(sec.lines[*k]))).nombre);
        sec.lines[*k] = name.toByteArray() + '=' + encodeValue(value) + "\r\n";
        return;
    }
    // After the last key line, so that blank lines and comments that close the section stay at its end.
    const qsizetype at = sec.lastKeyLine + 1;
    terminate(at == 0 ? sec.header : sec.lines[at - 1]);
    sec.lines.insert(at, keyBytes + '=' + encodeValue(value) + "\r\n");
    sec.keys.insert(foldedKey, at);
    sec.lastKeyLine = at;
}
