#include "mainwindow/ListaMRU.h"

#include "mainwindow/CajaDestinatarios.h"
#include "profile/ArchivosIni.h"
#include "runtime/Texto.h"

namespace ListaMRU {

namespace {
const QString kInfo = QStringLiteral("Info");
} // namespace

QString rutaMRU(const ArchivosIni &m)
{
    return m.rutaPrograma() + QStringLiteral("mru.ini");
}

void GuardarMRU(ArchivosIni &m, const CajaDestinatarios &caja)
{
    const QString f = rutaMRU(m);
    // Counts edited by hand are read as whole numbers clamped to 0..32767 (ArchivosIni::leerCuenta),
    // so Actual + 1 never overflows: it is only formed while Actual < Maximo.
    const qint16 maximo = ArchivosIni::leerCuenta(m.LeerIni(f, kInfo, QStringLiteral("Maximo"), QStringLiteral("5")));
    const qint16 actual
        = ArchivosIni::leerCuenta(m.LeerIni(f, kInfo, QStringLiteral("ActualMRU"), QStringLiteral("0")));
    // One save for the whole shift; each write still fails (and is reported) on its own.
    m.beginBatch(f);
    if (actual < maximo) {
        m.EscribirIni(f, kInfo, QStringLiteral("ActualMRU"), QString::number(actual + 1));
        m.EscribirIni(f, kInfo, QString::number(actual + 1), caja.text());
    } else {
        for (int i = 1; i <= maximo; ++i)
            m.EscribirIni(f, kInfo, QString::number(i), m.LeerIni(f, kInfo, QString::number(i + 1), QString()));
        m.EscribirIni(f, kInfo, QString::number(maximo), caja.text());
    }
    m.endBatch();
}

void CargarMRU(ArchivosIni &m, CajaDestinatarios &caja)
{
    const QString f = rutaMRU(m);
    const QString kept = caja.text();
    // One look at the file for the count and its lines, as for the address book.
    m.beginBatch(f);
    const qint16 count = ArchivosIni::leerCuenta(m.LeerIni(f, kInfo, QStringLiteral("Total"), QStringLiteral("5")));
    QStringList lineas = m.readEntries(f, kInfo, count);
    m.endBatch();
    // Trimmed and blank lines dropped in place: a full list is not copied again.
    qsizetype shown = 0;
    for (qsizetype i = 0; i < lineas.size(); ++i) {
        QString v = Texto::trimBlanks(lineas.at(i));
        if (!v.isEmpty())
            lineas[shown++] = std::move(v);
    }
    lineas.resize(shown);
    caja.setItems(lineas);
    caja.setText(kept);
}

} // namespace ListaMRU
