#include "platform/IniFile.h"

#include "platform/FileWrite.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <memory>

namespace IniFile {

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

// One line of the file: its bytes as read (so untouched lines are written back exactly),
// its terminator and what it means.
struct Line
{
    enum Kind { Blank, Comment, Section, Key };

    QByteArray raw;
    QByteArray eol;
    Kind kind = Blank;
    QString name;       // section or key name
    QString value;      // key value as stored (trimmed, quotes kept)
    bool hasValue = false; // a key line without "=" has none
};

} // namespace

struct Document
{
    QList<Line> lines;
};

namespace {

void classify(Line &line, bool first)
{
    QByteArray bytes = line.raw;
    if (first && bytes.startsWith(kUtf8Bom))
        bytes.remove(0, kUtf8Bom.size());
    // Only the file's own byte order mark is left out: one that begins a later line is part
    // of the name written there.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = QString(decode(bytes)).trimmed();
    if (text.isEmpty()) {
        line.kind = Line::Blank;
        return;
    }
    if (text.startsWith(u';')) {
        line.kind = Line::Comment;
        return;
    }
    if (text.startsWith(u'[')) {
        const qsizetype close = text.lastIndexOf(u']');
        if (close > 0) {
            line.kind = Line::Section;
            line.name = text.mid(1, close - 1).trimmed();
            return;
        }
        // "[" without "]" is no section header; it is read as a key line.
    }
    line.kind = Line::Key;
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0) {
        line.name = text;
        line.hasValue = false;
        return;
    }
    QString name = text.left(eq);
    while (!name.isEmpty() && name.back().isSpace())
        name.chop(1);
    line.name = name;
    line.value = text.mid(eq + 1).trimmed();
    line.hasValue = true;
}

Document parse(const QByteArray &data)
{
    Document doc;
    qsizetype pos = 0;
    const qsizetype n = data.size();
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && data.at(end) != '\n' && data.at(end) != '\r')
            ++end;
        Line line;
        line.raw = data.mid(pos, end - pos);
        if (end < n) {
            if (data.at(end) == '\r' && end + 1 < n && data.at(end + 1) == '\n')
                line.eol = kCrLf;
            else
                line.eol = data.mid(end, 1);
        }
        classify(line, doc.lines.isEmpty());
        doc.lines.append(line);
        pos = end + line.eol.size();
    }
    return doc;
}

// Reads the file; false when it does not exist or cannot be read.
bool load(const QString &fileName, Document &doc)
{
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    doc = parse(file.readAll());
    return true;
}

// Index range [begin, end) of the lines that belong to the first section of that name
// (after its header), or false when there is none. The nameless section is "".
bool findSection(const Document &doc, const QString &appName, qsizetype &header, qsizetype &begin, qsizetype &end)
{
    const qsizetype count = doc.lines.size();
    qsizetype start = -1;
    if (appName.isEmpty()) {
        header = -1;
        start = 0;
    } else {
        for (qsizetype i = 0; i < count; ++i) {
            const Line &l = doc.lines.at(i);
            if (l.kind == Line::Section && l.name.compare(appName, Qt::CaseInsensitive) == 0) {
                header = i;
                start = i + 1;
                break;
            }
        }
        if (start < 0)
            return false;
    }
    qsizetype stop = start;
    while (stop < count && doc.lines.at(stop).kind != Line::Section)
        ++stop;
    begin = start;
    end = stop;
    return true;
}

