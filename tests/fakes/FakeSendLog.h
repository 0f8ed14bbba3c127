#pragma once

#include "dispatch/SendLog.h"
#include "sentlog/MessagesModel.h"

// The sent-messages log without its window: rows go to the model the window would show,
// and showing and repainting are counted.
class FakeSendLog final : public SendLog
{
public:
    void showWindow() override { ++m_shows; }
    void addRow(const QString &to) override { m_model.addRow(to); }
    void completeLastRow(qint16 estado, const QString &message, const QString &result, const QString &time,
        const QString &answer = QString()) override
    {
        m_model.completeLastRow(estado, message, result, time, answer);
    }
    void repaintRows() override { ++m_repaints; }

    int rows() const { return m_model.rowCount(); }

    MessagesModel m_model;
    int m_shows = 0;
    int m_repaints = 0;
};
