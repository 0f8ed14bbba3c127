#pragma once

#include "dispatch/SendWait.h"
#include "dispatch/SendWindow.h"
#include "dispatch/frmWait.h"
#include "fakes/FakeRuntime.h"
#include "sentlog/frmMensajes.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

// The part of the main window that a send run uses, over a plain widget, for the
// dispatch tests: texts and options are set by the test, the recent list is recorded.
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

// FakeRuntime that lets a test act at every yield (DoEvents) of a dispatch or a run.
class TestRuntime final : public FakeRuntime
{
public:
    void doEvents() override
    {
        ++m_yields;
        if (m_onYield)
            m_onYield(m_yields);
        FakeRuntime::doEvents();
    }

    int m_yields = 0;
    std::function<void(int)> m_onYield;
};
