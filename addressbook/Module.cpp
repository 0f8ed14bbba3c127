#include "addressbook/Module.h"

namespace {
const QString kEquipos = QStringLiteral("Equipos");
const QString kRedes = QStringLiteral("Redes");
const QString kTotal = QStringLiteral("Total");
} // namespace

Module::Module(Runtime &rt, const QString &rutaPrograma)
    : ArchivosIni(rt, rutaPrograma)
{ }

QString Module::rutaLibreta() const
{
    return rutaPrograma() + QStringLiteral("enviara.ini");
}

void Module::cargarSeccion(const QString &file, const QString &section, QStringList &lista, qint16 &total)
{
    total = leerCuenta(LeerIni(file, section, kTotal, QStringLiteral("0")));
    lista = readEntries(file, section, total);
}

void Module::CargarListas()
{
    TotalEquipos = 0;
    TotalRedes = 0;
    const QString file = rutaLibreta();
    if (!ExisteArchivo(file)) {
        ListaEquipos.clear();
        ListaRedes.clear();
        return;
    }
    // One snapshot of the file for the whole load: a count and its entries always come
    // from the same version of the file, and the file is looked at once, not per key.
    beginBatch(file);
    cargarSeccion(file, kEquipos, ListaEquipos, TotalEquipos);
    cargarSeccion(file, kRedes, ListaRedes, TotalRedes);
    endBatch();
}

void Module::guardarSeccion(const QString &file, const QString &section, const QStringList &lista, qint16 total)
{
    // The count governs, but a list shorter than its count must not read past its end:
    // the missing entries are saved empty, as they would load.
    const qint16 count = qMax<qint16>(total, 0);
    for (int i = 1; i <= count; ++i)
        EscribirIni(file, section, QString::number(i), i <= lista.size() ? lista[i - 1] : QString());
    EscribirIni(file, section, kTotal, QString::number(count));
}

void Module::GuardarListas()
{
    const QString file = rutaLibreta();
    beginBatch(file);
    guardarSeccion(file, kEquipos, ListaEquipos, TotalEquipos);
    guardarSeccion(file, kRedes, ListaRedes, TotalRedes);
    endBatch();
}
