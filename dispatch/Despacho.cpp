#include "dispatch/Despacho.h"

#include "dispatch/EsperaEnvio.h"
#include "dispatch/LineaLote.h"
#include "dispatch/Module1.h"
#include "dispatch/RegistroEnvios.h"
#include "dispatch/ResultadoEnvio.h"
#include "dispatch/VentanaEnvio.h"
#include "runtime/DataFile.h"
#include "runtime/DataFileQt.h"
#include "runtime/Runtime.h"
#include "runtime/Texto.h"

#include <QFile>

#include <memory>
#include <optional>

namespace {

// Failures of one dispatch other than a refused write, numbered as the program's
// run-time errors are: the number goes into the box's title.
struct Fallo
{
    int numero;
    QString descripcion;
};

constexpr int kArchivoNoEncontrado = 53;
constexpr int kErrorEntradaSalida = 57;
constexpr int kFinDeArchivo = 62;

// The most of mensaje.txt that is read: its first line is all that counts.
constexpr size_t kMaxSalida = 64 * 1024;

// The hourglass and the wait over the main window; undone exactly once, on every way out.
class EstadoOcupado
{
public:
    EstadoOcupado(Runtime &rt, VentanaEnvio &principal)
        : m_rt(rt)
    {
        m_rt.setHourglass(true);
        m_espera = principal.mostrarEspera();
    }
    ~EstadoOcupado() { restaurar(); }

    void restaurar()
    {
        if (m_restaurado)
            return;
        m_restaurado = true;
        m_rt.setHourglass(false);
        m_espera.reset();
    }

private:
    Runtime &m_rt;
    std::unique_ptr<EsperaEnvio> m_espera;
    bool m_restaurado = false;
};

// Step 8: ejecuta.bat written whole, or why not.
std::optional<Fallo> escribirLote(const QString &rutaLote, const QString &linea)
{
    // Replaced whole, so that a link in its place is replaced rather than written through; not
    // forced to disk: it lives only until the command it holds has run, and a sync per recipient
    // would cost more than the rest of the dispatch.
    QString error;
    if (DataFileQt::replace(rutaLote, LineaLote::contenido(linea), DataFile::Sync::NoFlush, &error))
        return std::nullopt;
    return Fallo { kErrorEntradaSalida,
        QStringLiteral("No se pudo escribir %1, así que el mensaje no se ha enviado. Compruebe que queda espacio "
                       "libre en el disco y vuelva a enviarlo. (%2)")
            .arg(rutaLote, error) };
}

// Before step 10: output left by an earlier recipient must never pass for this one's.
std::optional<Fallo> quitarSalidaAnterior(const QString &rutaSalida)
{
    if (!QFile::exists(rutaSalida) || QFile::remove(rutaSalida))
        return std::nullopt;
    return Fallo { kErrorEntradaSalida,
        QStringLiteral("No se pudo borrar %1, la respuesta del envío anterior, así que el mensaje no se ha enviado. "
                       "Compruebe que ese archivo no está protegido contra escritura y vuelva a enviarlo.")
            .arg(rutaSalida) };
}

// Step 12: the beginning of mensaje.txt, which is all that counts; whatever may have taken its
// place is read without waiting on it.
std::optional<Fallo> leerSalida(const QString &rutaSalida, QByteArray &contenido)
{
    struct stat hallado
    {
    };
    DataFile::ReadOptions opciones;
    opciones.limit = kMaxSalida;
    opciones.cut = true;
    const DataFile::ReadResult lectura
        = DataFile::read(QFile::encodeName(rutaSalida).toStdString(), contenido, &hallado, opciones);
    if (lectura == DataFile::ReadResult::Missing && hallado.st_mode == 0) {
        return Fallo { kArchivoNoEncontrado,
            QStringLiteral("No se pudo leer %1, donde la orden net deja su respuesta, así que no se sabe si el "
                           "mensaje ha llegado. Compruebe que el programa net está junto a Velrisa y puede "
                           "ejecutarse, y vuelva a enviarlo.")
                .arg(rutaSalida) };
    }
    if (lectura != DataFile::ReadResult::Read && lectura != DataFile::ReadResult::Cut) {
        return Fallo { kArchivoNoEncontrado,
            QStringLiteral("%1, donde la orden net deja su respuesta, no es un archivo normal o no se puede leer, así "
                           "que no se sabe si el mensaje ha llegado. Bórrelo (o compruebe sus permisos) y vuelva a "
                           "enviarlo.")
                .arg(rutaSalida) };
    }
    if (contenido.isEmpty()) {
        return Fallo { kFinDeArchivo,
            QStringLiteral("La orden net terminó sin escribir nada en %1, así que no se sabe si el mensaje ha llegado. "
                           "Compruebe que el programa net junto a Velrisa funciona (por ejemplo, con «net send NOMBRE "
                           "prueba» en una terminal) y vuelva a enviarlo.")
                .arg(rutaSalida) };
    }
    return std::nullopt;
}

} // namespace

