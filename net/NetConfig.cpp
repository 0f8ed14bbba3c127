#include "net/NetConfig.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString sectionEquipos = QStringLiteral("Equipos");
const QString sectionOpciones = QStringLiteral("Opciones");

// Values that reach smbclient's command line must not look like options or carry
// separators; they travel as "--name=value", but a blank or control character is
// never part of an address or a code-page name.
bool plainValue(const QString &value)
{
    if (value.isEmpty() || value.startsWith(QLatin1Char('-')))
        return false;
    for (const QChar c : value) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

NetConfig::NetConfig(const QString &iniPath)
    : m_iniPath(iniPath)
{
    const QString config = m_ini.read(iniPath, sectionOpciones, QStringLiteral("Configuracion")).trimmed();
    if (!config.isEmpty()) {
        m_clientConfig = QDir(QFileInfo(iniPath).absolutePath()).absoluteFilePath(config);
        if (!QFileInfo(m_clientConfig).isFile())
            m_error = QStringLiteral("no existe el archivo de configuración %1 indicado en %2")
                          .arg(m_clientConfig, iniPath);
    }

    const QString codePage = m_ini.read(iniPath, sectionOpciones, QStringLiteral("PaginaCodigos")).trimmed();
    if (!codePage.isEmpty()) {
        if (plainValue(codePage))
            m_codePage = codePage;
        else if (m_error.isEmpty())
            m_error = QStringLiteral("página de códigos no válida en %1: %2").arg(iniPath, codePage);
    }

    const QString timeout = m_ini.read(iniPath, sectionOpciones, QStringLiteral("Espera")).trimmed();
    if (!timeout.isEmpty()) {
        bool ok = false;
        const int seconds = timeout.toInt(&ok);
        // An hour is far beyond any answer on a local network; more is a typing error.
        if (ok && seconds >= 1 && seconds <= 3600)
            m_timeoutSeconds = seconds;
        else if (m_error.isEmpty())
            m_error
                = QStringLiteral("tiempo de espera no válido en %1: %2 (segundos, de 1 a 3600)").arg(iniPath, timeout);
    }

    m_workgroup = m_ini.read(iniPath, sectionOpciones, QStringLiteral("GrupoTrabajo")).trimmed();

    const QString broadcast = m_ini.read(iniPath, sectionOpciones, QStringLiteral("Difusion")).trimmed();
    if (!broadcast.isEmpty()) {
        if (plainValue(broadcast))
            m_broadcast = broadcast;
        else if (m_error.isEmpty())
            m_error = QStringLiteral("dirección de difusión no válida en %1: %2").arg(iniPath, broadcast);
    }
}

std::optional<NetConfig::Endpoint> NetConfig::endpoint(const QString &name)
{
    const QString value = m_ini.read(m_iniPath, sectionEquipos, name).trimmed();
    if (value.isNull() || value.isEmpty())
        return std::nullopt;
    const auto parsed = parseEndpoint(value);
    if (!parsed && m_error.isEmpty())
        m_error = QStringLiteral("dirección no válida para %1 en %2: %3").arg(name, m_iniPath, value);
    return parsed;
}

QString NetConfig::workgroup() const
{
    if (!m_workgroup.isEmpty())
        return m_workgroup;
    // Samba's configuration is close enough to a profile file for one global key.
    const QString conf = m_clientConfig.isEmpty() ? QStringLiteral("/etc/samba/smb.conf") : m_clientConfig;
    const QString fromConf = ProfileFiles().read(conf, QStringLiteral("global"), QStringLiteral("workgroup")).trimmed();
    return fromConf.isEmpty() ? QStringLiteral("WORKGROUP") : fromConf;
}

std::optional<NetConfig::Endpoint> NetConfig::parseEndpoint(const QString &text)
{
    QString address = text;
    QString port;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        address = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            hasPort = true;
            port = rest.mid(1);
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        // One colon separates a port; more than one is a bare IPv6 address.
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        address = text.left(colon);
        hasPort = true;
        port = text.mid(colon + 1);
    }
    if (!plainValue(address))
        return std::nullopt;
    Endpoint endpoint { address, 0 };
    if (hasPort) {
        bool ok = false;
        endpoint.port = port.toInt(&ok);
        if (!ok || endpoint.port < 1 || endpoint.port > 65535)
            return std::nullopt;
    }
    return endpoint;
}
