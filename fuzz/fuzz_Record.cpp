// The mailbox's records. Any bytes as a record file: what is taken for a record is written back
// as the same record. Any bytes as the sender, the called name and the text (NUL between them):
// cleaned, they make a record that reads back whole and fits the reader's bound. Cleaning gives
// valid UTF-8 without control characters (LF and tab aside in a text) within the limits, and
// cleaning it again changes nothing.

#include "Check.h"

#include "profile/Utf8Text.h"
#include "receiver/Record.h"

#include <QString>

#include <algorithm>

namespace {

bool same(const Record::Message &a, const Record::Message &b)
{
    return a.from == b.from && a.to == b.to && a.seconds == b.seconds && a.nanoseconds == b.nanoseconds
        && a.cut == b.cut && a.text == b.text && a.computer == b.computer && a.address == b.address;
}

bool clean(const std::string &s, bool isText)
{
    if (Utf8Text::valid(s) != s)
        return false;
    for (size_t pos = 0; pos < s.size();) {
        const char32_t c = Utf8Text::next(s, pos);
        if (Utf8Text::isControl(c) && !(isText && (c == U'\n' || c == U'\t')))
            return false;
    }
    return Utf8Text::characters(s) <= (isText ? Record::kMaxTextChars : Record::kMaxNameChars);
}

std::string cleanAndCheck(std::string_view bytes, bool isText, bool &cut)
{
    const std::string firstPass = isText ? Record::cleanText(bytes, &cut) : Record::cleanName(bytes, &cut);
    CHECK_THAT(clean(firstPass, isText));
    if (isText && !cut) {
        // Every line end kept: CR LF, a lone CR and LF each become one LF.
        const QString q = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        const qsizetype lineEnds
            = q.count(QLatin1Char('\n')) + q.count(QLatin1Char('\r')) - q.count(QLatin1String("\r\n"));
        CHECK_THAT(std::count(firstPass.begin(), firstPass.end(), '\n') == lineEnds);
    }
    bool cutAgain = true;
    CHECK_THAT((isText ? Record::cleanText(firstPass, &cutAgain) : Record::cleanName(firstPass, &cutAgain))
        == firstPass);
    CHECK_THAT(!cutAgain);
    return firstPass;
}

void readsBackWhole(const Record::Message &m)
{
    const std::string record = Record::compose(m);
    CHECK_THAT(record.size() <= Record::kMaxRecordBytes);
    const std::optional<Record::Message> readBack = Record::parse(record);
    CHECK_THAT(readBack && same(*readBack, m));
}

uint64_t number(std::string_view bytes)
{
    uint64_t n = 0;
    for (const char c : bytes.substr(0, 8))
        n = (n << 8) | static_cast<unsigned char>(c);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = fuzz::text(data, size);

    if (const std::optional<Record::Message> m = Record::parse(bytes))
        readsBackWhole(*m);

    const std::vector<std::string_view> parts = fuzz::split(bytes, '\0');
    bool fromCut = false, toCut = false, textCut = false;
    Record::Message m;
    m.from = cleanAndCheck(parts[0], false, fromCut);
    m.to = cleanAndCheck(parts.size() > 1 ? parts[1] : std::string_view(), false, toCut);
    m.text = cleanAndCheck(parts.size() > 2 ? parts[2] : std::string_view(), true, textCut);
    m.cut = textCut;
    bool computerCut = false;
    m.computer = cleanAndCheck(parts.size() > 3 ? parts[3] : std::string_view(), false, computerCut);
    m.address = cleanAndCheck(parts.size() > 4 ? parts[4] : std::string_view(), false, computerCut);
    const uint64_t n = number(bytes);
    m.seconds = int64_t(n % 10000000000ULL);
    m.nanoseconds = int32_t(n % 1000000000ULL);
    readsBackWhole(m);

    const std::string line = Record::legible(bytes);
    CHECK_THAT(Utf8Text::valid(line) == line);
    for (size_t pos = 0; pos < line.size();)
        CHECK_THAT(!Utf8Text::isControl(Utf8Text::next(line, pos)));

    const long pid = long(n % 2147483648ULL);
    int64_t seconds = -1;
    CHECK_THAT(Record::isRecordName(Record::fileName(m.seconds, m.nanoseconds, pid), &seconds));
    CHECK_THAT(seconds == m.seconds);
    return 0;
}
