// velrisa-recibe: smbd's "message command". Drops each message it is handed into the
// mailbox, where every running Velrisa of the computer finds it (or, for a name of one
// user, into that user's own folder of it). smbd waits for it, so
// it does only that and returns.
#include "receiver/Entrega.h"

#include "receiver/Registro.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// smbd keeps what its command writes to standard error only at some log levels: syslog too.
void decir(int prioridad, const std::string &texto)
{
    // Paths and names come from outside: no line breaks or escapes reach the log.
    const std::string linea = Registro::legible(texto);
    std::fprintf(stderr, "velrisa-recibe: %s\n", linea.c_str());
    ::syslog(prioridad, "%s", linea.c_str());
}

} // namespace

int main(int argc, char *argv[])
{
    timespec ahora = {};
    ::clock_gettime(CLOCK_REALTIME, &ahora);
    ::openlog("velrisa-recibe", LOG_PID, LOG_DAEMON);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::string error;
    const auto peticion = Entrega::argumentos(args, error);
    if (!peticion) {
        decir(LOG_ERR, error);
        std::fprintf(stderr,
            "uso: velrisa-recibe [--buzon=CARPETA] [--usuarios=LISTA] [--equipo=EQUIPO] [--direccion=DIRECCION]\n"
            "                    REMITENTE DESTINATARIO ARCHIVO\n"
            "(en smb.conf: message command = velrisa-recibe --buzon=%s '--equipo=%%m' '--direccion=%%I' '%%f' '%%L' "
            "'%%s')\n",
            Entrega::kBuzonPredeterminado);
        return 2;
    }
    const Entrega::Resultado r = Entrega::entregar(*peticion, ahora.tv_sec, int32_t(ahora.tv_nsec), long(::getpid()));
    for (const std::string &aviso : r.avisos)
        decir(LOG_WARNING, aviso);
    if (!r.entregado) {
        // Said first, then removed: nobody is left to read a message that stays, and smbd's
        // folder would fill up with them.
        decir(LOG_ERR, r.error);
        const std::string descarte = Entrega::descartar(peticion->archivo);
        if (!descarte.empty())
            decir(LOG_WARNING, descarte);
        return 1;
    }
    return 0;
}
