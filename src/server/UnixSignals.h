#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as signals of the event loop, through a socket pair the handler
// writes to: nothing else may be done inside a signal handler.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignals(QObject *parent = nullptr);
    ~UnixSignals() override;

signals:
    void terminate();
    void reload();

private:
    QSocketNotifier *m_notifier = nullptr;
};
