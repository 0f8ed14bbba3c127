#pragma once

#include "dispatch/SendWait.h"
#include "dispatch/SendWindow.h"
#include "dispatch/frmWait.h"
#include "sentlog/frmMensajes.h"

#include <QStringList>
#include <QWidget>

#include <memory>

// The part of the main window that a send run uses, over a plain widget with the real wait
// and sent-messages windows: texts and options are set by the test, the recent list is
// recorded. FakeSendWindow is the same without any window.
class TestSendWindow final : public SendWindow
{
public:
    std::unique_ptr<SendWait> showWait() override { return frmWait::waitOver(&m_window); }
    QString rutaPrograma() const override { return m_path; }
    bool chosenGroup() const override { return m_group; }
    int closeState() const override { return m_close; }
    QString recipientText() const override { return m_recipient; }
    QString messageText() const override { return m_message; }
    frmMensajes &messages() override
    {
        if (!m_messages)
            m_messages = std::make_unique<frmMensajes>(&m_window, [this] { return m_hide; });
        return *m_messages;
    }
    void GuardarMRU() override { m_mruCalls << QStringLiteral("Guardar:") + m_recipient; }
    void CargarMRU() override { m_mruCalls << QStringLiteral("Cargar"); }

    QWidget m_window;
    QString m_path;
    bool m_group = false;
    int m_close = 1;
    QString m_recipient;
    QString m_message;
    bool m_hide = false;
    std::unique_ptr<frmMensajes> m_messages;
    QStringList m_mruCalls;
};
