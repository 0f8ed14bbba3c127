#pragma once

#include <QString>

// The sent-messages log as a send run drives it: a row per attempt, opened with the recipient
// and completed once the answer is known. The sent-messages window implements it.
class SendLog
{
public:
    virtual ~SendLog() = default;

    // Visible, in front and active.
    virtual void showWindow() = 0;
    // A new last row holding only the recipient.
    virtual void addRow(const QString &to) = 0;
    // answer, what the send was answered, is shown when the pointer rests on the result.
    virtual void completeLastRow(qint16 estado, const QString &message, const QString &result,
        const QString &time, const QString &answer = QString())
        = 0;
    // Draws at once what has changed, so a completed row shows while a run goes on.
    virtual void repaintRows() = 0;
};
