#pragma once

#include <QString>
#include <stdexcept>

// The one run-time error of the program: a number and a description, shown by the
// handlers that report errors as "error:" + number + " " + description.
class VbError : public std::runtime_error
{
public:
    VbError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
    {
    }

    int number() const { return m_number; }
    const QString &description() const { return m_description; }

    // The status-panel form of the error.
    QString statusText() const { return QStringLiteral("error:%1 %2").arg(m_number).arg(m_description); }

private:
    int m_number;
    QString m_description;
};
