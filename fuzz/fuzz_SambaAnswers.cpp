// What smbclient and nmblookup may print, as any bytes: a byte of flags (found, started, timed
// out), a byte of exit code, then standard output NUL standard error.
//
// A message counts as delivered only when smbclient exited with 0 and did not say that the host
// refused it; smbclient's words come back as valid UTF-8 on one line. nmblookup's answers give
// exactly the addresses of the "ADDRESS NAME<00>" lines and the messenger name of the first
// unique "<03>" line, the lines read by QString's rules.

#include "Check.h"

#include "net/NameLookup.h"
#include "net/SmbClient.h"
#include "profile/Utf8Text.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace {

// The words of each line, as QString reads them: the line trimmed, then cut at ASCII blanks.
std::vector<QStringList> wordsOfLines(std::string_view output)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t\\n\\x0b\\f\\r]+"));
    std::vector<QStringList> lines;
    const QString text = QString::fromUtf8(output.data(), qsizetype(output.size()));
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines.push_back(line.trimmed().split(blanks, Qt::SkipEmptyParts));
    return lines;
}

void smbclient(const BoundedProcess::Result &r)
{
    const SmbClient::Delivery d = SmbClient::classify(r);
    using O = SmbClient::Outcome;
    if (!r.found || !r.started) {
        CHECK_THAT(d.outcome == O::Missing);
        return;
    }
    if (r.timedOut) {
        CHECK_THAT(d.outcome == O::TimedOut);
        return;
    }
    if (r.exitCode != 0)
        CHECK_THAT(d.outcome != O::Delivered);
    const std::string all = r.err + '\n' + r.out;
    static const QRegularExpression refusal(QStringLiteral("cli_message\\S* returned \\S"));
    if (QString::fromUtf8(all.data(), qsizetype(all.size())).contains(refusal))
        CHECK_THAT(d.outcome == O::Refused);
    CHECK_THAT(Utf8Text::valid(d.detail) == d.detail && d.detail.find('\n') == std::string::npos);
    if (d.outcome == O::Refused)
        CHECK_THAT(!d.detail.empty());
    if (d.outcome == O::NotFound || d.outcome == O::NoAnswer || (d.outcome == O::TimedOut && !d.detail.empty()))
        CHECK_THAT(d.detail.starts_with("NT_STATUS_") && Utf8Text::valid(all).find(d.detail) != std::string::npos);
}

void nmblookup(std::string_view output)
{
    std::vector<std::string> addresses;
    for (const QStringList &p : wordsOfLines(output)) {
        // An answering address goes on the tools' command lines: hex digits, dots and colons only.
        static const QRegularExpression addressPattern(QStringLiteral("^[0-9A-Fa-f.:]+$"));
        if (p.size() == 2 && addressPattern.match(p[0]).hasMatch() && p[1].size() > 4
            && p[1].endsWith(QLatin1String("<00>"))
            && std::find(addresses.begin(), addresses.end(), p[0].toStdString()) == addresses.end())
            addresses.push_back(p[0].toStdString());
    }
    CHECK_THAT(NameLookup::parseGroupAnswer(output) == addresses);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    BoundedProcess::Result r;
    r.found = data[0] & 1;
    r.started = data[0] & 2;
    r.timedOut = data[0] & 4;
    r.exitCode = static_cast<int8_t>(data[1]);
    const std::string_view rest = fuzz::text(data + 2, size - 2);
    const size_t nul = rest.find('\0');
    r.out = std::string(rest.substr(0, nul));
    r.err = nul == rest.npos ? std::string() : std::string(rest.substr(nul + 1));
    smbclient(r);
    nmblookup(r.out);
    return 0;
}
