#include "dispatch/LineaLote.h"

namespace LineaLote {

namespace {

// Characters that sh gives a meaning outside quotes (the blank excepted: it must keep
// separating the message's words, as it does for net on Windows).
bool especialFuera(QChar c)
{
    static const QString especiales = QStringLiteral("|&;<>()$`\\\"'*?[#~\t");
    return especiales.contains(c);
}

} // namespace

QString escaparPalabras(const QString &texto)
{
    QString result;
    result.reserve(texto.size() + 8);
    for (const QChar c : texto) {
        if (c == QLatin1Char('\n')) {
            // A backslash before a newline would join the lines; quoting keeps the newline itself.
            result += QLatin1String("'\n'");
        } else {
            if (especialFuera(c))
                result += QLatin1Char('\\');
            result += c;
        }
    }
    return result;
}

QString escaparEntreComillas(const QString &texto)
{
    QString result;
    result.reserve(texto.size() + 4);
    for (const QChar c : texto) {
        if (c == QLatin1Char('$') || c == QLatin1Char('`') || c == QLatin1Char('\\') || c == QLatin1Char('"'))
            result += QLatin1Char('\\');
        result += c;
    }
    return result;
}

QString armar(const QString &destino, bool grupo, const QString &mensaje, const QString &rutaPrograma)
{
    const QString objetivo = (grupo ? QStringLiteral("/domain:") : QString()) + escaparPalabras(destino);
    return QStringLiteral("net send ") + objetivo + QLatin1Char(' ') + escaparPalabras(mensaje)
        + QStringLiteral(" > \"") + escaparEntreComillas(rutaPrograma + QStringLiteral("mensaje.txt"))
        + QLatin1Char('"');
}

QByteArray contenido(const QString &linea)
{
    return linea.toLocal8Bit() + '\n';
}

} // namespace LineaLote