qsizetype findKey(const Document &doc, qsizetype begin, qsizetype end, const QString &keyName)
{
    for (qsizetype i = begin; i < end; ++i) {
        const Line &l = doc.lines.at(i);
        if (l.kind == Line::Key && l.name.compare(keyName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString stripQuotes(const QString &value)
{
    if (value.size() >= 2) {
        const QChar q = value.front();
        if ((q == u'"' || q == u'\'') && value.back() == q)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// The value of the key, quotes removed; false when section or key (or its value) is missing.
bool lookup(const Document &doc, const QString &appName, const QString &keyName, QString &value)
{
    qsizetype header = -1, begin = 0, end = 0;
    if (!findSection(doc, appName, header, begin, end))
        return false;
    const qsizetype k = findKey(doc, begin, end, keyName);
    if (k < 0 || !doc.lines.at(k).hasValue)
        return false;
    value = stripQuotes(doc.lines.at(k).value);
    return true;
}

QByteArray serialise(const Document &doc)
{
    QByteArray out;
    for (const Line &l : doc.lines)
        out += l.raw + l.eol;
    return out;
}

// A line written here, read as the reader will read it, so that later changes to the same
// document find it.
Line makeLine(const QString &text)
{
    Line l;
    l.raw = text.toUtf8();
    l.eol = kCrLf;
    classify(l, false);
    return l;
}

bool breaksLines(const QString &text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

Snapshot::Snapshot(const QString &fileName)
{
    auto doc = std::make_shared<Document>();
    if (load(fileName, *doc))
        m_doc = std::move(doc);
}

bool Snapshot::lookup(const QString &appName, const QString &keyName, QString &value) const
{
    return m_doc && IniFile::lookup(*m_doc, appName, keyName, value);
}

quint32 GetPrivateProfileStringA(const QString &appName, const QString &keyName, const QString &defaultValue,
                                 QString &returnedString, quint32 size, const QString &fileName)
{
    return Snapshot(fileName).GetPrivateProfileStringA(appName, keyName, defaultValue, returnedString, size);
}

qint32 GetPrivateProfileIntA(const QString &appName, const QString &keyName, qint32 defaultValue,
                             const QString &fileName)
{
    return Snapshot(fileName).GetPrivateProfileIntA(appName, keyName, defaultValue);
}

quint32 Snapshot::GetPrivateProfileStringA(const QString &appName, const QString &keyName, const QString &defaultValue,
                                           QString &returnedString, quint32 size) const
{
    QString value;
    if (!lookup(appName, keyName, value)) {
        value = defaultValue;
        while (!value.isEmpty() && value.back().isSpace())
            value.chop(1);
    }
    if (size == 0) {
        returnedString.clear();
        return 0;
    }
    qsizetype n = qMin<qsizetype>(value.size(), qsizetype(size) - 1);
    // Never split a character that takes two UTF-16 units.
    if (n > 0 && n < value.size() && value.at(n - 1).isHighSurrogate())
        --n;
    returnedString = value.left(n);
    return quint32(n);
}

qint32 Snapshot::GetPrivateProfileIntA(const QString &appName, const QString &keyName, qint32 defaultValue) const
{
    QString text;
    if (!lookup(appName, keyName, text) || text.isEmpty())
        return defaultValue;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < n && text.at(i) == u'0' && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')) {
        base = 16;
        i += 2;
    }
    quint32 result = 0; // wraps as the 32-bit original does
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        unsigned digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        result = result * base + digit;
    }
    if (negative)
        result = 0u - result;
    return qint32(result);
}

namespace {

enum class Edit { Unchanged, Changed, Refused };

// The text a value is stored as: quoted where the reader would otherwise trim it or take
// its quotes, so that it reads back as it was; anything else exactly as the value stands,
// as such files have always been written.
QString storedForm(const QString &value)
{
    return stripQuotes(value.trimmed()) == value ? value : u'"' + value + u'"';
}

Edit setKey(Document &doc, const Entry &entry)
{
    const QString &appName = entry.section, &keyName = entry.key;
    if (breaksLines(appName) || breaksLines(keyName) || breaksLines(entry.value) || keyName.contains(u'=')
        || keyName.trimmed().startsWith(u'[') || keyName.trimmed().startsWith(u';'))
        return Edit::Refused;
    const QString value = storedForm(entry.value);

    qsizetype header = -1, begin = 0, end = 0;
    if (!findSection(doc, appName, header, begin, end)) {
        if (!doc.lines.isEmpty() && doc.lines.back().eol.isEmpty())
            doc.lines.back().eol = kCrLf;
        doc.lines.append(makeLine(QLatin1Char('[') + appName + QLatin1Char(']')));
        doc.lines.append(makeLine(keyName + QLatin1Char('=') + value));
        return Edit::Changed;
    }
    const qsizetype k = findKey(doc, begin, end, keyName);
    if (k >= 0) {
        Line &l = doc.lines[k];
        if (l.hasValue && stripQuotes(l.value) == entry.value)
            return Edit::Unchanged; // the line stays as it was written
        Line replacement = makeLine(l.name + QLatin1Char('=') + value);
        if (k == 0 && l.raw.startsWith(kUtf8Bom))
            replacement.raw.prepend(kUtf8Bom);
        l = replacement;
        return Edit::Changed;
    }
    // After the section's last line that is not blank, so that blank lines which separate it
    // from the next section stay where they are.
    qsizetype at = begin;
    for (qsizetype i = begin; i < end; ++i) {
        if (doc.lines.at(i).kind != Line::Blank)
            at = i + 1;
    }
    if (at > 0 && doc.lines.at(at - 1).eol.isEmpty())
        doc.lines[at - 1].eol = kCrLf;
    Line added = makeLine(keyName + QLatin1Char('=') + value);
    if (at == 0 && !doc.lines.isEmpty() && doc.lines.front().raw.startsWith(kUtf8Bom)) {
        doc.lines.front().raw.remove(0, kUtf8Bom.size());
        added.raw.prepend(kUtf8Bom);
    }
    doc.lines.insert(at, added);
    return Edit::Changed;
}

} // namespace

bool WritePrivateProfileStringA(const QString &appName, const QString &keyName, const QString &value,
                                const QString &fileName)
{
    return WritePrivateProfileStrings({{appName, keyName, value}}, fileName);
}

bool WritePrivateProfileStrings(const QList<Entry> &entries, const QString &fileName)
{
    Document doc;
    if (!FileWrite::MayWrite(fileName) || (QFileInfo::exists(fileName) && !load(fileName, doc)))
        return false;
    bool changed = false, refused = false;
    for (const Entry &entry : entries) {
        const Edit edit = setKey(doc, entry);
        changed = changed || edit == Edit::Changed;
        refused = refused || edit == Edit::Refused;
    }
    if (changed && !FileWrite::WriteWholeFile(fileName, serialise(doc), 0600))
        return false;
    return !refused;
}

} // namespace IniFile