Despacho::Despacho(Runtime &rt, VentanaEnvio &principal)
    : m_rt(rt)
    , m_principal(principal)
{ }

void Despacho::guardarCerrar()
{
    m_rt.saveSetting(QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"),
        QString::number(m_principal.estadoCerrar()));
}

qint16 Despacho::EnviarADestino(const QString &destino, const QString &mensaje)
{
    // The log is on screen before anything else; the recipient is trimmed, the folder formed.
    RegistroEnvios &mensajes = m_principal.mensajes();
    mensajes.mostrar();
    const QString recortado = Texto::trimBlanks(destino);
    const QString ruta = Texto::withTrailingSeparator(m_principal.rutaPrograma());
    const QString rutaLote = ruta + QStringLiteral("ejecuta.bat");
    const QString rutaSalida = ruta + QStringLiteral("mensaje.txt");
    m_respuesta.clear();

    // Hourglass, main window locked, wait window up: until the process ends or a failure.
    EstadoOcupado ocupado(m_rt, m_principal);
    // The hidden box's state is stored before every recipient, then the batch line is built.
    guardarCerrar();
    const QString linea = LineaLote::armar(recortado, m_principal.grupoElegido(), mensaje, ruta);

    // A failure from writing the batch file to reading its output: the row all the same, the
    // state restored, the reason told.
    bool filaAgregada = false;
    auto fallar = [&](const Fallo &fallo) -> qint16 {
        if (!filaAgregada)
            mensajes.agregarFila(recortado);
        ocupado.restaurar();
        m_respuesta = fallo.descripcion;
        m_rt.msgBox(
            fallo.descripcion, Runtime::Icon::Critical, QStringLiteral("Error: ") + QString::number(fallo.numero));
        return 0;
    };

    // A write refused to the program ends it, after saying so.
    if (DataFileQt::writeRefused(rutaLote)) {
        ocupado.restaurar();
        m_rt.msgBox(QStringLiteral("No se pudo escribir en el directorio del programa. Asegurese de que tiene "
                                   "permisos y no este bloqueado contra escritura."),
            Runtime::Icon::Critical, QStringLiteral("Error de escritura"));
        m_rt.end();
    }
    if (const auto fallo = escribirLote(rutaLote, linea))
        return fallar(*fallo);

    // The recipient's row goes in before the process starts.
    mensajes.agregarFila(recortado);
    filaAgregada = true;

    // The batch file runs minimised without the focus, and the run waits for its end.
    if (const auto fallo = quitarSalidaAnterior(rutaSalida))
        return fallar(*fallo);
    const qint64 pid = m_rt.shell(rutaLote, Runtime::WindowStyle::MinimizedNoFocus);
    if (pid == 0) {
        // Nothing started, so nothing can have been sent: a failure, not a delivery to be
        // read from whatever mensaje.txt happens to hold.
        return fallar({ kArchivoNoEncontrado,
            QStringLiteral("No se pudo iniciar %1, así que el mensaje no se ha enviado. Vuelva a enviarlo; si el "
                           "fallo se repite, compruebe que se pueden ejecutar programas en el directorio de Velrisa.")
                .arg(rutaLote) });
    }
    EsperarProceso(m_rt, qint32(pid), mensajes);
    m_rt.doEvents();

    // The main window takes input again and the wait window goes before the output is read.
    ocupado.restaurar();

    // Sent exactly when the output's first field says so.
    QByteArray contenido;
    if (const auto fallo = leerSalida(rutaSalida, contenido))
        return fallar(*fallo);
    m_respuesta = ResultadoEnvio::primeraLinea(contenido);
    return ResultadoEnvio::evaluar(ResultadoEnvio::primerCampo(contenido));
}

void Despacho::EnviarMensajes()
{
    guardarCerrar();
    m_principal.mensajes().mostrar();

    // The length is fixed at the start; the line itself is read afresh at every step,
    // since the user may edit it at the yield after each recipient.
    const qsizetype n = m_principal.textoDestino().size();
    qsizetype s = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        const QString linea = m_principal.textoDestino();
        const bool corte = (i <= linea.size() && linea.at(i - 1) == QLatin1Char(' ')) || i == linea.size();
        if (!corte)
            continue;
        const QString token = Texto::trimBlanks(linea.mid(s, i - s));
        s = i;
        // Two blanks in a row or a blank at the start give an empty token: there is nobody
        // to send to, so it gets neither a `net send` nor a row.
        if (token.isEmpty())
            continue;

        const qint16 resultado = EnviarADestino(token, m_principal.textoMensaje());
        const bool enviado = resultado > 0;
        RegistroEnvios &mensajes = m_principal.mensajes();
        mensajes.completarUltimaFila(enviado ? 2 : 3, m_principal.textoMensaje(),
            enviado ? QStringLiteral("Enviado") : QStringLiteral("Error"), Texto::timeOfDay(m_rt.currentTime()),
            m_respuesta);
        mensajes.repintar();
        m_rt.doEvents();
    }

    m_principal.GuardarMRU();
    m_principal.CargarMRU();
}
