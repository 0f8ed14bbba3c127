#include "addressbook/Module.h"

namespace {
const QString kSections[2] = { QStringLiteral("Equipos"), QStringLiteral("Redes") };
const QString kTotal = QStringLiteral("Total");
} // namespace

Module::Module(Runtime &rt, const QString &rutaPrograma)
    : IniFiles(rt, rutaPrograma)
{ }

QString Module::addressBookPath() const
{
    return rutaPrograma() + QStringLiteral("enviara.ini");
}

void Module::loadSection(const QString &file, const QString &section, QStringList &list)
{
    const qint16 total = readCount(LeerIni(file, section, kTotal, QStringLiteral("0")));
    list = readEntries(file, section, total);
    // Entries up to the count that the file lacks load empty.
    list.resize(total);
}

void Module::CargarListas()
{
    const QString file = addressBookPath();
    if (!ExisteArchivo(file)) {
        m_lists[0].clear();
        m_lists[1].clear();
        return;
    }
    // One snapshot of the file for the whole load: a count and its entries always come
    // from the same version of the file, and the file is looked at once, not per key.
    beginBatch(file);
    for (int kind = 0; kind < 2; ++kind)
        loadSection(file, kSections[kind], m_lists[kind]);
    endBatch();
}

void Module::saveSection(const QString &file, const QString &section, const QStringList &list)
{
    for (qsizetype i = 1; i <= list.size(); ++i)
        EscribirIni(file, section, QString::number(i), list[i - 1]);
    EscribirIni(file, section, kTotal, QString::number(list.size()));
}

void Module::GuardarListas()
{
    const QString file = addressBookPath();
    beginBatch(file);
    for (int kind = 0; kind < 2; ++kind)
        saveSection(file, kSections[kind], m_lists[kind]);
    endBatch();
}

int Module::add(int kind, const QString &name)
{
    if (isFull(kind))
        return 0;
    m_lists[index(kind)].append(name);
    return total(kind);
}

bool Module::removeAt(int kind, int position)
{
    QStringList &list = m_lists[index(kind)];
    if (position < 1 || position > list.size())
        return false;
    list.removeAt(position - 1);
    return true;
}

bool Module::saveAndReload(int kind)
{
    const QStringList saved = entries(kind);
    GuardarListas();
    CargarListas();
    const QStringList &loaded = m_lists[index(kind)];
    if (loaded.size() != saved.size())
        return false;
    for (qsizetype i = 0; i < saved.size(); ++i) {
        // Reading keeps only the first characters of a long name.
        if (loaded.at(i) != saved.at(i).left(kValueLength))
            return false;
    }
    return true;
}
