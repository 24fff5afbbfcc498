#include "serverlink/FrameStream.h"

#include "serverlink/modSocketCmd.h"

#include <QList>

namespace {

// "@#" and a key of the protocol: wherever it stands, a frame begins there.
const QList<QByteArray> &startsWithKey()
{
    static const QList<QByteArray> starts = [] {
        QList<QByteArray> list;
        for (const QString &key : modSocketCmd::FieldKeys())
            list << "@#" + key.toLatin1();
        return list;
    }();
    return starts;
}

} // namespace

void FrameStream::clear()
{
    m_buffer.clear();
    m_at = 0;
    m_field = Field::None;
}

// Every byte is looked at a bounded number of times, however the bytes arrive: the state of
// the frame being read is kept between calls, and every decision needs at most the byte
// after the one looked at.
QStringList FrameStream::append(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    const qsizetype size = m_buffer.size();
    QStringList frames;
    qsizetype begin = 0; // the first byte still needed
    qsizetype at = m_at;
    Field field = m_field;
    qsizetype valueAt = m_valueAt;
    // The frame being read is given up; the search for the next start begins at from.
    const auto searchFrom = [&](qsizetype from) {
        begin = at = from;
        field = Field::None;
    };

    for (;;) {
        if (field == Field::None) {
            const qsizetype start = m_buffer.indexOf("@#", at);
            if (start < 0) {
                // Nothing here begins a frame, except a last '@' whose '#' is still to come.
                begin = at = qMax(at, m_buffer.endsWith('@') ? size - 1 : size);
                break;
            }
            begin = start;
            at = start + 2;
            field = Field::KeyStart;
        }
        if (at + 1 - begin > MaxFrame) {
            searchFrom(at); // no end can come within the limit
            continue;
        }
        if (at == size)
            break;
        const char c = m_buffer.at(at);
        if (c == '@' && m_buffer.at(at - 1) == '#') {
            // The first "#@" after the start ends the frame, wherever it stands: after a
            // value, inside a key, even across the start marker ("@#@"), as the frame
            // functions take it. Its '@' may begin the next frame: a frame short of its last
            // bytes before the next one is still read whole.
            frames << QString::fromLatin1(m_buffer.constData() + begin, at + 1 - begin);
            searchFrom(at);
            continue;
        }
        if (c == '#') {
            if (at + 1 == size)
                break; // the next byte decides
            if (m_buffer.at(at + 1) == '#') {
                field = Field::KeyStart;
                at += 2;
                continue;
            }
        } else if (c == '@' && field != Field::Value) {
            // No key holds '@': the frame was cut off, and a new one may begin here.
            searchFrom(at);
            continue;
        } else if (c == ':' && field != Field::Value) {
            field = Field::Value;
            valueAt = at + 1;
            ++at;
            continue;
        } else if (c == ':') {
            for (const QByteArray &start : startsWithKey()) {
                const qsizetype from = at + 1 - start.size();
                if (from >= valueAt && QByteArrayView(m_buffer).sliced(from, start.size()) == start) {
                    begin = from; // the value was cut off: a frame begins with this key
                    valueAt = at + 1;
                    break;
                }
            }
        }
        if (field == Field::KeyStart)
            field = Field::Key;
        ++at;
    }

    m_buffer.remove(0, begin);
    m_at = at - begin;
    m_field = field;
    m_valueAt = valueAt - begin;
    return frames;
}
