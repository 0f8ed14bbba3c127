#include "receiver/Delivery.h"

#include "receiver/Recipients.h"
#include "receiver/Record.h"
#include "receiver/SafeFolder.h"
#include "receiver/SharedFolderFile.h"
#include "receiver/TextRepair.h"
#include "runtime/posix/Descriptor.h"
#include "runtime/posix/Folder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Delivery {

namespace {

// Beyond this many entries the mailbox is not a mailbox any more: stop looking.
constexpr size_t kMaxEntries = 100000;
// A temporary this old belongs to no delivery in progress.
constexpr int64_t kTemporaryAge = 3600;
// Clocks of parallel deliveries differ by this much at most; a name further ahead is looked at.
constexpr int64_t kToleratedLead = 60;

struct Found
{
    std::string name;
    int64_t seconds = 0;
    int32_t nanoseconds = 0;
    // When it arrived on this computer: its name's time, unless the file came later (its
    // change time, which no user sets). A name from the future, of a sender's clock or a
    // hand-made file, then counts from when the file came, not as the newest forever.
    timespec arrival = {};
};

bool before(const timespec &a, const timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

bool isMine(int dirfd, const std::string &name, struct stat *info = nullptr)
{
    struct stat st = {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (info)
        *info = st;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

void erase(int dirfd, const std::string &name, std::vector<std::string> &warnings)
{
    if (::unlinkat(dirfd, name.c_str(), 0) != 0 && errno != ENOENT)
        warnings.push_back("no se puede borrar " + name + " del buzón: " + SharedFolderFile::describeError(errno));
}

} // namespace

std::optional<Request> arguments(const std::vector<std::string> &args, std::string &error)
{
    Request p;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--") {
            ++i;
            break;
        }
        const std::string &a = args[i];
        // smbd leaves %m or %I empty where it does not know them.
        if (a.rfind("--equipo=", 0) == 0)
            p.computer = a.substr(9);
        else if (a.rfind("--direccion=", 0) == 0)
            p.address = a.substr(12);
        else if (a.rfind("--buzon=", 0) == 0 && a.size() > 8)
            p.mailbox = a.substr(8);
        else if (a.rfind("--usuarios=", 0) == 0 && a.size() > 11)
            p.users = a.substr(11);
        else {
            error = "opción desconocida: " + a;
            return std::nullopt;
        }
    }
    const std::vector<std::string> rest(args.begin() + std::ptrdiff_t(i), args.end());
    if (rest.size() < 2) {
        error = "faltan el remitente o el archivo del mensaje";
        return std::nullopt;
    }
    p.from = rest.front();
    p.file = rest.back();
    for (size_t k = 1; k + 1 < rest.size(); ++k)
        p.to += (k > 1 ? " " : "") + rest[k];
    return p;
}

namespace {

// The user's own folder in the mailbox: a folder (never a link) that the user owns and
// nobody but the user and the receiver's group can enter. Not open, with error, otherwise.
Descriptor ownFolder(int mailboxFd, const std::string &mailbox, const std::string &user, std::string &error)
{
    const passwd *pw = ::getpwnam(user.c_str());
    if (!pw) {
        error = "el usuario " + user + " no existe";
        return {};
    }
    const uid_t uid = pw->pw_uid;
    const std::string path = mailbox + '/' + user;
    Descriptor fd(::openat(mailboxFd, user.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) {
        error = "no se puede abrir la carpeta " + path + ": " + SharedFolderFile::describeError(errno);
        return {};
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0 || st.st_uid != uid || (st.st_mode & 07) != 0) {
        error = "la carpeta " + path + " no es solo de " + user + ": no se deja en ella";
        return {};
    }
    return fd;
}

} // namespace

Result deliver(const Request &request, int64_t seconds, int32_t nanoseconds, long pid, const Limits &limits)
{
    Result r;
    if (!request.users.empty()) {
        // Without the list a person's message could reach everybody: nothing is delivered.
        const auto map = Recipients::read(request.users, r.error, limits.usersOwner);
        if (!map) {
            r.error += "; el mensaje de " + request.from + " estaba en " + request.file;
            return r;
        }
        r.user = Recipients::userOf(*map, request.to);
    }
    const std::string atRisk = SafeFolder::problem(request.mailbox, ::geteuid());
    if (!atRisk.empty()) {
        r.error = "se rechaza el buzón " + request.mailbox + ": " + atRisk + "; el mensaje de " + request.from
            + " estaba en " + request.file;
        return r;
    }
    Descriptor folder = Folder::open(request.mailbox, Folder::Links::Refuse);
    if (!folder.isOpen()) {
        r.error = "no se puede abrir el buzón " + request.mailbox + ": " + SharedFolderFile::describeError(errno)
            + "; el mensaje de " + request.from + " estaba en " + request.file;
        return r;
    }
    if (!r.user.empty()) {
        folder = ownFolder(folder.get(), request.mailbox, r.user, r.error);
        if (!folder.isOpen()) {
            r.error += "; el mensaje de " + request.from + " estaba en " + request.file;
            return r;
        }
    }
    const int dirfd = folder.get();
    const SharedFolderFile::Contents reading = SharedFolderFile::read(AT_FDCWD, request.file, Record::kMaxTextBytes);
    if (!reading.error.empty()) {
        r.error = "no se puede leer el mensaje " + request.file + ": " + reading.error;
        return r;
    }

    Record::Message m;
    bool cut = false;
    m.from = Record::cleanName(request.from, &cut);
    if (cut)
        r.warnings.push_back("el remitente tenía más de 64 caracteres: se ha cortado");
    m.to = Record::cleanName(request.to, &cut);
    if (cut)
        r.warnings.push_back("el destinatario tenía más de 64 caracteres: se ha cortado");
    m.computer = Record::cleanName(request.computer);
    m.address = Record::cleanName(request.address);
    m.text = Record::cleanText(TextRepair::repair(reading.bytes), &cut);
    m.cut = cut || reading.exceeds;
    if (m.cut)
        r.warnings.push_back("el mensaje de " + m.from + " tenía más de 1600 caracteres: se guardan los primeros");
    m.seconds = seconds;
    m.nanoseconds = nanoseconds;
    const std::string bytes = Record::compose(m);

    // Under a name no record can have, then renamed: a reader sees the whole record or none.
    std::string name;
    std::string error;
    for (int32_t attempt = 0; attempt < 8; ++attempt) {
        // A name somebody holds: the next nanosecond's is as good.
        name = Record::fileName(seconds, (nanoseconds + attempt) % 1000000000, pid);
        const std::string temporary = '.' + name;
        bool exists = false;
        error = SharedFolderFile::createNew(dirfd, temporary, bytes, 0644, &exists);
        if (error.empty()) {
            error = SharedFolderFile::renameNoReplace(dirfd, temporary, name, &exists);
            if (!error.empty())
                ::unlinkat(dirfd, temporary.c_str(), 0);
        }
        if (error.empty() || !exists)
            break;
    }
    if (!error.empty()) {
        r.error = "no se puede guardar el mensaje de " + m.from + " en el buzón " + request.mailbox
            + (r.user.empty() ? "" : '/' + r.user) + ": " + error + "; estaba en " + request.file;
        return r;
    }
    r.delivered = true;
    r.record = name;
    const std::string left = SharedFolderFile::removeOwn(request.file);
    if (!left.empty())
        r.warnings.push_back("no se puede borrar " + request.file + ": " + left);
    prune(dirfd, seconds, limits, r.warnings, name);
    return r;
}

std::string discard(const std::string &file)
{
    bool missing = false;
    const std::string left = SharedFolderFile::removeOwn(file, &missing);
    if (missing)
        return {};
    return left.empty() ? "se borra " + file : "no se borra " + file + ": " + left;
}

void prune(
    int dirfd, int64_t now, const Limits &limits, std::vector<std::string> &warnings, const std::string &keep)
{
    std::vector<Found> records;
    int64_t oldest = now;
    int64_t newest = now;
    const Folder::Listing listing = Folder::forEachEntry(dirfd, kMaxEntries, [&](const char *entry) {
        const std::string name = entry;
        Found f { name, 0, 0, {} };
        if (Record::isRecordName(name, &f.seconds, &f.nanoseconds)) {
            oldest = std::min(oldest, f.seconds);
            newest = std::max(newest, f.seconds);
            records.push_back(std::move(f));
        } else if (name.size() > 1 && name[0] == '.' && Record::isRecordName(name.substr(1))) {
            struct stat st = {};
            if (isMine(dirfd, name, &st) && st.st_mtime < now - kTemporaryAge)
                erase(dirfd, name, warnings);
        }
    });
    if (listing == Folder::Listing::Unreadable) {
        warnings.push_back("no se puede leer el buzón: " + SharedFolderFile::describeError(errno));
        return;
    }
    if (listing == Folder::Listing::Cut)
        warnings.push_back("el buzón tiene más de 100000 entradas: no se mira más allá");

    const int64_t ageLimit = now - limits.maxAgeSeconds;
    // The usual case needs no look at any file: nothing is over either limit, and no name
    // claims a time well ahead.
    if (records.size() <= limits.maxRecords && oldest >= ageLimit && newest <= now + kToleratedLead)
        return;
    std::vector<Found> own;
    own.reserve(records.size());
    for (Found &f : records) {
        struct stat st = {};
        if (!isMine(dirfd, f.name, &st))
            continue;
        f.arrival = { time_t(f.seconds), f.nanoseconds };
        if (before(st.st_ctim, f.arrival))
            f.arrival = st.st_ctim;
        own.push_back(std::move(f));
    }
    std::sort(own.begin(), own.end(), [](const Found &a, const Found &b) {
        return before(a.arrival, b.arrival) || (!before(b.arrival, a.arrival) && a.name < b.name);
    });
    size_t excess = own.size() > limits.maxRecords
        ? std::min(own.size(), own.size() - limits.maxRecords + limits.slack)
        : 0;
    for (const Found &f : own) {
        // The record just written is the newest of all, whatever the clock said before.
        if (f.name == keep)
            continue;
        if (excess > 0) {
            --excess;
            erase(dirfd, f.name, warnings);
        } else if (f.arrival.tv_sec < ageLimit) {
            erase(dirfd, f.name, warnings);
        }
    }
}

} // namespace Delivery
