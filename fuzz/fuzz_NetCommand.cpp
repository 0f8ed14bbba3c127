// net's arguments, separated by NUL bytes, as any bytes. net takes its text rules from QString
// (the blanks, the control characters, the replacement of broken bytes, case without regard to
// case), so each rule must agree with QString; what it prints is one line; the names it passes
// on and the requests it reads from the arguments are the ones QString's rules give.

#include "Comprobar.h"

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
bool nombreValidoQt(const QString &nombre)
{
    if (nombre.isEmpty() || nombre.size() > 15 || nombre.startsWith(QLatin1Char('-')))
        return false;
    for (const char32_t c : nombre.toUcs4()) {
        if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control
            || (c < 0x80 && QStringView(u"\\/:*?\"<>|+=;,").contains(QChar(c))))
            return false;
    }
    return true;
}

// Printed as it is: one line, nothing that a terminal or a reader of the output would take for
// a line end or a command.
bool unaLinea(std::string_view linea)
{
    if (Utf8Text::valid(linea) != linea)
        return false;
    for (const char32_t c : qt(linea).toUcs4()) {
        if (QChar::category(c) == QChar::Other_Control || c == 0x2028 || c == 0x2029)
            return false;
    }
    return true;
}

void reglasDeTexto(const std::string &t)
{
    const QString q = qt(t);
    COMPROBAR(Utf8Text::trimmed(t) == q.trimmed().toStdString());
    COMPROBAR(Utf8Text::utf16Length(t) == size_t(q.size()));
    COMPROBAR(Utf8Text::characters(t) == size_t(q.toUcs4().size()));
    COMPROBAR(Utf8Text::toLatin1(t) == q.toLatin1().toStdString());
    for (const char *ascii : { "send", "/domain" })
        COMPROBAR(
            Utf8Text::equalsIgnoringCase(t, ascii) == (q.compare(QLatin1String(ascii), Qt::CaseInsensitive) == 0));
    COMPROBAR(NetCommand::validName(t) == nombreValidoQt(q));

    const std::string impreso = Utf8Text::printable(t);
    COMPROBAR(unaLinea(impreso));
    if (unaLinea(t))
        COMPROBAR(impreso == t);

    if (const std::optional<int> n = Utf8Text::toInt(t)) {
        bool ok = false;
        COMPROBAR(QByteArray::fromStdString(t).trimmed().toInt(&ok) == *n && ok);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    std::vector<std::string> argumentos;
    for (const std::string_view bruto : fuzz::partir(fuzz::texto(datos, largo), '\0')) {
        // As main() takes them.
        const std::string arg = Utf8Text::valid(bruto);
        COMPROBAR(QByteArray::fromStdString(arg) == qt(bruto).toUtf8());
        reglasDeTexto(arg);
        argumentos.push_back(arg);
    }

    // The request, as QString's rules read the arguments.
    QStringList q;
    for (const std::string &a : argumentos)
        q << qt(a);
    const QString mensaje = q.mid(2).join(QLatin1Char(' '));
    const bool esEnvio = q.size() >= 3 && q[0].compare(QLatin1String("send"), Qt::CaseInsensitive) == 0
        && !mensaje.trimmed().isEmpty();
    const std::optional<NetCommand::Request> pedido = NetCommand::parse(argumentos);
    COMPROBAR(pedido.has_value() == esEnvio);
    if (!pedido)
        return 0;
    COMPROBAR(pedido->message == mensaje.toStdString());
    using Kind = NetCommand::Request::Kind;
    const QString &destino = q[1];
    if (destino == QLatin1String("*") || destino.compare(QLatin1String("/domain"), Qt::CaseInsensitive) == 0) {
        COMPROBAR(pedido->kind == Kind::OwnGroup && pedido->target.empty());
    } else if (destino.startsWith(QLatin1String("/domain:"), Qt::CaseInsensitive)) {
        COMPROBAR(pedido->kind == Kind::Group && pedido->target == destino.mid(8).toStdString());
    } else {
        COMPROBAR(pedido->kind == Kind::Name && pedido->target == argumentos[1]);
    }
    return 0;
}
