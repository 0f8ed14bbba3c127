#pragma once

#include "dispatch/SendWait.h"
#include "dispatch/SendWindow.h"
#include "fakes/FakeSendLog.h"

#include <QStringList>

#include <memory>

// The part of the main window that a send run uses, without a window: texts and options are
// set by the test; the log, the waits and the recent list are recorded.
class FakeSendWindow final : public SendWindow
{
public:
    std::unique_ptr<SendWait> showWait() override
    {
        ++m_waitsShown;
        return std::make_unique<Wait>(m_waiting);
    }
    QString rutaPrograma() const override { return m_path; }
    bool chosenGroup() const override { return m_group; }
    int closeState() const override { return m_close; }
    QString recipientText() const override { return m_recipient; }
    QString messageText() const override { return m_message; }
    FakeSendLog &messages() override { return m_log; }
    void GuardarMRU() override { m_mruCalls << QStringLiteral("Guardar:") + m_recipient; }
    void CargarMRU() override { m_mruCalls << QStringLiteral("Cargar"); }

    QString m_path;
    bool m_group = false;
    int m_close = 1;
    QString m_recipient;
    QString m_message;

    FakeSendLog m_log;
    int m_waitsShown = 0;
    int m_waiting = 0; // waits alive now: the main window would be locked
    QStringList m_mruCalls;

private:
    class Wait final : public SendWait
    {
    public:
        explicit Wait(int &waiting)
            : m_waiting(waiting)
        {
            ++m_waiting;
        }
        ~Wait() override { --m_waiting; }

    private:
        int &m_waiting;
    };
};
