// A profile file and a list of edits: "bytes of the file" NUL "edit" LF "edit"..., each edit
// "section" US "key" US "value" (US is 0x1F), names and value as UTF-8.
//
// Parsed and written back unedited, the file comes out byte for byte. After the edits every
// value written reads back (from the document and from its bytes parsed again), every other key
// keeps its value, every line the edits did not touch is still there in its order, and a copy
// taken before the edits still reads as the file did.

#include "Check.h"

#include "profile/Cp1252.h"
#include "profile/IniDocument.h"
#include "profile/IniSyntax.h"

#include <QString>

#include <map>
#include <set>

using namespace IniSyntax;

namespace {

struct Names
{
    QString section;
    QString key;
};

// Section and key names as the file matches them: trimmed, in the code page, case-folded.
using Key = std::pair<QString, QString>;

Key foldedKey(const QString &section, const QString &key)
{
    auto fold = [](const QString &name) {
        const QByteArray bytes = Cp1252::encode(name);
        return Cp1252::decode(trim(std::string_view(bytes.constData(), size_t(bytes.size())))).toCaseFolded();
    };
    return { fold(section), fold(key) };
}

// One line of a file without its line end and, for a key line under a section, its names.
struct FileLine
{
    std::string_view text;
    std::optional<Names> names;
};

std::vector<FileLine> fileLines(std::string_view file)
{
    std::vector<FileLine> all;
    std::optional<QString> section;
    for (size_t pos = 0; pos < file.size();) {
        const std::string_view raw = file.substr(pos, lineLength(file.substr(pos)));
        pos += raw.size();
        const std::string_view text = withoutLineEnd(raw);
        const IniSyntax::Line l = parse(text);
        if (l.kind == IniSyntax::Line::Kind::Section)
            section = Cp1252::decode(l.name);
        if (l.kind == IniSyntax::Line::Kind::Key && section)
            all.push_back({ text, Names { *section, Cp1252::decode(l.name) } });
        else
            all.push_back({ text, std::nullopt });
    }
    return all;
}

struct Edit
{
    Names names;
    QString value;
};

std::vector<Edit> parseEdits(std::string_view edits)
{
    auto qt = [](std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); };
    std::vector<Edit> all;
    for (const std::string_view edit : fuzz::split(edits, '\n')) {
        const std::vector<std::string_view> fields = fuzz::split(edit, '\x1f');
        if (fields.size() == 3 && all.size() < 16)
            all.push_back({ { qt(fields[0]), qt(fields[1]) }, qt(fields[2]) });
    }
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input = fuzz::text(data, size);
    const size_t nul = input.find('\0');
    const std::string_view file = input.substr(0, nul);
    const QByteArray bytes(file.data(), qsizetype(file.size()));

    const IniDocument original = IniDocument::parse(bytes);
    CHECK_THAT(original.toBytes() == bytes);
    const std::vector<FileLine> before = fileLines(file);
    std::map<Key, std::pair<Names, QString>> valuesBefore;
    for (const FileLine &l : before) {
        if (l.names && valuesBefore.size() < 64) {
            const Names &n = *l.names;
            valuesBefore.try_emplace(foldedKey(n.section, n.key), n, original.value(n.section, n.key));
        }
    }

    IniDocument doc = original;
    std::map<Key, QString> written; // what each edited key must read back
    const std::vector<Edit> edits = parseEdits(nul == input.npos ? std::string_view() : input.substr(nul + 1));
    for (const Edit &e : edits) {
        if (!IniDocument::isValidName(e.names.section, true) || !IniDocument::isValidName(e.names.key, false))
            continue;
        doc.setValue(e.names.section, e.names.key, e.value);
        // What the code page keeps of the value, line breaks as blanks, is what reads back.
        QString expected = Cp1252::decode(Cp1252::encode(e.value));
        expected.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        CHECK_THAT(doc.value(e.names.section, e.names.key) == expected);
        written[foldedKey(e.names.section, e.names.key)] = expected;
    }

    const QByteArray after = doc.toBytes();
    const IniDocument reparsed = IniDocument::parse(after);
    for (const Edit &e : edits) {
        const auto found = written.find(foldedKey(e.names.section, e.names.key));
        if (found == written.end())
            continue;
        CHECK_THAT(doc.value(e.names.section, e.names.key) == found->second);
        CHECK_THAT(reparsed.value(e.names.section, e.names.key) == found->second);
    }
    // Keys the edits left alone keep their values, and the copy taken before sees none of it.
    for (const auto &[k, beforeEntry] : valuesBefore) {
        const auto &[n, valueBefore] = beforeEntry;
        CHECK_THAT(original.value(n.section, n.key) == valueBefore);
        if (written.count(k))
            continue;
        CHECK_THAT(doc.value(n.section, n.key) == valueBefore);
        CHECK_THAT(reparsed.value(n.section, n.key) == valueBefore);
    }
    // Every line but the key lines of edited keys is still there, in its order.
    const std::vector<FileLine> afterLines = fileLines(std::string_view(after.constData(), size_t(after.size())));
    size_t j = 0;
    for (const FileLine &l : before) {
        if (l.names && written.count(foldedKey(l.names->section, l.names->key)))
            continue;
        while (j < afterLines.size() && afterLines[j].text != l.text)
            ++j;
        CHECK_THAT(j < afterLines.size());
        ++j;
    }
    return 0;
}
