#pragma once

// What every step the line rules hand out must satisfy, whatever came in:
// each line for the chat server is one line it can take whole, and nothing
// touches the channel window's lists or view while no channel is open.

#include "encryption/scramble.h"
#include "encryption/texts.h"
#include "fuzz_support.h"
#include "lobby/session_rules.h"

inline const FilterMatcher& fuzzFilter()
{
    static const FilterMatcher matcher = [] {
        turnBackStoredTexts({});
        return FilterMatcher(languageFilterPairs());
    }();
    return matcher;
}

// A session in one of its shapes: the lobby alone, a channel open, a channel
// being entered, with the user away or not.
inline SessionView fuzzSession(FuzzedDataProvider& data)
{
    SessionView s;
    s.username = QStringLiteral("Pilot42");
    s.ownIcon = 8;
    s.chatServerHost = QStringLiteral("irc.fenmoor.test");
    s.maskedHost = QStringLiteral("players.fenmoor.test");
    s.filterWords = &fuzzFilter();
    switch (data.ConsumeIntegralInRange(0, 2)) {
    case 0:
        s.lobbyShown = true;
        break;
    case 1:
        s.channelLoaded = s.channelShown = true;
        s.channel = QStringLiteral("#Help");
        break;
    default:
        s.lobbyShown = s.channelLoaded = true;
        s.channel = QStringLiteral("#Help");
        break;
    }
    s.notify = data.ConsumeBool();
    s.filter = data.ConsumeBool();
    s.away = data.ConsumeBool();
    if (s.away)
        s.awayMessage = takeText(data, 300);
    s.isMember = [](const QString& nick) { return nick == QLatin1String("Kite"); };
    return s;
}

inline void checkSteps(const Steps& steps, const SessionView& session)
{
    for (const Step& step : steps) {
        using Kind = Step::Kind;
        if (step.kind == Kind::Send || step.kind == Kind::Request || step.kind == Kind::KeepAlive) {
            FUZZ_CHECK(!step.lines.isEmpty());
            FUZZ_CHECK(wireSend(step.lines).has_value());
        }
        const bool touchesChannel = step.kind == Kind::AddMember || step.kind == Kind::SetMemberIcon
            || step.kind == Kind::RemoveMember || step.kind == Kind::Chat || step.kind == Kind::AskUnknownFlags
            || step.kind == Kind::FocusEntry || step.kind == Kind::CloseChannel;
        FUZZ_CHECK(!touchesChannel || session.channelLoaded);
        if (step.kind == Kind::AddMember)
            FUZZ_CHECK(!step.nick.isEmpty());
    }
}
