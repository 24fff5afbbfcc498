#pragma once

#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

// Plays the operator while a gate or the Security entry waits for its dialog: the steps run
// one after another from the events the waiting code processes. A step returns false to be
// tried again on the next tick (waiting for something to appear). If the script has not
// finished after a while, the watchdog cancels every open dialog so that the waiting code
// returns and the test fails instead of hanging.
class DialogScript : public QObject
{
public:
    using Step = std::function<bool()>;

    explicit DialogScript(int watchdogMs = 15000) : m_watchdogMs(watchdogMs)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    DialogScript &then(Step step)
    {
        m_steps.append(std::move(step));
        return *this;
    }
    // A step that always succeeds.
    DialogScript &act(std::function<void()> action)
    {
        return then([action = std::move(action)] {
            action();
            return true;
        });
    }

    void start()
    {
        m_clock.start();
        m_timer.start();
    }

    bool finished() const { return m_next >= m_steps.size(); }
    bool timedOut() const { return m_timedOut; }

private:
    void tick()
    {
        if (m_running)
            return;
        if (finished()) {
            m_timer.stop();
            return;
        }
        if (m_clock.elapsed() > m_watchdogMs) {
            m_timedOut = true;
            m_timer.stop();
            if (frmEnterPassword *p = frmEnterPassword::Instance())
                p->cmdCancel_Click();
            if (frmPassDefine *d = frmPassDefine::Instance())
                d->cmdCancel_Click();
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
    int m_watchdogMs;
    bool m_timedOut = false;
    bool m_running = false;
};
