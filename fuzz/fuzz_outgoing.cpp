// A line typed into the channel window's entry: what it is decided to be,
// and that nothing it hands out can split a line to the chat server, or
// pass the length a server takes.

#include "chattext/chat_text.h"
#include "fuzz_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const bool away = data.ConsumeBool();
    const QString message = takeText(data, 4096);

    using Kind = OutgoingDecision::Kind;
    const OutgoingDecision decision = decideOutgoing(message, away);
    FUZZ_CHECK(!hasLineBreakOrNul(decision.target));
    FUZZ_CHECK(!hasLineBreakOrNul(decision.text));
    FUZZ_CHECK(!hasLineBreakOrNul(decision.awayMessage));
    FUZZ_CHECK(!hasLineBreakOrNul(oneLine(message)));
    FUZZ_CHECK(oneLine(message).size() == message.size());

    switch (decision.kind) {
    case Kind::SetAway:
        FUZZ_CHECK(!decision.awayCleared);
        break;
    case Kind::PrivateMessage:
        FUZZ_CHECK(!decision.target.isEmpty() && !decision.target.contains(u' '));
        FUZZ_CHECK(decision.awayCleared == away);
        break;
    case Kind::Action:
    case Kind::ChannelMessage:
        FUZZ_CHECK(decision.text == oneLine(message));
        FUZZ_CHECK(decision.awayCleared == away);
        break;
    case Kind::NoTarget:
    case Kind::Nothing:
    case Kind::UnknownCommand:
        FUZZ_CHECK(decision.awayCleared == away);
        break;
    }

    SessionView session = fuzzSession(data);
    session.channelLoaded = session.channelShown = true;
    session.channel = QStringLiteral("#Help");
    SessionMemory memory;
    Steps steps;
    QString typed = message;
    decideTyped(typed, session, memory, steps);
    checkSteps(steps, session);
    return 0;
}
