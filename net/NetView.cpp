#include "net/NetView.h"

#include "net/NetCommand.h"
#include "net/NetConfig.h"
#include "profile/Utf8Text.h"

#include <algorithm>
#include <map>

namespace {

using Lines = std::vector<std::string>;

// The names found so far, each once without regard to case, and what was left out.
class Collector
{
public:
    explicit Collector(NetView::Found &found)
        : m_found(found)
    { }

    void add(const std::string &name, const std::string &source)
    {
        if (!NetCommand::validName(name)) {
            m_found.warnings.push_back("se omite el nombre no válido \"" + name + "\" de " + source);
            return;
        }
        m_byKey.emplace(Utf8Text::folded(name), name);
    }

    // A name nmblookup did not show whole: listed only when a browse list names it,
    // otherwise what of "whose" was left out is told.
    void addDotted(const std::string &name, const std::string &whose) { m_dotted.emplace_back(name, whose); }

    void finish()
    {
        for (const auto &[name, whose] : m_dotted) {
            const std::string &wanted = name; // a lambda may not name a structured binding (clang 14)
            const bool named = std::any_of(m_byKey.begin(), m_byKey.end(),
                [&](const auto &entry) { return NameLookup::shown(entry.second) == wanted; });
            if (!named)
                m_found.warnings.push_back(whose + " tiene un nombre que nmblookup no muestra entero (\"" + name
                    + "\") y que no figura en ninguna lista de examinadores");
        }
        for (const auto &entry : m_byKey)
            m_found.names.push_back(entry.second);
        std::sort(m_found.names.begin(), m_found.names.end(), [](const std::string &a, const std::string &b) {
            const std::string fa = Utf8Text::folded(a), fb = Utf8Text::folded(b);
            return Utf8Text::utf16Less(fa, fb) || (fa == fb && Utf8Text::utf16Less(a, b));
        });
    }

private:
    NetView::Found &m_found;
    std::map<std::string, std::string> m_byKey;
    std::vector<std::pair<std::string, std::string>> m_dotted;
};

// The answer of one node status, passed to take (name list, address) when it came in time.
template <typename Take>
void readStatus(
    const BoundedProcess::Result &run, const std::string &address, int timeout, NetView::Found &found, Take take)
{
    if (run.timedOut)
        found.warnings.push_back("el equipo " + address + " no ha dicho su nombre en " + NetConfig::seconds(timeout));
    else
        take(NameLookup::parseNodeStatus(run.out));
}

// The names of a browse list, passed to take when the master served it.
template <typename Take>
void readBrowseList(const BoundedProcess::Result &run, const std::string &address, int timeout, NetView::Found &found,
    bool &smbclientMissing, Take take)
{
    const SmbClient::Delivery outcome = SmbClient::classify(run);
    switch (outcome.outcome) {
    case SmbClient::Outcome::Delivered:
        take(SmbClient::parseBrowseList(run.out));
        return;
    case SmbClient::Outcome::Missing:
        if (!smbclientMissing)
            found.warnings.push_back("no se encuentra el programa smbclient en el PATH (paquete smbclient): no se "
                                     "han leído las listas de examinadores");
        smbclientMissing = true;
        return;
    case SmbClient::Outcome::TimedOut:
        found.warnings.push_back("el examinador " + address + " no ha dado su lista en " + NetConfig::seconds(timeout));
        return;
    default:
        found.warnings.push_back("el examinador " + address + " no ha dado su lista ("
            + (outcome.detail.empty() ? std::string("sin respuesta") : outcome.detail) + ")");
    }
}

} // namespace

NetView::Found NetView::computers(
    const std::string &group, const NameLookup::Options &lookup, const SmbClient::Options &client)
{
    Found found;
    const int timeout = lookup.timeoutSeconds;
    const auto queries = BoundedProcess::runAll({
        NameLookup::queryJob(group, false, lookup),
        NameLookup::queryJob(group, true, lookup),
    });
    if (!queries[0].found || !queries[0].started) {
        found.toolMissing = true;
        return found;
    }
    if (queries[0].timedOut && queries[1].timedOut) {
        found.timedOut = true;
        return found;
    }
    if (queries[0].timedOut)
        found.warnings.push_back("la búsqueda de los equipos del grupo " + group + " no ha terminado en "
            + NetConfig::seconds(timeout) + "; solo se listan los de su examinador");
    const Lines addresses = queries[0].timedOut ? Lines() : NameLookup::parseGroupAnswer(queries[0].out);
    const Lines masters = queries[1].timedOut ? Lines() : NameLookup::parseMasterAnswer(queries[1].out);

    std::vector<BoundedProcess::Job> jobs;
    for (const std::string &address : addresses)
        jobs.push_back(NameLookup::statusJob(address, lookup));
    for (const std::string &address : masters)
        jobs.push_back(SmbClient::listJob(address, client));
    const std::vector<BoundedProcess::Result> runs = BoundedProcess::runAll(jobs);

    Collector names(found);
    for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string &address = addresses[i];
        readStatus(runs[i], address, timeout, found, [&](const std::vector<NameLookup::NodeName> &status) {
            const std::string name = NameLookup::computerName(status);
            if (name.empty())
                found.warnings.push_back("el equipo " + address + " no dice su nombre");
            else if (!NameLookup::shownWhole(name))
                names.addDotted(name, "el equipo " + address);
            else
                names.add(name, address);
        });
    }
    bool smbclientMissing = false;
    for (size_t i = 0; i < masters.size(); ++i) {
        const std::string &address = masters[i];
        readBrowseList(runs[addresses.size() + i], address, timeout, found, smbclientMissing,
            [&](const SmbClient::BrowseList &list) {
                for (const std::string &server : list.servers)
                    names.add(server, "la lista de " + address);
            });
    }
    names.finish();
    return found;
}

NetView::Found NetView::groups(const NameLookup::Options &lookup, const SmbClient::Options &client)
{
    Found found;
    const int timeout = lookup.timeoutSeconds;
    // Every workgroup's master browser answers to the name "__MSBROWSE__".
    const auto query = BoundedProcess::runAll({ NameLookup::queryJob("-", true, lookup) }).front();
    if (!query.found || !query.started) {
        found.toolMissing = true;
        return found;
    }
    if (query.timedOut) {
        found.timedOut = true;
        return found;
    }
    const Lines masters = NameLookup::parseMasterAnswer(query.out);

    std::vector<BoundedProcess::Job> jobs;
    for (const std::string &address : masters) {
        jobs.push_back(NameLookup::statusJob(address, lookup));
        jobs.push_back(SmbClient::listJob(address, client));
    }
    const std::vector<BoundedProcess::Result> runs = BoundedProcess::runAll(jobs);

    Collector names(found);
    bool smbclientMissing = false;
    for (size_t i = 0; i < masters.size(); ++i) {
        const std::string &address = masters[i];
        readStatus(runs[2 * i], address, timeout, found, [&](const std::vector<NameLookup::NodeName> &status) {
            for (const std::string &group : NameLookup::masteredGroups(status)) {
                if (NameLookup::shownWhole(group))
                    names.add(group, address);
                else
                    names.addDotted(group, "el grupo del examinador " + address);
            }
        });
        readBrowseList(
            runs[2 * i + 1], address, timeout, found, smbclientMissing, [&](const SmbClient::BrowseList &list) {
                for (const std::string &workgroup : list.workgroups)
                    names.add(workgroup, "la lista de " + address);
            });
    }
    names.finish();
    return found;
}
