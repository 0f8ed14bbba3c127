#include "profile/IniDocument.h"

#include "profile/Cp1252.h"
#include "profile/IniSyntax.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

constexpr quint32 kEmpty = 0xFFFFFFFF;
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
    return bytesOf(IniSyntax::trim(view(Cp1252::encode(name))));
}

// A line break in a value is written as a blank, as ProfileFiles does: written as it is, it
// would end the value there for every reader and plant the rest as lines of its own.
QByteArray encodeValue(const QString &value)
{
    QByteArray bytes = Cp1252::encode(value);
    bytes.replace('\r', ' ').replace('\n', ' ');
    return IniSyntax::needsQuotes(view(bytes)) ? '"' + bytes + '"' : bytes;
}

QString decodeValue(std::string_view line)
{
    QString v = Cp1252::decode(QByteArrayView(IniSyntax::value(IniSyntax::withoutLineEnd(line))));
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
    return std::vector<quint32>(size, kEmpty);
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
        return rest.substr(0, IniSyntax::lineLength(rest));
    }

    std::string_view nameAt(quint32 start) const
    {
        return IniSyntax::parse(IniSyntax::withoutLineEnd(lineAt(start))).name;
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
        while (table[slot] != kEmpty && !coincide(table[slot]))
            slot = (slot + 1) & mask;
        return slot;
    }

    quint32 findSection(std::string_view name) const
    {
        if (sectionTable.empty())
            return kEmpty;
        return sectionTable[probe(sectionTable, IniSyntax::fingerprint(name),
            [&](quint32 s) { return IniSyntax::sameName(nameAt(sections[s]), name); })];
    }

    quint32 findKey(quint32 section, std::string_view name) const
    {
        if (!keysBuilt && ++lookups > kLookupsWithoutTable)
            buildKeys();
        if (!keysBuilt) {
            const quint32 end = sectionEnd(section);
            for (quint32 pos = sections[section] + quint32(lineAt(sections[section]).size()); pos < end;) {
                const std::string_view line = lineAt(pos);
                const IniSyntax::Line l = IniSyntax::parse(IniSyntax::withoutLineEnd(line));
                if (l.kind == IniSyntax::Line::Kind::Key && IniSyntax::sameName(l.name, name))
                    return pos;
                pos += quint32(line.size());
            }
            return kEmpty;
        }
        if (keyTable.empty())
            return kEmpty;
        return keyTable[probe(keyTable, IniSyntax::fingerprint(name, section),
            [&](quint32 line) { return sectionOf(line) == section && IniSyntax::sameName(nameAt(line), name); })];
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
                if (IniSyntax::parse(IniSyntax::withoutLineEnd(line)).kind == IniSyntax::Line::Kind::Key)
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
            const size_t slot = probe(keyTable, IniSyntax::fingerprint(name, s),
                [&](quint32 other) { return other > sections[s] && IniSyntax::sameName(nameAt(other), name); });
            if (keyTable[slot] == kEmpty)
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
            if (IniSyntax::parse(IniSyntax::withoutLineEnd(line)).kind == IniSyntax::Line::Kind::Key)
                point = pos;
        }
        return point;
    }
};

bool IniDocument::Name::operator==(const Name &other) const
{
    return IniSyntax::sameName(view(bytes), view(other.bytes));
}

size_t qHash(const IniDocument::Name &name, size_t salt)
{
    return IniSyntax::fingerprint(view(name.bytes), salt);
}

