#include "profile/IniDocument.h"

#include "profile/Cp1252.h"
#include "profile/SintaxisIni.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

constexpr quint32 kVacia = 0xFFFFFFFF;
// Lookups of keys answered by walking their section before the document builds its key table.
constexpr int kLookupsWithoutTable = 8;

std::string_view view(QByteArrayView v)
{
    return std::string_view(v.data(), size_t(v.size()));
}

QByteArray bytesOf(std::string_view v)
{
    return QByteArray(v.data(), qsizetype(v.size()));
}

// The name as it is looked up: in the code page, blanks around it removed.
QByteArray lookupName(const QString &name)
{
    return bytesOf(SintaxisIni::recortar(view(Cp1252::encode(name))));
}

// A line break in a value is written as a blank, as ProfileFiles does: written as it is, it
// would end the value there for every reader and plant the rest as lines of its own.
QByteArray encodeValue(const QString &value)
{
    QByteArray bytes = Cp1252::encode(value);
    bytes.replace('\r', ' ').replace('\n', ' ');
    return SintaxisIni::necesitaComillas(view(bytes)) ? '"' + bytes + '"' : bytes;
}

QString decodeValue(std::string_view line)
{
    QString v = Cp1252::decode(QByteArrayView(SintaxisIni::valor(SintaxisIni::sinFinDeLinea(line))));
    // An empty value is present, not absent: hand back an empty, non-null text.
    if (v.isNull())
        v = QLatin1String("");
    return v;
}

// Gives a last line without its line end one, so that a line can follow it. In a file of
// CR LF lines a last lone CR is completed to CR LF.
void terminate(QByteArray &out, QByteArrayView lineEnd)
{
    if (out.isEmpty() || out.endsWith('\n') || (out.endsWith('\r') && lineEnd == "\r"))
        return;
    out += out.endsWith('\r') ? QByteArrayView("\n") : lineEnd;
}

// The line end of the lines a save writes: a CR alone where every line of the file ends that
// way (no LF anywhere, so that no line written can merge with a LF after it), CR LF otherwise.
QByteArray lineEndOf(std::string_view all)
{
    return all.find('\r') != all.npos && all.find('\n') == all.npos ? "\r" : "\r\n";
}

// Open addressing, half full at most: the smallest power of two that holds twice n.
std::vector<quint32> emptyTable(size_t n)
{
    if (n == 0)
        return {};
    size_t size = 8;
    while (size < 2 * n)
        size *= 2;
    return std::vector<quint32>(size, kVacia);
}

} // namespace

struct IniDocument::Base
{
    QByteArray bytes;
    std::vector<quint32> sections; // where each section header line starts, in file order
    std::vector<quint32> sectionTable; // section numbers, the first of each name only
    // Where key lines start, the first of each name in the first section of its name. Built at
    // the first change or after a few lookups: a document that is only asked for a count or two
    // and walked for its lists (a load) does without; until then a lookup walks its section.
    mutable std::vector<quint32> keyTable;
    mutable bool keysBuilt = false;
    mutable int lookups = 0;
    QByteArray lineEnd = "\r\n"; // of the lines written into it

    std::string_view all() const { return view(bytes); }

    // The line that starts there, with its line end.
    std::string_view lineAt(quint32 start) const
    {
        const std::string_view rest = all().substr(start);
        return rest.substr(0, SintaxisIni::largoLinea(rest));
    }

