// The side-link stream and the frame functions. Any bytes, then a frame built from the input:
// - the frames cut from the whole stream are those cut from it in pieces of any sizes;
// - every frame cut is whole for the frame functions and no longer than the limit, and
//   parsing it raises nothing but the program's own errors;
// - the built frame is the last one cut, whatever came before it;
// - parsing the built frame gives back what it was built from.
#include "FuzzCheck.h"

#include "platform/VbError.h"
#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

void parseEvery(const QString &frame)
{
    try {
        modSocketCmd::ParseCommandFrame(frame);
    } catch (const VbError &) {
    }
    try {
        RemoteUserData user;
        modSocketCmd::ParseUserFrame(frame, user);
    } catch (const VbError &) {
    }
    try {
        RemoteConnectData status;
        modSocketCmd::ParseConnectFrame(frame, status);
    } catch (const VbError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const SocketCmd command{in.ConsumeIntegral<qint32>(), in.ConsumeIntegral<qint32>()};
    std::vector<int> pieces(in.ConsumeIntegralInRange<int>(1, 8));
    for (int &piece : pieces)
        piece = in.ConsumeIntegralInRange<int>(1, 300);
    // A name a frame can carry: no '#' and no '@' in it.
    QString name = QString::fromLatin1(bytesOf(in.ConsumeRandomLengthString(64)));
    name.remove(u'#');
    name.remove(u'@');
    const QByteArray before = bytesOf(in.ConsumeRemainingBytesAsString());

    QString built;
    modSocketCmd::BuildClientNameFrame(command, built, name);
    const QByteArray stream = before + built.toLatin1();

    FrameStream whole;
    const QStringList frames = whole.append(stream);
    FrameStream cut;
    QStringList inPieces;
    qsizetype at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const int piece = pieces[i % pieces.size()];
        inPieces += cut.append(stream.mid(at, piece));
        at += piece;
    }
    FUZZ_CHECK(inPieces == frames);
    FUZZ_CHECK(cut.pending() == whole.pending() && whole.pending() <= 1);

    for (const QString &frame : frames) {
        FUZZ_CHECK(modSocketCmd::HasFrameStart(frame) && modSocketCmd::HasFrameEnd(frame));
        FUZZ_CHECK(frame.size() <= FrameStream::MaxFrame);
        parseEvery(frame);
    }
    FUZZ_CHECK(!frames.isEmpty() && frames.last() == built);

    const SocketCmd parsed = modSocketCmd::ParseCommandFrame(built);
    const bool known = command.Cmd >= 2 && command.Cmd <= 13;
    FUZZ_CHECK(parsed.Cmd == (known ? command.Cmd : 0) && parsed.Argument == (known ? command.Argument : 0));
    RemoteConnectData status;
    modSocketCmd::ParseConnectFrame(built, status);
    FUZZ_CHECK(status.ClientName == name);
    QString plain = QStringLiteral("unchanged");
    modSocketCmd::BuildCommandFrame(command, plain);
    if (plain != QLatin1String("unchanged")) {
        const SocketCmd again = modSocketCmd::ParseCommandFrame(plain);
        FUZZ_CHECK(again.Cmd == command.Cmd && again.Argument == command.Argument);
    }
    return 0;
}
