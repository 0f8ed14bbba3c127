// Any bytes as a profile file. net's reader (IniReader) and the program's IniDocument must find
// the same value for every key, whatever the case the name is asked in; and every name and value
// that the syntax lets the program write is read back as itself.

#include "Check.h"

#include "profile/Cp1252.h"
#include "profile/IniDocument.h"
#include "profile/IniReader.h"
#include "profile/IniSyntax.h"
#include "profile/Cp1252Table.h"

#include <QString>

using namespace IniSyntax;

namespace {

// Both readers asked for one name, in the code page.
void sameAnswer(const IniReader &reader, const IniDocument &doc, std::string_view section, std::string_view key)
{
    const std::optional<std::string> fromNet = reader.read(Cp1252Table::toUtf8(section), Cp1252Table::toUtf8(key));
    const QString fromProgram = doc.value(Cp1252::decode(section), Cp1252::decode(key));
    CHECK_THAT(fromNet.has_value() == !fromProgram.isNull());
    if (fromNet)
        CHECK_THAT(*fromNet == fromProgram.toStdString());
}

// The name with the case of its letters changed as Qt changes it, in the code page again.
std::string otherCase(std::string_view name, bool upper)
{
    const QString text = Cp1252::decode(name);
    const QByteArray changed = Cp1252::encode(upper ? text.toUpper() : text.toLower());
    return changed.toStdString();
}

// What the syntax writes, read back: a key line, a section header, a value (quoted where needed).
void writtenReadsBack(std::string_view candidate)
{
    const std::string_view trimmed = trim(candidate);
    if (validName(candidate, false)) {
        const std::string line = std::string(candidate) + "=x\r\n";
        const Line l = parse(withoutLineEnd(line));
        CHECK_THAT(l.kind == Line::Kind::Key && l.name == trimmed);
    }
    if (validName(candidate, true)) {
        const std::string line = "[" + std::string(candidate) + "]\r\n";
        const Line l = parse(withoutLineEnd(line));
        CHECK_THAT(l.kind == Line::Kind::Section && l.name == trimmed);
    }
    if (candidate.find('\n') == candidate.npos) {
        const std::string written
            = needsQuotes(candidate) ? '"' + std::string(candidate) + '"' : std::string(candidate);
        const std::string line = "Clave=" + written + "\r\n";
        CHECK_THAT(parse(withoutLineEnd(line)).name == "Clave");
        CHECK_THAT(value(withoutLineEnd(line)) == candidate);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzz::FileInMemory memoryFile;
    const std::string_view bytes = fuzz::text(data, size);
    const IniReader reader(memoryFile.write(bytes));
    const IniDocument doc = IniDocument::parse(QByteArray(bytes.data(), qsizetype(bytes.size())));

    // Every key line under a section, asked as it is written, in other cases, and in a section
    // it is not in; a bounded number of them, as every question reads the whole file.
    constexpr int kMaxQuestions = 48;
    int questions = 0;
    std::string_view section;
    std::string_view previousSection;
    bool inSection = false;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t lineSize = lineLength(bytes.substr(pos));
        const std::string_view line = withoutLineEnd(bytes.substr(pos, lineSize));
        pos += lineSize;
        writtenReadsBack(line);
        const Line l = parse(line);
        if (l.kind == Line::Kind::Section) {
            previousSection = section;
            section = l.name;
            inSection = true;
        } else if (l.kind == Line::Kind::Key) {
            CHECK_THAT(!l.name.empty() && l.name.find('=') == l.name.npos);
            if (!inSection || ++questions > kMaxQuestions)
                continue;
            sameAnswer(reader, doc, section, l.name);
            sameAnswer(reader, doc, otherCase(section, true), otherCase(l.name, false));
            sameAnswer(reader, doc, otherCase(section, false), otherCase(l.name, true));
            sameAnswer(reader, doc, previousSection, l.name);
        }
    }
    sameAnswer(reader, doc, "Equipos", "Total");
    return 0;
}
