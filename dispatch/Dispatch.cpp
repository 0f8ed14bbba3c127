#include "dispatch/Dispatch.h"

#include "dispatch/SendWait.h"
#include "dispatch/BatchLine.h"
#include "dispatch/Module1.h"
#include "dispatch/SendLog.h"
#include "dispatch/SendResult.h"
#include "dispatch/SendWindow.h"
#include "runtime/DataFile.h"
#include "runtime/DataFileQt.h"
#include "runtime/Runtime.h"
#include "runtime/Text.h"

#include <QFile>

#include <memory>
#include <optional>

namespace {

// Failures of one dispatch other than a refused write, numbered as the program's
// run-time errors are: the number goes into the box's title.
struct Failure
{
    int number;
    QString description;
};

constexpr int kFileNotFound = 53;
constexpr int kInputOutputError = 57;
constexpr int kEndOfFile = 62;

// The most of mensaje.txt that is read: its first line is all that counts.
constexpr size_t kMaxOutput = 64 * 1024;

// The hourglass and the wait over the main window; undone exactly once, on every way out.
class BusyState
{
public:
    BusyState(Runtime &rt, SendWindow &principal)
        : m_rt(rt)
    {
        m_rt.setHourglass(true);
        m_wait = principal.showWait();
    }
    ~BusyState() { restore(); }

    void restore()
    {
        if (m_restored)
            return;
        m_restored = true;
        m_rt.setHourglass(false);
        m_wait.reset();
    }

private:
    Runtime &m_rt;
    std::unique_ptr<SendWait> m_wait;
    bool m_restored = false;
};

// ejecuta.bat is written whole before the command starts, or the send stops and says why.
std::optional<Failure> writeBatch(const QString &batchPath, const QString &line)
{
    // Replaced whole, so that a link in its place is replaced rather than written through; not
    // forced to disk: it lives only until the command it holds has run, and a sync per recipient
    // would cost more than the rest of the dispatch.
    QString error;
    if (DataFileQt::replace(batchPath, BatchLine::contents(line), DataFile::Sync::NoFlush, &error))
        return std::nullopt;
    return Failure { kInputOutputError,
        QStringLiteral("No se pudo escribir %1, así que el mensaje no se ha enviado. Compruebe que queda espacio "
                       "libre en el disco y vuelva a enviarlo. (%2)")
            .arg(batchPath, error) };
}

// Before the command starts: output left by an earlier recipient must never pass for this one's.
std::optional<Failure> removePreviousOutput(const QString &outputPath)
{
    if (!QFile::exists(outputPath) || QFile::remove(outputPath))
        return std::nullopt;
    return Failure { kInputOutputError,
        QStringLiteral("No se pudo borrar %1, la respuesta del envío anterior, así que el mensaje no se ha enviado. "
                       "Compruebe que ese archivo no está protegido contra escritura y vuelva a enviarlo.")
            .arg(outputPath) };
}

// Once the command has ended: the beginning of mensaje.txt, which is all that counts; whatever
// may have taken its place is read without waiting on it.
std::optional<Failure> readOutput(const QString &outputPath, QByteArray &contents)
{
    struct stat found
    {
    };
    DataFile::ReadOptions options;
    options.limit = kMaxOutput;
    options.cut = true;
    const DataFile::ReadResult reading
        = DataFile::read(QFile::encodeName(outputPath).toStdString(), contents, &found, options);
    if (reading == DataFile::ReadResult::Missing && found.st_mode == 0) {
        return Failure { kFileNotFound,
            QStringLiteral("No se pudo leer %1, donde la orden net deja su respuesta, así que no se sabe si el "
                           "mensaje ha llegado. Compruebe que el programa net está junto a Velrisa y puede "
                           "ejecutarse, y vuelva a enviarlo.")
                .arg(outputPath) };
    }
    if (reading != DataFile::ReadResult::Read && reading != DataFile::ReadResult::Cut) {
        return Failure { kFileNotFound,
            QStringLiteral("%1, donde la orden net deja su respuesta, no es un archivo normal o no se puede leer, así "
                           "que no se sabe si el mensaje ha llegado. Bórrelo (o compruebe sus permisos) y vuelva a "
                           "enviarlo.")
                .arg(outputPath) };
    }
    if (contents.isEmpty()) {
        return Failure { kEndOfFile,
            QStringLiteral("La orden net terminó sin escribir nada en %1, así que no se sabe si el mensaje ha llegado. "
                           "Compruebe que el programa net junto a Velrisa funciona (por ejemplo, con «net send NOMBRE "
                           "prueba» en una terminal) y vuelva a enviarlo.")
                .arg(outputPath) };
    }
    return std::nullopt;
}

} // namespace

