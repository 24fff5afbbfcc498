#pragma once

#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

inline bool promptShown() { return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible(); }
inline bool defineShown() { return frmPassDefine::Instance() && frmPassDefine::Instance()->isVisible(); }

// A control of the open prompt or definition dialog.
template<typename T = QPushButton>
T *dialogChild(bool define, const char *name)
{
    QWidget *d = define ? static_cast<QWidget *>(frmPassDefine::Instance()) : frmEnterPassword::Instance();
    return d ? d->findChild<T *>(QLatin1String(name)) : nullptr;
}

inline void clickIn(bool define, const char *button) { QTest::mouseClick(dialogChild(define, button), Qt::LeftButton); }

// Plays the operator while a caller waits for its dialog.
class DialogScript : public QObject
{
public:
    using Step = std::function<bool()>;

    DialogScript() { connect(&m_timer, &QTimer::timeout, this, [this] { tick(); }), m_timer.setInterval(10); }
    DialogScript &then(Step step) { return m_steps.append(std::move(step)), *this; }
    DialogScript &act(std::function<void()> action) { return then([action] { return action(), true; }); }
    // Types into the open prompt and presses Ok.
    DialogScript &enter(const QString &text)
    {
        return act([text] { dialogChild<QLineEdit>(false, "txtEnterPassword")->setText(text), clickIn(false, "cmdOk"); });
    }
    // Ok with an empty entry, or Cancel, once the prompt shows.
    DialogScript &answerPrompt(bool ok) { return then(promptShown).act([ok] { clickIn(false, ok ? "cmdOk" : "cmdCancel"); }); }
    void start() { m_timer.start(); }
    bool finished() const { return m_next >= m_steps.size(); }

private:
    void tick()
    {
        if (m_running) // a step's nested event loop
            return;
        if (finished())
            return m_timer.stop();
        m_running = true;
        m_next += m_steps.at(m_next)() ? 1 : 0;
        m_running = false;
    }

    QTimer m_timer;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    bool m_running = false;
};
