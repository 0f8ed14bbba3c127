// net's arguments, separated by NUL bytes, as any bytes. net takes its text rules from QString
// (the blanks, the control characters, the replacement of broken bytes, case without regard to
// case), so each rule must agree with QString; what it prints is one line; the names it passes
// on and the requests it reads from the arguments are the ones QString's rules give.

#include "Check.h"

#include "net/NetCommand.h"
#include "profile/Utf8Text.h"

#include <QString>
#include <QStringList>

namespace {

QString qt(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A name that may be passed on, by QString's rules.
bool validNameByQt(const QString &name)
{
    if (name.isEmpty() || name.size() > 15 || name.startsWith(QLatin1Char('-')))
        return false;
    for (const char32_t c : name.toUcs4()) {
        if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control
            || (c < 0x80 && QStringView(u"\\/:*?\"<>|+=;,").contains(QChar(c))))
            return false;
    }
    return true;
}

// Printed as it is: one line, nothing that a terminal or a reader of the output would take for
// a line end or a command.
bool oneLine(std::string_view line)
{
    if (Utf8Text::valid(line) != line)
        return false;
    for (const char32_t c : qt(line).toUcs4()) {
        if (QChar::category(c) == QChar::Other_Control || c == 0x2028 || c == 0x2029)
            return false;
    }
    return true;
}

void textRules(const std::string &t)
{
    const QString q = qt(t);
    CHECK_THAT(Utf8Text::trimmed(t) == q.trimmed().toStdString());
    CHECK_THAT(Utf8Text::utf16Length(t) == size_t(q.size()));
    CHECK_THAT(Utf8Text::characters(t) == size_t(q.toUcs4().size()));
    CHECK_THAT(Utf8Text::toLatin1(t) == q.toLatin1().toStdString());
    for (const char *ascii : { "send", "/domain" })
        CHECK_THAT(
            Utf8Text::equalsIgnoringCase(t, ascii) == (q.compare(QLatin1String(ascii), Qt::CaseInsensitive) == 0));
    CHECK_THAT(NetCommand::validName(t) == validNameByQt(q));

    const std::string printed = Utf8Text::printable(t);
    CHECK_THAT(oneLine(printed));
    if (oneLine(t))
        CHECK_THAT(printed == t);

    if (const std::optional<int> n = Utf8Text::toInt(t)) {
        bool ok = false;
        CHECK_THAT(QByteArray::fromStdString(t).trimmed().toInt(&ok) == *n && ok);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> arguments;
    for (const std::string_view raw : fuzz::split(fuzz::text(data, size), '\0')) {
        // As main() takes them.
        const std::string arg = Utf8Text::valid(raw);
        CHECK_THAT(QByteArray::fromStdString(arg) == qt(raw).toUtf8());
        textRules(arg);
        arguments.push_back(arg);
    }

    // The request, as QString's rules read the arguments.
    QStringList q;
    for (const std::string &a : arguments)
        q << qt(a);
    const QString message = q.mid(2).join(QLatin1Char(' '));
    const bool isSend = q.size() >= 3 && q[0].compare(QLatin1String("send"), Qt::CaseInsensitive) == 0
        && !message.trimmed().isEmpty();
    const std::optional<NetCommand::Request> request = NetCommand::parse(arguments);
    CHECK_THAT(request.has_value() == isSend);
    if (!request)
        return 0;
    CHECK_THAT(request->message == message.toStdString());
    using Kind = NetCommand::Request::Kind;
    const QString &target = q[1];
    if (target == QLatin1String("*") || target.compare(QLatin1String("/domain"), Qt::CaseInsensitive) == 0) {
        CHECK_THAT(request->kind == Kind::OwnGroup && request->target.empty());
    } else if (target.startsWith(QLatin1String("/domain:"), Qt::CaseInsensitive)) {
        CHECK_THAT(request->kind == Kind::Group && request->target == target.mid(8).toStdString());
    } else {
        CHECK_THAT(request->kind == Kind::Name && request->target == arguments[1]);
    }
    return 0;
}
