#include "addressbook/Module.h"

#include "runtime/Archivos.h"
#include "runtime/Runtime.h"

namespace {
const QString kEquipos = QStringLiteral("Equipos");
const QString kRedes = QStringLiteral("Redes");
const QString kTotal = QStringLiteral("Total");
} // namespace

Module::Module(Runtime &rt, const QString &rutaPrograma)
    : m_rt(rt)
    , m_rutaPrograma(rutaPrograma)
{ }

QString Module::LeerIni(const QString &file, const QString &section, const QString &key, const QString &def)
{
    const QString value = m_profiles.read(file, section, key);
    return value.isEmpty() ? def : value.left(kLargoValor);
}

QStringList Module::readEntries(const QString &file, const QString &section, int count)
{
    QStringList values = m_profiles.readNumbered(file, section, count);
    for (QString &v : values) {
        if (v.isEmpty())
            v = QString();
        else if (v.size() > kLargoValor)
            v.truncate(kLargoValor);
    }
    return values;
}

void Module::EscribirIni(const QString &file, const QString &section, const QString &key, const QString &value)
{
    if (!m_profiles.write(file, section, key, value))
        m_rt.msgBox(QStringLiteral("PUFF"), Runtime::Icon::None);
}

bool Module::ExisteArchivo(const QString &path)
{
    return Archivos::fileExists(path);
}

QString Module::rutaLibreta() const
{
    return m_rutaPrograma + QStringLiteral("enviara.ini");
}

void Module::beginBatch(const QString &file)
{
    m_profiles.beginBatch(file);
}

void Module::endBatch()
{
    // Writes that looked fine but never reached the disk fail now, one box each.
    for (int lost = m_profiles.endBatch(); lost > 0; --lost)
        m_rt.msgBox(QStringLiteral("PUFF"), Runtime::Icon::None);
}

qint16 Module::leerCuenta(const QString &text)
{
    // A hand-edited count may be anything. Reading it as Val does (leading whole number,
    // "3.7" -> 3, "abc" -> 0) and clamping it to the range of a list keeps a bad value from
    // overflowing the count or asking for billions of entries: "-5" -> 0, "2000000000" -> 32767.
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > kMaxEntradas)
            value = kMaxEntradas + 1; // keeps reading the digits without overflow
    }
    if (negative)
        return 0;
    return qint16(qMin<qint64>(value, kMaxEntradas));
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
