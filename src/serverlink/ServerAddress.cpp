#include "serverlink/ServerAddress.h"

namespace ServerAddress {

QString Host(const QString &server)
{
    if (server.startsWith(u'[')) {
        const qsizetype close = server.indexOf(u']');
        return close < 0 ? server : server.mid(1, close - 1);
    }
    return server.count(u':') == 1 ? server.section(u':', 0, 0) : server;
}

bool Split(const QString &server, QString &host, quint16 &port)
{
    host = Host(server);
    qsizetype rest = host.size();
    if (server.startsWith(u'[')) {
        rest = server.indexOf(u']') + 1;
        if (rest == 0)
            return false;
    }
    if (host.isEmpty() || host.size() > 255)
        return false;
    for (QChar c : host)
        if (c.isSpace() || c.unicode() < 0x20 || c == u'/' || c == u'|')
            return false;
    if (rest == server.size())
        return true;
    if (server.at(rest) != u':')
        return false;
    bool ok = false;
    const uint value = server.mid(rest + 1).toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

} // namespace ServerAddress
