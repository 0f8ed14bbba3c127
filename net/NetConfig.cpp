#include "net/NetConfig.h"

#include "profile/Utf8Text.h"

#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kComputersSection("Equipos");
constexpr std::string_view kOptionsSection("Opciones");

// Values that reach smbclient's command line must not look like options or carry
// separators; they travel as "--name=value", but a blank or control character is
// never part of an address or a code-page name.
bool plainValue(std::string_view value)
{
    if (value.empty() || value.front() == '-')
        return false;
    for (size_t pos = 0; pos < value.size();) {
        const char32_t c = Utf8Text::next(value, pos);
        if (Utf8Text::isSpace(c) || Utf8Text::isControl(c))
            return false;
    }
    return true;
}

std::string trimmedValue(const std::optional<std::string> &value)
{
    return value ? std::string(Utf8Text::trimmed(*value)) : std::string();
}

// The folder that holds path, as an absolute path.
std::string folderOf(const std::string &path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer))
            absolute = std::string(buffer) + '/' + absolute;
    }
    const size_t slash = absolute.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : absolute.substr(0, slash);
}

} // namespace

std::string NetConfig::applicableIni(const std::string &programFolder, const std::string &systemIni)
{
    const std::string folder
        = programFolder.empty() || programFolder.back() == '/' ? programFolder : programFolder + '/';
    if (::access((folder + "instalado.txt").c_str(), F_OK) == 0)
        return systemIni;
    return folder + "net.ini";
}

NetConfig::NetConfig(const std::string &iniPath)
    : m_iniPath(iniPath)
    , m_ini(iniPath)
{
    const std::string config = option("Configuracion");
    if (!config.empty()) {
        if (config.front() == '/') {
            m_clientConfig = config;
        } else {
            const std::string folder = folderOf(iniPath);
            m_clientConfig = (folder == "/" ? folder : folder + '/') + config;
        }
        struct stat st
        {
        };
        if (::stat(m_clientConfig.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            m_error = "no existe el archivo de configuración " + m_clientConfig + " indicado en " + iniPath;
    }
    const std::string codePage = option("PaginaCodigos");
    if (!codePage.empty()) {
        if (plainValue(codePage))
            m_codePage = codePage;
        else if (m_error.empty())
            m_error = "página de códigos no válida en " + iniPath + ": " + codePage;
    }
    const std::string timeout = option("Espera");
    if (!timeout.empty()) {
        const std::optional<int> seconds = Utf8Text::toInt(timeout);
        // An hour is far beyond any answer on a local network; more is a typing error.
        if (seconds && *seconds >= 1 && *seconds <= 3600)
            m_timeoutSeconds = *seconds;
        else if (m_error.empty())
            m_error = "tiempo de espera no válido en " + iniPath + ": " + timeout + " (segundos, de 1 a 3600)";
    }
    m_workgroup = option("GrupoTrabajo");
    const std::string broadcast = option("Difusion");
    if (!broadcast.empty()) {
        if (plainValue(broadcast))
            m_broadcast = broadcast;
        else if (m_error.empty())
            m_error = "dirección de difusión no válida en " + iniPath + ": " + broadcast;
    }
    readPort("PuertoNombres", m_nameServicePort);
    readPort("PuertoMensajes", m_sessionPort);
}

void NetConfig::readPort(std::string_view key, int &port)
{
    const std::string text = option(key);
    if (text.empty())
        return;
    const std::optional<int> number = Utf8Text::toInt(text);
    if (number && *number >= 1 && *number <= 65535)
        port = *number;
    else if (m_error.empty())
        m_error = "puerto no válido en " + m_iniPath + ": " + std::string(key) + "=" + text + " (de 1 a 65535)";
}

std::string NetConfig::option(std::string_view key) const
{
    return trimmedValue(m_ini.read(kOptionsSection, key));
}

std::optional<NetConfig::Endpoint> NetConfig::endpoint(std::string_view name)
{
    const std::string value = trimmedValue(m_ini.read(kComputersSection, name));
    if (value.empty())
        return std::nullopt;
    const auto parsed = parseEndpoint(value);
    if (!parsed && m_error.empty())
        m_error = "dirección no válida para " + std::string(name) + " en " + m_iniPath + ": " + value;
    return parsed;
}

std::string NetConfig::workgroup() const
{
    if (!m_workgroup.empty())
        return m_workgroup;
    // Samba's configuration is close enough to a profile file for one global key.
    const std::string conf = m_clientConfig.empty() ? std::string("/etc/samba/smb.conf") : m_clientConfig;
    const std::string fromConf = trimmedValue(IniReader(conf).read("global", "workgroup"));
    return fromConf.empty() ? std::string("WORKGROUP") : fromConf;
}

std::optional<NetConfig::Endpoint> NetConfig::parseEndpoint(std::string_view text)
{
    std::string_view address = text;
    std::string_view port;
    bool hasPort = false;
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == text.npos)
            return std::nullopt;
        address = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':'))
                return std::nullopt;
            hasPort = true;
            port = rest.substr(1);
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        // One colon separates a port; more than one is a bare IPv6 address.
        const size_t colon = text.find(':');
        address = text.substr(0, colon);
        hasPort = true;
        port = text.substr(colon + 1);
    }
    if (!plainValue(address))
        return std::nullopt;
    Endpoint endpoint { std::string(address), 0 };
    if (hasPort) {
        const std::optional<int> number = Utf8Text::toInt(port);
        if (!number || *number < 1 || *number > 65535)
            return std::nullopt;
        endpoint.port = *number;
    }
    return endpoint;
}

std::string NetConfig::seconds(int n)
{
    return std::to_string(n) + (n == 1 ? " segundo" : " segundos");
}
