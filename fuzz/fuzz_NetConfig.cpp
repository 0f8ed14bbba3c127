// Any bytes as net.ini. What NetConfig accepts is sound (a time-out of 1 to 3600 seconds, code
// page and broadcast address that cannot pass for options or hold blanks, an absolute client
// configuration path); anything else set in the file is refused with a reason. Every address of
// [Equipos] is what parseEndpoint makes of its value, and any line as an address is either
// refused or an address and port that, written out again, read back the same.

#include "Check.h"

#include "net/NetConfig.h"
#include "profile/IniReader.h"
#include "profile/IniSyntax.h"
#include "profile/Cp1252Table.h"
#include "profile/Utf8Text.h"

#include <QList>
#include <QString>

namespace {

using Endpoint = NetConfig::Endpoint;

// Cannot be taken for an option, and holds no blank or control character (by QString's rules).
bool simple(const std::string &value)
{
    if (value.empty() || value.front() == '-' || Utf8Text::valid(value) != value)
        return false;
    for (const char32_t c : QString::fromStdString(value).toUcs4()) {
        if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control)
            return false;
    }
    return true;
}

bool sameEndpoint(const std::optional<Endpoint> &a, const std::optional<Endpoint> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->address == b->address && a->port == b->port));
}

void checkAddress(std::string_view text)
{
    const std::optional<Endpoint> e = NetConfig::parseEndpoint(text);
    if (!e)
        return;
    CHECK_THAT(simple(e->address));
    CHECK_THAT(e->port >= 0 && e->port <= 65535);
    if (e->address.find_first_of("[]") != std::string::npos)
        return;
    const bool v6 = e->address.find(':') != std::string::npos;
    std::string written = v6 ? '[' + e->address + ']' : e->address;
    if (e->port)
        written += ':' + std::to_string(e->port);
    CHECK_THAT(sameEndpoint(NetConfig::parseEndpoint(written), e));
}

std::string trimmed(const std::optional<std::string> &value)
{
    return value ? std::string(Utf8Text::trimmed(*value)) : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzz::FileInMemory memoryFile;
    const std::string_view bytes = fuzz::text(data, size);
    const std::string &path = memoryFile.write(bytes);
    NetConfig config(path);
    const IniReader ini(path);

    CHECK_THAT(config.timeoutSeconds() >= 1 && config.timeoutSeconds() <= 3600);
    CHECK_THAT(simple(config.codePage()));
    CHECK_THAT(config.broadcast().empty() || simple(config.broadcast()));
    CHECK_THAT(config.clientConfig().empty() || config.clientConfig().front() == '/');
    CHECK_THAT(Utf8Text::valid(config.error()) == config.error());
    if (config.error().empty()) {
        // Nothing set in the file was passed over.
        const std::string timeout = trimmed(ini.read("Opciones", "Espera"));
        CHECK_THAT(timeout.empty() || Utf8Text::toInt(timeout) == config.timeoutSeconds());
        const std::string codePage = trimmed(ini.read("Opciones", "PaginaCodigos"));
        CHECK_THAT(codePage.empty() || codePage == config.codePage());
        CHECK_THAT(trimmed(ini.read("Opciones", "Difusion")) == config.broadcast());
    }

    int keyLines = 0;
    for (const std::string_view line : fuzz::split(bytes, '\n')) {
        const std::string text = Cp1252Table::toUtf8(IniSyntax::withoutLineEnd(line));
        checkAddress(text);
        const IniSyntax::Line l = IniSyntax::parse(IniSyntax::withoutLineEnd(line));
        if (l.kind != IniSyntax::Line::Kind::Key || ++keyLines > 32)
            continue;
        const std::string name = Cp1252Table::toUtf8(l.name);
        const std::string value = trimmed(ini.read("Equipos", name));
        const bool noErrorYet = config.error().empty();
        const std::optional<Endpoint> e = config.endpoint(name);
        CHECK_THAT(sameEndpoint(e, value.empty() ? std::nullopt : NetConfig::parseEndpoint(value)));
        // A malformed address is reported, unless something else was reported first.
        if (!value.empty() && !e && noErrorYet)
            CHECK_THAT(!config.error().empty());
    }
    return 0;
}
