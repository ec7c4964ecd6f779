// The chat server's byte stream, read by read: reassembly into lines,
// decoding, classification and the reply field parsers, and what each line
// does to the session, as the lobby runs them on every received block.

#include "fuzz_session.h"
#include "lobby/irc_lines.h"

#include <QList>

namespace {

const QString kNick = QStringLiteral("Pilot42");
const QString kServer = QStringLiteral("irc.fenmoor.test");
const QString kMasked = QStringLiteral("players.fenmoor.test");

void parseFields(const QString& line)
{
    if (const auto pong = pongFor(line))
        FUZZ_CHECK(pong->startsWith(QLatin1String("PONG")));

    const IrcLine classified = classifyLine(line, kNick, kServer, kMasked);
    if (classified.kind == LineKind::Server) {
        const QString text = classified.text.value_or(QString());
        const ListEntry entry = parseListEntry(text);
        FUZZ_CHECK(!entry.channel.contains(u' '));
        for (const QString& name : parseNames(text))
            FUZZ_CHECK(!name.isEmpty() && !name.contains(u' '));
        if (const auto who = parseWhoEntry(text))
            FUZZ_CHECK(!who->nick.isEmpty() && !who->nick.contains(u' '));
        (void)parseWhoisUser(text, QStringLiteral("&"));
    } else if (classified.kind != LineKind::Ignored) {
        FUZZ_CHECK(!classified.nick.contains(u' '));
        FUZZ_CHECK(!classified.command.contains(u' '));
    }
}

// Every line the stream holds, cut at CR LF, the unfinished end and the
// lines over the bound left out.
QList<QByteArray> referenceLines(const QByteArray& stream, qsizetype maxLine)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = stream.indexOf("\r\n", start);
        if (end < 0)
            return lines;
        if (end - start <= maxLine)
            lines.append(stream.mid(start, end - start));
        start = end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    // Small bounds reach the dropping of over-long lines with small inputs.
    const qsizetype maxTail = data.ConsumeIntegralInRange<qsizetype>(0, 300);
    LineAssembler assembler(maxTail);
    const SessionView session = fuzzSession(data);
    SessionMemory memory;
    Steps steps;

    QByteArray stream;
    QList<QByteArray> lines;
    while (data.remaining_bytes() > 0) {
        const QByteArray read = takeBytes(data, 512);
        stream += read;
        assembler.append(read);
        while (const auto line = assembler.takeLine()) {
            FUZZ_CHECK(!line->contains("\r\n"));
            lines.append(*line);
            parseFields(decodeLine(*line));
            steps.clear();
            decideLine(*line, session, memory, steps);
            checkSteps(steps, session);
        }
        FUZZ_CHECK(!assembler.hasLine());
    }
    // However the reads cut it, reassembly gives the lines of the whole
    // stream, those over the bound left out.
    FUZZ_CHECK(lines == referenceLines(stream, maxTail));
    return 0;
}