    std::string_view nameAt(quint32 start) const
    {
        return SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(lineAt(start))).nombre;
    }

    quint32 sectionOf(quint32 start) const
    {
        return quint32(std::upper_bound(sections.begin(), sections.end(), start) - sections.begin()) - 1;
    }

    quint32 sectionEnd(quint32 section) const
    {
        return section + 1 < sections.size() ? sections[section + 1] : quint32(bytes.size());
    }

    // Stops at the first slot that is empty or whose entry matches.
    template <typename Coincide> size_t probe(const std::vector<quint32> &table, size_t hash, Coincide coincide) const
    {
        const size_t mask = table.size() - 1;
        size_t slot = hash & mask;
        while (table[slot] != kVacia && !coincide(table[slot]))
            slot = (slot + 1) & mask;
        return slot;
    }

    quint32 findSection(std::string_view name) const
    {
        if (sectionTable.empty())
            return kVacia;
        return sectionTable[probe(sectionTable, SintaxisIni::huella(name),
            [&](quint32 s) { return SintaxisIni::mismoNombre(nameAt(sections[s]), name); })];
    }

    quint32 findKey(quint32 section, std::string_view name) const
    {
        if (!keysBuilt && ++lookups > kLookupsWithoutTable)
            buildKeys();
        if (!keysBuilt) {
            const quint32 end = sectionEnd(section);
            for (quint32 pos = sections[section] + quint32(lineAt(sections[section]).size()); pos < end;) {
                const std::string_view line = lineAt(pos);
                const SintaxisIni::Linea l = SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line));
                if (l.tipo == SintaxisIni::Linea::Tipo::Clave && SintaxisIni::mismoNombre(l.nombre, name))
                    return pos;
                pos += quint32(line.size());
            }
            return kVacia;
        }
        if (keyTable.empty())
            return kVacia;
        return keyTable[probe(keyTable, SintaxisIni::huella(name, section),
            [&](quint32 line) { return sectionOf(line) == section && SintaxisIni::mismoNombre(nameAt(line), name); })];
    }

    void buildKeys() const
    {
        // Only the first section of each name counts: a later one is hidden whole.
        std::vector<quint32> keyLines;
        for (quint32 s = 0; s < sections.size(); ++s) {
            if (findSection(nameAt(sections[s])) != s)
                continue;
            const quint32 end = sectionEnd(s);
            for (quint32 pos = sections[s] + quint32(lineAt(sections[s]).size()); pos < end;) {
                const std::string_view line = lineAt(pos);
                if (SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line)).tipo == SintaxisIni::Linea::Tipo::Clave)
                    keyLines.push_back(pos);
                pos += quint32(line.size());
            }
        }
        keyTable = emptyTable(keyLines.size());
        quint32 s = 0;
        for (const quint32 line : keyLines) {
            while (s + 1 < sections.size() && sections[s + 1] < line)
                ++s;
            const std::string_view name = nameAt(line);
            // Keys come in file order, so an earlier key of this section starts after its header.
            const size_t slot = probe(keyTable, SintaxisIni::huella(name, s),
                [&](quint32 other) { return other > sections[s] && SintaxisIni::mismoNombre(nameAt(other), name); });
            if (keyTable[slot] == kVacia)
                keyTable[slot] = line;
        }
        keysBuilt = true;
    }

    // Where lines added to a section go: after its last key line, so that blank lines and
    // comments that close the section stay at its end; right after the header when it has none.
    quint32 insertionPoint(quint32 section) const
    {
        quint32 pos = sections[section];
        quint32 point = pos + quint32(lineAt(pos).size());
        const quint32 end = sectionEnd(section);
        for (pos = point; pos < end;) {
            const std::string_view line = lineAt(pos);
            pos += quint32(line.size());
            if (SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line)).tipo == SintaxisIni::Linea::Tipo::Clave)
                point = pos;
        }
        return point;
    }
};

bool IniDocument::Nombre::operator==(const Nombre &other) const
{
    return SintaxisIni::mismoNombre(view(bytes), view(other.bytes));
}

size_t qHash(const IniDocument::Nombre &nombre, size_t semilla)
{
    return SintaxisIni::huella(view(nombre.bytes), semilla);
}

bool IniDocument::isValidName(const QString &name, bool isSection)
{
    return SintaxisIni::nombreValido(view(Cp1252::encode(name)), isSection);
}

IniDocument::IniDocument()
    : m_base(std::make_shared<const Base>())
{ }

IniDocument IniDocument::parse(const QByteArray &bytes)
{
    auto base = std::make_shared<Base>();
    base->bytes = bytes;
    const std::string_view all = base->all();
    base->lineEnd = lineEndOf(all);

    for (size_t pos = 0; pos < all.size();) {
        const std::string_view line = base->lineAt(quint32(pos));
        // Only a line whose first character other than a blank is "[" can be a header.
        const size_t first = line.find_first_not_of(" \t");
        if (first != line.npos && line[first] == '['
            && SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line)).tipo == SintaxisIni::Linea::Tipo::Seccion)
            base->sections.push_back(quint32(pos));
        pos += line.size();
    }

    // A later section of the same name is hidden whole, and so are its keys.
    base->sectionTable = emptyTable(base->sections.size());
    for (quint32 s = 0; s < base->sections.size(); ++s) {
        const std::string_view name = base->nameAt(base->sections[s]);
        const size_t slot = base->probe(base->sectionTable, SintaxisIni::huella(name),
            [&](quint32 other) { return SintaxisIni::mismoNombre(base->nameAt(base->sections[other]), name); });
        if (base->sectionTable[slot] == kVacia)
            base->sectionTable[slot] = s;
    }

    base->sections.shrink_to_fit();
    IniDocument doc;
    doc.m_base = std::move(base);
    return doc;
}

quint32 IniDocument::findSection(const QByteArray &name) const
{
    const quint32 s = m_base->findSection(view(name));
    return s != kVacia ? s : m_newSections.value(Nombre { name }, kVacia);
}