bool IniDocument::isValidName(const QString &name, bool isSection)
{
    return IniSyntax::validName(view(Cp1252::encode(name)), isSection);
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
            && IniSyntax::parse(IniSyntax::withoutLineEnd(line)).kind == IniSyntax::Line::Kind::Section)
            base->sections.push_back(quint32(pos));
        pos += line.size();
    }

    // A later section of the same name is hidden whole, and so are its keys.
    base->sectionTable = emptyTable(base->sections.size());
    for (quint32 s = 0; s < base->sections.size(); ++s) {
        const std::string_view name = base->nameAt(base->sections[s]);
        const size_t slot = base->probe(base->sectionTable, IniSyntax::fingerprint(name),
            [&](quint32 other) { return IniSyntax::sameName(base->nameAt(base->sections[other]), name); });
        if (base->sectionTable[slot] == kEmpty)
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
    return s != kEmpty ? s : m_newSections.value(Name { name }, kEmpty);
}

QByteArray IniDocument::toBytes() const
{
    if (m_replaced.isEmpty() && m_added.isEmpty())
        return m_base->bytes;

    // Changes inside the parsed file, in file order: lines added to a section go before a
    // replaced line that starts at the same place.
    struct Change
    {
        quint32 at;
        bool replaces;
        quint32 what; // the section, or the start of the replaced line
        bool operator<(const Change &o) const { return at != o.at ? at < o.at : replaces < o.replaces; }
    };
    const quint32 parsedSections = quint32(m_base->sections.size());
    std::vector<Change> changes;
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
    for (const Change &c : changes) {
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
    if (s == kEmpty)
        return QString();
    const QByteArray name = lookupName(key);
    if (s < m_base->sections.size()) {
        const quint32 line = m_base->findKey(s, view(name));
        if (line != kEmpty) {
            const auto replaced = m_replaced.constFind(line);
            return decodeValue(replaced != m_replaced.cend() ? view(*replaced) : m_base->lineAt(line));
        }
    }
    const auto added = m_added.constFind(s);
    if (added == m_added.cend())
        return QString();
    const auto k = added->keys.constFind(Name { name });
    return k == added->keys.cend() ? QString() : decodeValue(view(added->lines[*k]));
}

QStringList IniDocument::numberedValues(const QString &section, int count) const
{
    QStringList values(qMax(count, 0));
    const quint32 s = findSection(lookupName(section));
    if (s == kEmpty || values.isEmpty())
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
            const IniSyntax::Line l = IniSyntax::parse(IniSyntax::withoutLineEnd(line));
            if (l.kind == IniSyntax::Line::Kind::Key) {
                const auto replaced = m_replaced.constFind(pos);
                put(l.name, replaced != m_replaced.cend() ? view(*replaced) : line);
            }
            pos += quint32(line.size());
        }
    }
    const auto added = m_added.constFind(s);
    if (added != m_added.cend()) {
        for (const QByteArray &line : added->lines)
            put(IniSyntax::parse(IniSyntax::withoutLineEnd(view(line))).name, view(line));
    }
    return values;
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sectionName = lookupName(section);
    quint32 s = findSection(sectionName);
    if (s == kEmpty) {
        s = quint32(m_base->sections.size() + size_t(m_newSections.size()));
        m_newSections.insert(Name { sectionName }, s);
        m_added[s].header = '[' + sectionName + ']' + m_base->lineEnd;
    }
    const QByteArray name = lookupName(key);
    const QByteArray rest = '=' + encodeValue(value) + m_base->lineEnd;
    if (!m_base->keysBuilt)
        m_base->buildKeys(); // a change is seldom alone
    if (s < m_base->sections.size()) {
        const quint32 line = m_base->findKey(s, view(name));
        if (line != kEmpty) {
            // Keep the name as the file spells it.
            m_replaced.insert(line, bytesOf(m_base->nameAt(line)) + rest);
            return;
        }
    }
    Added &added = m_added[s];
    const auto k = added.keys.constFind(Name { name });
    if (k != added.keys.cend()) {
        QByteArray &line = added.lines[*k];
        line = bytesOf(IniSyntax::parse(IniSyntax::withoutLineEnd(view(line))).name) + rest;
        return;
    }
    added.keys.insert(Name { name }, added.lines.size());
    added.lines.append(name + rest);
}
