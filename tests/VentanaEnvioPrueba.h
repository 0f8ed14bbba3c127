#pragma once

#include "dispatch/VentanaEnvio.h"
#include "fakes/FakeRuntime.h"
#include "sentlog/frmMensajes.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

// The part of the main window that a send run uses, over a plain widget, for the
// dispatch tests: texts and options are set by the test, the recent list is recorded.
class VentanaEnvioPrueba final : public VentanaEnvio
{
public:
    QWidget *ventana() override { return &m_ventana; }
    QString rutaPrograma() const override { return m_ruta; }
    bool grupoElegido() const override { return m_grupo; }
    int estadoCerrar() const override { return m_cerrar; }
    QString textoDestino() const override { return m_destino; }
    QString textoMensaje() const override { return m_mensaje; }
    frmMensajes &mensajes() override
    {
        if (!m_mensajes)
            m_mensajes = std::make_unique<frmMensajes>(&m_ventana, m_esconder);
        return *m_mensajes;
    }
    void GuardarMRU() override { m_llamadasMRU << QStringLiteral("Guardar:") + m_destino; }
    void CargarMRU() override { m_llamadasMRU << QStringLiteral("Cargar"); }

    QWidget m_ventana;
    QString m_ruta;
    bool m_grupo = false;
    int m_cerrar = 1;
    QString m_destino;
    QString m_mensaje;
    bool m_esconder = false;
    std::unique_ptr<frmMensajes> m_mensajes;
    QStringList m_llamadasMRU;
};

// FakeRuntime that lets a test act at every yield (DoEvents) of a dispatch or a run.
class RuntimePrueba final : public FakeRuntime
{
public:
    void doEvents() override
    {
        ++m_cesiones;
        if (m_alCeder)
            m_alCeder(m_cesiones);
        FakeRuntime::doEvents();
    }

    int m_cesiones = 0;
    std::function<void(int)> m_alCeder;
};

namespace Prueba {

// A program directory holding the fake `net` of tests/data/ under the name `net`.
inline bool prepararPrograma(const QString &dir, const QString &script = QStringLiteral("net_prueba.sh"))
{
    const QString destino = QDir(dir).filePath(QStringLiteral("net"));
    QFile::remove(destino);
    return QDir().mkpath(dir) && QFile::copy(QStringLiteral(VELRISA_TEST_DATA "/") + script, destino)
        && QFile::setPermissions(destino, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The calls recorded by the fake `net`: each one the list of its arguments.
inline QList<QStringList> llamadasNet(const QString &dir)
{
    QFile f(QDir(dir).filePath(QStringLiteral("net.registro")));
    QList<QStringList> result;
    if (!f.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> partes = f.readAll().split('\0');
    for (qsizetype k = 0; k + 1 < partes.size();) {
        const int n = partes.at(k).toInt();
        QStringList args;
        for (int j = 1; j <= n && k + j < partes.size(); ++j)
            args << QString::fromLocal8Bit(partes.at(k + j));
        result << args;
        k += n + 1;
    }
    return result;
}

} // namespace Prueba
