#include "addressbook/IniDocument.h"

#include "addressbook/Cp1252.h"

#include <algorithm>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

// The line without its line end (LF, or CR LF).
QByteArrayView content(const QByteArray &raw)
{
    QByteArrayView v(raw);
    if (v.endsWith('\n'))
        v.chop(1);
    if (v.endsWith('\r'))
        v.chop(1);
    return v;
}

// The part of a key line after "=", as it is handed back.
QByteArrayView valuePart(QByteArrayView line)
{
    QByteArrayView v = trimmed(line.sliced(line.indexOf('=') + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.sliced(1, v.size() - 2);
    return v;
}

QByteArray encodeValue(const QString &value)
{
    const QByteArray bytes = Cp1252::encode(value);
    // Blanks at either end, or a value in quotes, would be lost on reading: quotes keep them.
    const bool needsQuotes = !bytes.isEmpty()
        && (isBlank(bytes.front()) || isBlank(bytes.back())
            || (bytes.size() >= 2 && bytes.front() == '"' && bytes.back() == '"'));
    return needsQuotes ? '"' + bytes + '"' : bytes;
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
    const QByteArrayView v = trimmed(bytes);
    if (v.isEmpty() || v.contains('\n') || v.contains('\r') || v.contains('\0'))
        return false;
    if (isSection)
        return !v.contains(']');
    return !v.contains('=') && v.front() != '[' && v.front() != ';';
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

        const QByteArrayView line = trimmed(content(raw));
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArrayView name = trimmed(line.sliced(1, (close < 0 ? line.size() : close) - 1));
            doc.m_sections.append(Section {});
            doc.m_sections.back().header = std::move(raw);
            const QString folded = Cp1252::decode(name).toCaseFolded();
            if (!doc.m_sectionIndex.contains(folded))
                doc.m_sectionIndex.insert(folded, doc.m_sections.size() - 1);
            continue;
        }
        Section &current = doc.m_sections.back();
        const qsizetype eq = line.indexOf('=');
        if (doc.m_sections.size() > 1 && !line.startsWith(';') && eq > 0) {
            const QByteArrayView key = trimmed(line.first(eq));
            const QString folded = Cp1252::decode(key).toCaseFolded();
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
    QString v = Cp1252::decode(valuePart(trimmed(content(sec.lines[*k]))));
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
        const QByteArrayView line = trimmed(content(sec.lines[*k]));
        sec.lines[*k] = trimmed(line.first(line.indexOf('='))).toByteArray() + '=' + encodeValue(value) + "\r\n";
        return;
    }
    // After the last key line, so that blank lines and comments that close the section stay at its end.
    const qsizetype at = sec.lastKeyLine + 1;
    terminate(at == 0 ? sec.header : sec.lines[at - 1]);
    sec.lines.insert(at, keyBytes + '=' + encodeValue(value) + "\r\n");
    sec.keys.insert(foldedKey, at);
    sec.lastKeyLine = at;
}
