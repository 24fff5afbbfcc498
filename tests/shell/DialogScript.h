#pragma once

#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

inline bool promptShown()
{
    return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible();
}

inline bool defineShown()
{
    return frmPassDefine::Instance() && frmPassDefine::Instance()->isVisible();
}

// Plays the operator while a gate or the Security entry waits for its dialog. A step that
// returns false is tried again on the next tick. The watchdog cancels every open dialog so
// that a stuck script fails the test instead of hanging it.
class DialogScript : public QObject
{
public:
    using Step = std::function<bool()>;

    DialogScript()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    DialogScript &then(Step step)
    {
        m_steps.append(std::move(step));
        return *this;
    }
    DialogScript &act(std::function<void()> action)
    {
        return then([action = std::move(action)] {
            action();
            return true;
        });
    }
    // Types into the open prompt and presses Ok.
    DialogScript &enter(const QString &text)
    {
        return act([text] {
            frmEnterPassword *p = frmEnterPassword::Instance();
            p->txtEnterPassword->setText(text);
            QTest::mouseClick(p->cmdOk, Qt::LeftButton);
        });
    }
    // Ok with an empty entry, or Cancel, once the prompt shows.
    DialogScript &answerPrompt(bool ok)
    {
        return then(promptShown).act([ok] {
            frmEnterPassword *p = frmEnterPassword::Instance();
            QTest::mouseClick(ok ? p->cmdOk : p->cmdCancel, Qt::LeftButton);
        });
    }

    void start() { m_clock.start(), m_timer.start(); }
    bool finished() const { return m_next >= m_steps.size(); }
    bool timedOut() const { return m_timedOut; }

private:
    void tick()
    {
        if (m_running)
            return;
        if (finished() || m_clock.elapsed() > 15000) {
            m_timer.stop();
            m_timedOut = !finished();
            for (PasswordDialog *open : {static_cast<PasswordDialog *>(frmEnterPassword::Instance()),
                                         static_cast<PasswordDialog *>(frmPassDefine::Instance())})
                if (open && m_timedOut)
                    open->cmdCancel_Click();
            return;
        }
        m_running = true;
        if (m_steps.at(m_next)())
            ++m_next;
        m_running = false;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    bool m_timedOut = false;
    bool m_running = false;
};
