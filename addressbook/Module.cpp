#include "addressbook/Module.h"

namespace {
const QString kComputers = QStringLiteral("Equipos");
const QString kNetworks = QStringLiteral("Redes");
const QString kTotal = QStringLiteral("Total");
} // namespace

Module::Module(Runtime &rt, const QString &rutaPrograma)
    : IniFiles(rt, rutaPrograma)
{ }

QString Module::addressBookPath() const
{
    return rutaPrograma() + QStringLiteral("enviara.ini");
}

void Module::loadSection(const QString &file, const QString &section, QStringList &list, qint16 &total)
{
    total = readCount(LeerIni(file, section, kTotal, QStringLiteral("0")));
    list = readEntries(file, section, total);
}

void Module::CargarListas()
{
    TotalEquipos = 0;
    TotalRedes = 0;
    const QString file = addressBookPath();
    if (!ExisteArchivo(file)) {
        ListaEquipos.clear();
        ListaRedes.clear();
        return;
    }
    // One snapshot of the file for the whole load: a count and its entries always come
    // from the same version of the file, and the file is looked at once, not per key.
    beginBatch(file);
    loadSection(file, kComputers, ListaEquipos, TotalEquipos);
    loadSection(file, kNetworks, ListaRedes, TotalRedes);
    endBatch();
}

void Module::saveSection(const QString &file, const QString &section, const QStringList &list, qint16 total)
{
    // The count governs, but a list shorter than its count must not read past its end:
    // the missing entries are saved empty, as they would load.
    const qint16 count = qMax<qint16>(total, 0);
    for (int i = 1; i <= count; ++i)
        EscribirIni(file, section, QString::number(i), i <= list.size() ? list[i - 1] : QString());
    EscribirIni(file, section, kTotal, QString::number(count));
}

void Module::GuardarListas()
{
    const QString file = addressBookPath();
    beginBatch(file);
    saveSection(file, kComputers, ListaEquipos, TotalEquipos);
    saveSection(file, kNetworks, ListaRedes, TotalRedes);
    endBatch();
}
