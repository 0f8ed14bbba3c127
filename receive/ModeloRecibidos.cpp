#include "receive/ModeloRecibidos.h"

#include "runtime/Texto.h"

#include <algorithm>

ModeloRecibidos::ModeloRecibidos(QObject *parent)
    : ModeloLista({ QStringLiteral("De"), QStringLiteral("Equipo"), QStringLiteral("Para"), QStringLiteral("Mensaje"),
                      QStringLiteral("Fecha") },
        parent)
{ }

int ModeloRecibidos::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_filas.size());
}

QString ModeloRecibidos::fecha(const QDateTime &llegada)
{
    return llegada.toLocalTime().toString(QStringLiteral("dd/MM/yyyy"));
}

QString ModeloRecibidos::hora(const QDateTime &llegada)
{
    return llegada.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString ModeloRecibidos::comoTexto(const QList<Buzon::Mensaje> &mensajes)
{
    QStringList partes;
    for (const Buzon::Mensaje &m : mensajes) {
        partes << QStringLiteral("Fecha: %1 %2\nDe: %3\nPara: %4\n%5\n")
                      .arg(fecha(m.llegada), hora(m.llegada), m.remitente(), m.para, m.texto);
    }
    return partes.join(QLatin1Char('\n'));
}

QVariant ModeloRecibidos::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_filas.size() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const Buzon::Mensaje &m = m_filas.at(index.row());
    QString texto;
    switch (index.column()) {
    case ColDe:
        texto = m.de;
        break;
    case ColEquipo:
        // Where the message came from; its address in the tooltip.
        texto = role == Qt::ToolTipRole && !m.direccion.isEmpty() ? m.direccion : m.equipo;
        break;
    case ColPara:
        texto = m.para;
        break;
    case ColMensaje:
        // One line in the list; the whole text, line ends and all, in the tooltip.
        texto = role == Qt::ToolTipRole ? m.texto : QString(m.texto).replace(QLatin1Char('\n'), QLatin1Char(' '));
        break;
    case ColFecha:
        texto = fecha(m.llegada) + QLatin1Char(' ') + hora(m.llegada);
        break;
    default:
        return {};
    }
    // Every column but the date comes from the network, and a tooltip takes text that looks
    // like markup for markup.
    return role == Qt::ToolTipRole ? Texto::literal(texto) : texto;
}

bool ModeloRecibidos::insertar(const Buzon::Mensaje &mensaje)
{
    if (m_ids.contains(mensaje.id))
        return false;
    // Deliveries run in parallel, so a record can turn up after a later one.
    const auto lugar = std::upper_bound(m_filas.cbegin(), m_filas.cend(), mensaje,
        [](const Buzon::Mensaje &a, const Buzon::Mensaje &b) { return a.id < b.id; });
    const int fila = int(lugar - m_filas.cbegin());
    beginInsertRows(QModelIndex(), fila, fila);
    m_filas.insert(fila, mensaje);
    m_ids.insert(mensaje.id);
    endInsertRows();
    return true;
}

void ModeloRecibidos::quitarPrimeras(int cuantas)
{
    cuantas = std::min(cuantas, int(m_filas.size()));
    if (cuantas <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, cuantas - 1);
    for (int i = 0; i < cuantas; ++i)
        m_ids.remove(m_filas.at(i).id);
    m_filas.remove(0, cuantas);
    endRemoveRows();
}

void ModeloRecibidos::reemplazar(QList<Buzon::Mensaje> mensajes)
{
    beginResetModel();
    std::sort(
        mensajes.begin(), mensajes.end(), [](const Buzon::Mensaje &a, const Buzon::Mensaje &b) { return a.id < b.id; });
    m_filas.clear();
    m_ids.clear();
    for (Buzon::Mensaje &m : mensajes) {
        if (!m_ids.contains(m.id)) {
            m_ids.insert(m.id);
            m_filas.append(std::move(m));
        }
    }
    endResetModel();
}