QByteArray IniDocument::toBytes() const
{
    if (m_replaced.isEmpty() && m_added.isEmpty())
        return m_base->bytes;

    // Changes inside the parsed file, in file order: lines added to a section go before a
    // replaced line that starts at the same place.
    struct Cambio
    {
        quint32 at;
        bool replaces;
        quint32 what; // the section, or the start of the replaced line
        bool operator<(const Cambio &o) const { return at != o.at ? at < o.at : replaces < o.replaces; }
    };
    const quint32 parsedSections = quint32(m_base->sections.size());
    std::vector<Cambio> changes;
    changes.reserve(size_t(m_replaced.size() + m_added.size()));
    for (auto a = m_added.cbegin(); a != m_added.cend() && a.key() < parsedSections; ++a)
        changes.push_back({ m_base->insertionPoint(a.key()), false, a.key() });
    for (auto r = m_replaced.cbegin(); r != m_replaced.cend(); ++r)
        changes.push_back({ r.key(), true, r.key() });
    std::sort(changes.begin(), changes.end());

    const std::string_view all = m_base->all();
    QByteArray out;
    out.reserve(m_base->bytes.size() + 64 * qsizetype(changes.size()));
    quint32 copied = 0;
    for (const Cambio &c : changes) {
        out += QByteArrayView(all.substr(copied, c.at - copied));
        copied = c.at;
        if (c.replaces) {
            out += m_replaced.value(c.what);
            copied += quint32(m_base->lineAt(c.what).size());
        } else {
            terminate(out, m_base->lineEnd);
            for (const QByteArray &line : m_added.constFind(c.what)->lines)
                out += line;
        }
    }
    out += QByteArrayView(all.substr(copied));
    for (auto a = m_added.lowerBound(parsedSections); a != m_added.cend(); ++a) {
        terminate(out, m_base->lineEnd);
        out += a->header;
        for (const QByteArray &line : a->lines)
            out += line;
    }
    return out;
}

QString IniDocument::value(const QString &section, const QString &key) const
{
    const quint32 s = findSection(lookupName(section));
    if (s == kVacia)
        return QString();
    const QByteArray name = lookupName(key);
    if (s < m_base->sections.size()) {
        const quint32 line = m_base->findKey(s, view(name));
        if (line != kVacia) {
            const auto replaced = m_replaced.constFind(line);
            return decodeValue(replaced != m_replaced.cend() ? view(*replaced) : m_base->lineAt(line));
        }
    }
    const auto added = m_added.constFind(s);
    if (added == m_added.cend())
        return QString();
    const auto k = added->keys.constFind(Nombre { name });
    return k == added->keys.cend() ? QString() : decodeValue(view(added->lines[*k]));
}

QStringList IniDocument::numberedValues(const QString &section, int count) const
{
    QStringList values(qMax(count, 0));
    const quint32 s = findSection(lookupName(section));
    if (s == kVacia || values.isEmpty())
        return values;
    // The key of position n is n in decimal, so a name is one exactly when it is digits without
    // a leading zero (no other byte folds to a digit). The first key of a name wins.
    auto put = [&values](std::string_view name, std::string_view line) {
        if (name.empty() || name.size() > 10 || name.front() == '0')
            return;
        qint64 n = 0;
        for (const char c : name) {
            if (c < '0' || c > '9')
                return;
            n = n * 10 + (c - '0');
        }
        if (n <= values.size() && values[n - 1].isNull())
            values[n - 1] = decodeValue(line);
    };
    if (s < m_base->sections.size()) {
        const quint32 end = m_base->sectionEnd(s);
        for (quint32 pos = m_base->sections[s] + quint32(m_base->lineAt(m_base->sections[s]).size()); pos < end;) {
            const std::string_view line = m_base->lineAt(pos);
            const SintaxisIni::Linea l = SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line));
            if (l.tipo == SintaxisIni::Linea::Tipo::Clave) {
                const auto replaced = m_replaced.constFind(pos);
                put(l.nombre, replaced != m_replaced.cend() ? view(*replaced) : line);
            }
            pos += quint32(line.size());
        }
    }
    const auto added = m_added.constFind(s);
    if (added != m_added.cend()) {
        for (const QByteArray &line : added->lines)
            put(SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(view(line))).nombre, view(line));
    }
    return values;
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sectionName = lookupName(section);
    quint32 s = findSection(sectionName);
    if (s == kVacia) {
        s = quint32(m_base->sections.size() + size_t(m_newSections.size()));
        m_newSections.insert(Nombre { sectionName }, s);
        m_added[s].header = '[' + sectionName + ']' + m_base->lineEnd;
    }
    const QByteArray name = lookupName(key);
    const QByteArray rest = '=' + encodeValue(value) + m_base->lineEnd;
    if (!m_base->keysBuilt)
        m_base->buildKeys(); // a change is seldom alone
    if (s < m_base->sections.size()) {
        const quint32 line = m_base->findKey(s, view(name));
        if (line != kVacia) {
            // Keep the name as the file spells it.
            m_replaced.insert(line, bytesOf(m_base->nameAt(line)) + rest);
            return;
        }
    }
    Anadidas &added = m_added[s];
    const auto k = added.keys.constFind(Nombre { name });
    if (k != added.keys.cend()) {
        QByteArray &line = added.lines[*k];
        line = bytesOf(SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(view(line))).nombre) + rest;
        return;
    }
    added.keys.insert(Nombre { name }, added.lines.size());
    added.lines.append(name + rest);
}