Dispatch::Dispatch(Runtime &rt, SendWindow &principal)
    : m_rt(rt)
    , m_principal(principal)
{ }

void Dispatch::saveClose()
{
    m_rt.saveSetting(QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"),
        QString::number(m_principal.closeState()));
}

qint16 Dispatch::EnviarADestino(const QString &recipient, const QString &message)
{
    // The log is on screen before anything else; the recipient is trimmed, the folder formed.
    SendLog &messages = m_principal.messages();
    messages.showWindow();
    const QString trimmed = Text::trimBlanks(recipient);
    const QString path = Text::withTrailingSeparator(m_principal.rutaPrograma());
    const QString batchPath = path + QStringLiteral("ejecuta.bat");
    const QString outputPath = path + QStringLiteral("mensaje.txt");
    m_answer.clear();

    // Hourglass, main window locked, wait window up: until the process ends or a failure.
    BusyState busy(m_rt, m_principal);
    // The hidden box's state is stored before every recipient, then the batch line is built.
    saveClose();
    const QString line = BatchLine::arm(trimmed, m_principal.chosenGroup(), message, path);

    // A failure from writing the batch file to reading its output: the row all the same, the
    // state restored, the reason told.
    bool rowAdded = false;
    auto fail = [&](const Failure &failure) -> qint16 {
        if (!rowAdded)
            messages.addRow(trimmed);
        busy.restore();
        m_answer = failure.description;
        m_rt.msgBox(
            failure.description, Runtime::Icon::Critical, QStringLiteral("Error: ") + QString::number(failure.number));
        return 0;
    };

    // A write refused to the program ends it, after saying so.
    if (DataFileQt::writeRefused(batchPath)) {
        busy.restore();
        m_rt.msgBox(QStringLiteral("No se pudo escribir en el directorio del programa. Asegurese de que tiene "
                                   "permisos y no este bloqueado contra escritura."),
            Runtime::Icon::Critical, QStringLiteral("Error de escritura"));
        m_rt.end();
    }
    if (const auto failure = writeBatch(batchPath, line))
        return fail(*failure);

    // The recipient's row goes in before the process starts.
    messages.addRow(trimmed);
    rowAdded = true;

    // The batch file runs minimised without the focus, and the run waits for its end.
    if (const auto failure = removePreviousOutput(outputPath))
        return fail(*failure);
    const qint64 pid = m_rt.shell(batchPath, Runtime::WindowStyle::MinimizedNoFocus);
    if (pid == 0) {
        // Nothing started, so nothing can have been sent: a failure, not a delivery to be
        // read from whatever mensaje.txt happens to hold.
        return fail({ kFileNotFound,
            QStringLiteral("No se pudo iniciar %1, así que el mensaje no se ha enviado. Vuelva a enviarlo; si el "
                           "fallo se repite, compruebe que se pueden ejecutar programas en el directorio de Velrisa.")
                .arg(batchPath) });
    }
    EsperarProceso(m_rt, qint32(pid), messages);
    m_rt.doEvents();

    // The main window takes input again and the wait window goes before the output is read.
    busy.restore();

    // Sent exactly when the output's first field says so.
    QByteArray contents;
    if (const auto failure = readOutput(outputPath, contents))
        return fail(*failure);
    m_answer = SendResult::firstLine(contents);
    return SendResult::evaluate(SendResult::firstField(contents));
}

void Dispatch::EnviarMensajes()
{
    saveClose();
    m_principal.messages().showWindow();

    // The length is fixed at the start; the line itself is read afresh at every step,
    // since the user may edit it at the yield after each recipient.
    const qsizetype n = m_principal.recipientText().size();
    qsizetype s = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        const QString line = m_principal.recipientText();
        const bool cut = (i <= line.size() && line.at(i - 1) == QLatin1Char(' ')) || i == line.size();
        if (!cut)
            continue;
        const QString token = Text::trimBlanks(line.mid(s, i - s));
        s = i;
        // Two blanks in a row or a blank at the start give an empty token: there is nobody
        // to send to, so it gets neither a `net send` nor a row.
        if (token.isEmpty())
            continue;

        const qint16 result = EnviarADestino(token, m_principal.messageText());
        const bool sent = result > 0;
        SendLog &messages = m_principal.messages();
        messages.completeLastRow(sent ? 2 : 3, m_principal.messageText(),
            sent ? QStringLiteral("Enviado") : QStringLiteral("Error"), Text::timeOfDay(m_rt.currentTime()),
            m_answer);
        messages.repaintRows();
        m_rt.doEvents();
    }

    m_principal.GuardarMRU();
    m_principal.CargarMRU();
}
