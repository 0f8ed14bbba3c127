#include "mainwindow/RecentList.h"

#include "mainwindow/RecipientsBox.h"
#include "profile/IniFiles.h"
#include "runtime/Text.h"

namespace RecentList {

namespace {
const QString kInfo = QStringLiteral("Info");
} // namespace

QString mruPath(const IniFiles &m)
{
    return m.rutaPrograma() + QStringLiteral("mru.ini");
}

void GuardarMRU(IniFiles &m, const RecipientsBox &box)
{
    const QString f = mruPath(m);
    // Counts edited by hand are read as whole numbers clamped to 0..32767 (IniFiles::readCount),
    // so Actual + 1 never overflows: it is only formed while Actual < Maximo.
    const qint16 maximum = IniFiles::readCount(m.LeerIni(f, kInfo, QStringLiteral("Maximo"), QStringLiteral("5")));
    const qint16 current
        = IniFiles::readCount(m.LeerIni(f, kInfo, QStringLiteral("ActualMRU"), QStringLiteral("0")));
    // One save for the whole shift; each write still fails (and is reported) on its own.
    m.beginBatch(f);
    if (current < maximum) {
        m.EscribirIni(f, kInfo, QStringLiteral("ActualMRU"), QString::number(current + 1));
        m.EscribirIni(f, kInfo, QString::number(current + 1), box.text());
    } else {
        for (int i = 1; i <= maximum; ++i)
            m.EscribirIni(f, kInfo, QString::number(i), m.LeerIni(f, kInfo, QString::number(i + 1), QString()));
        m.EscribirIni(f, kInfo, QString::number(maximum), box.text());
    }
    m.endBatch();
}

void CargarMRU(IniFiles &m, RecipientsBox &box)
{
    const QString f = mruPath(m);
    const QString kept = box.text();
    // One look at the file for the count and its lines, as for the address book.
    m.beginBatch(f);
    const qint16 count = IniFiles::readCount(m.LeerIni(f, kInfo, QStringLiteral("Total"), QStringLiteral("5")));
    QStringList lines = m.readEntries(f, kInfo, count);
    m.endBatch();
    // Trimmed and blank lines dropped in place: a full list is not copied again.
    qsizetype shown = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString v = Text::trimBlanks(lines.at(i));
        if (!v.isEmpty())
            lines[shown++] = std::move(v);
    }
    lines.resize(shown);
    box.setItems(lines);
    box.setText(kept);
}

} // namespace RecentList
