#include "dispatch/ResultadoEnvio.h"

namespace ResultadoEnvio {

QString primerCampo(const QByteArray &salida)
{
    const QString texto = QString::fromLocal8Bit(salida);
    qsizetype finLinea = texto.size();
    for (qsizetype k = 0; k < texto.size(); ++k) {
        if (texto.at(k) == QLatin1Char('\n') || texto.at(k) == QLatin1Char('\r')) {
            finLinea = k;
            break;
        }
    }
    qsizetype inicio = 0;
    while (inicio < finLinea && texto.at(inicio) == QLatin1Char(' '))
        ++inicio;
    if (inicio < finLinea && texto.at(inicio) == QLatin1Char('"')) {
        const qsizetype cierre = texto.indexOf(QLatin1Char('"'), inicio + 1);
        const qsizetype fin = (cierre < 0 || cierre > finLinea) ? finLinea : cierre;
        return texto.mid(inicio + 1, fin - inicio - 1);
    }
    const qsizetype coma = texto.indexOf(QLatin1Char(','), inicio);
    const qsizetype fin = (coma < 0 || coma > finLinea) ? finLinea : coma;
    return texto.mid(inicio, fin - inicio);
}

QString primeraLinea(const QByteArray &salida)
{
    qsizetype fin = 0;
    while (fin < salida.size() && salida.at(fin) != '\n' && salida.at(fin) != '\r')
        ++fin;
    QString linea = QString::fromLocal8Bit(salida.first(fin));
    for (QChar &c : linea) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    linea = linea.trimmed();
    if (linea.size() > kLargoRespuesta)
        linea = linea.left(kLargoRespuesta - 1) + QChar(0x2026);
    return linea;
}

qint16 evaluar(const QString &campo)
{
    static const QString marca = QStringLiteral("MENSAJE ENVIADO");
    return campo.left(marca.size()).toUpper() == marca ? 1 : 0;
}

} // namespace ResultadoEnvio
