// velrisa-recibe: smbd's "message command". Drops each message it is handed into the
// mailbox, where every running Velrisa of the computer finds it (or, for a name of one
// user, into that user's own folder of it). smbd waits for it, so
// it does only that and returns.
#include "receiver/Delivery.h"

#include "receiver/Record.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// smbd keeps what its command writes to standard error only at some log levels: syslog too.
void say(int priority, const std::string &text)
{
    // Paths and names come from outside: no line breaks or escapes reach the log.
    const std::string line = Record::legible(text);
    std::fprintf(stderr, "velrisa-recibe: %s\n", line.c_str());
    ::syslog(priority, "%s", line.c_str());
}

} // namespace

int main(int argc, char *argv[])
{
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    ::openlog("velrisa-recibe", LOG_PID, LOG_DAEMON);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::string error;
    const auto request = Delivery::arguments(args, error);
    if (!request) {
        say(LOG_ERR, error);
        std::fprintf(stderr,
            "uso: velrisa-recibe [--buzon=CARPETA] [--usuarios=LISTA] [--equipo=EQUIPO] [--direccion=DIRECCION]\n"
            "                    REMITENTE DESTINATARIO ARCHIVO\n"
            "(en smb.conf: message command = velrisa-recibe --buzon=%s '--equipo=%%m' '--direccion=%%I' '%%f' '%%L' "
            "'%%s')\n",
            Delivery::kDefaultMailbox);
        return 2;
    }
    const Delivery::Result r = Delivery::deliver(*request, now.tv_sec, int32_t(now.tv_nsec), long(::getpid()));
    for (const std::string &warning : r.warnings)
        say(LOG_WARNING, warning);
    if (!r.delivered) {
        // Said first, then removed: nobody is left to read a message that stays, and smbd's
        // folder would fill up with them.
        say(LOG_ERR, r.error);
        const std::string discarded = Delivery::discard(request->file);
        if (!discarded.empty())
            say(LOG_WARNING, discarded);
        return 1;
    }
    return 0;
}
