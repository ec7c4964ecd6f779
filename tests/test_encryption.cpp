#include "encryption/scramble.h"
#include "encryption/texts.h"

#include <QtTest>

class TestEncryption : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void groupsTurnBack_data();
    void groupsTurnBack();
    void resultIsWrittenBack();
    void everyStoredTextReadsAsIntended_data();
    void everyStoredTextReadsAsIntended();
    void scrambleRefusesCharactersOutsideTheTable();
};

void TestEncryption::initTestCase()
{
    turnBackStoredTexts({});
}

void TestEncryption::groupsTurnBack_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const QString hello = *scrambleText(QStringLiteral("hello"));
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("known groups") << hello << QStringLiteral("hello");
    QTest::newRow("unknown group stands for itself") << hello.left(3) + QStringLiteral("!!!") << QStringLiteral("h!!!");
    QTest::newRow("short trailing group of one") << hello + QStringLiteral("Z") << QStringLiteral("helloZ");
    QTest::newRow("short trailing group of two") << hello + QStringLiteral("Zq") << QStringLiteral("helloZq");
    // A group that differs from a key only in letter case is not that key.
    QSet<QString> keys;
    for (char16_t c = 32; c < 127; ++c) {
        if (const auto key = scrambleText(QString(QChar(c))))
            keys.insert(*key);
    }
    for (const QString& key : std::as_const(keys)) {
        QString swapped;
        for (const QChar c : key)
            swapped += c.isUpper() ? c.toLower() : c.toUpper();
        if (swapped != key && !keys.contains(swapped)) {
            QTest::newRow("case-different key") << swapped << swapped;
            break;
        }
    }
}

void TestEncryption::groupsTurnBack()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QString text = input;
    // The program lets its pending events run before and after each group.
    int calls = 0;
    QCOMPARE(unscrambleGroups(text, [&calls] { ++calls; }), expected);
    QCOMPARE(calls, 2 * ((input.size() + 2) / 3));
}

void TestEncryption::resultIsWrittenBack()
{
    QString text = *scrambleText(QStringLiteral("Refresh"));
    const QString result = unscrambleGroups(text, {});
    QCOMPARE(text, QStringLiteral("Refresh"));
    QCOMPARE(result, text);
}

void TestEncryption::everyStoredTextReadsAsIntended_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<bool>("withPrefix");
    QTest::addColumn<quintptr>("key");
    struct Row {
        const char* stored;
        const char* plain;
        bool withPrefix;
    };
    const Row rows[] = {
    {scrambled::kPreviousInstanceText, "Another copy of Tavimere is already running. Please use that window.", true},
    {scrambled::kPreviousInstanceTitle, "Tavimere Is Running", false},
    {scrambled::kDigitNameText, "Your username may not begin with a number.", false},
    {scrambled::kDigitNameTitle, "Invalid Username", false},
    {scrambled::kBannedWord1, "fuck", false},
    {scrambled::kBannedWord2, "shit", false},
    {scrambled::kBannedWord3, "piss", false},
    {scrambled::kBannedWord4, "arsehole", false},
    {scrambled::kStarNameText, "Your username may not contain the * character.", false},
    {scrambled::kStarNameTitle, "Invalid Username", false},
    {scrambled::kRefusedText, "Your username was refused by the Fenmoor Gateway. Please choose another name.", false},
    {scrambled::kRefusedTitle, "Login Refused", false},
    {scrambled::kUnencodableText, "Your username contains a character that the Fenmoor Gateway cannot accept.", false},
    {scrambled::kUnencodableTitle, "Invalid Username", false},
    {scrambled::kGatewayUnreachableText, "The Fenmoor Gateway could not be reached. Please check your connection and try again.", false},
    {scrambled::kGatewayUnreachableTitle, "Connection Failed", false},
    {scrambled::kGreeting, "Welcome to Fenmoor, ", false},
    {scrambled::kFinalLine, "QUIT :Tavimere session ended", false},
    {scrambled::kChannelListCommand, "LIST", false},
    {scrambled::kChatUnreachableText, "The Fenmoor chat server could not be reached. Please try again later.", false},
    {scrambled::kChatUnreachableTitle, "Connection Failed", false},
    {scrambled::kChatLostText, "The connection to the Fenmoor chat server was lost.", false},
    {scrambled::kChatLostTitle, "Connection Lost", false},
    {scrambled::kSchemeFailedText, "The channel could not be entered: the Fenmoor Gateway did not answer in time. Please try again.", false},
    {scrambled::kSchemeUnreachableText, "The channel could not be entered: the Fenmoor Gateway could not be reached. Please try again.", false},
    {scrambled::kSchemeUnexpectedText, "The channel could not be entered: the Fenmoor Gateway answered, but not as expected. Please try again later.", false},
    {scrambled::kChannelUnrequestableText, "This channel cannot be entered from this program.", false},
    {scrambled::kGatewayTimeoutText, "The Fenmoor Gateway did not answer in time. Please try again.", false},
    {scrambled::kGatewayUnexpectedText, "The Fenmoor Gateway answered, but not as expected. Please try again later.", false},
    {scrambled::kNameRefusedText, "The chat server did not accept the name ", false},
    {scrambled::kNameRefusedTitle, "Name Refused", false},
    {scrambled::kSessionEndedText, "The chat server ended the session: ", false},
    {scrambled::kJoinRefusedText, "The chat server did not let you into ", false},
    {scrambled::kNoWelcomeText, "The Fenmoor chat server did not answer. Please try again later.", false},
    {scrambled::kBlankNameText, "Your username may not be empty or contain a blank.", false},
    {scrambled::kSchemeFailedTitle, "Channel Unavailable", false},
    {scrambled::kSpecialNameFrom, "@Fenmoor", false},
    {scrambled::kSpecialNameTo, "Fenmoor", false},
    {scrambled::kEmptyGameList, "No games are hosted in this channel.", false},
    {scrambled::kChannelEntryCommand, "JOIN ", false},
    {scrambled::kCaptionSuffix, " - Tavimere", false},
    };
    int i = 0;
    for (const Row& row : rows)
        QTest::addRow("text %d: %s", i++, row.plain) << QString::fromLatin1(row.stored) << QString::fromLatin1(row.plain) << row.withPrefix
                                                        << reinterpret_cast<quintptr>(row.stored);
}

void TestEncryption::everyStoredTextReadsAsIntended()
{
    QFETCH(QString, stored);
    QFETCH(QString, plain);
    QFETCH(bool, withPrefix);
    QFETCH(quintptr, key);
    QString text = withPrefix ? QStringLiteral("1\"") + stored : stored;
    QCOMPARE(unscrambleGroups(text, {}), plain);
    // What the program reads: the text is listed, and turned back with its prefix.
    QCOMPARE(plainText(reinterpret_cast<const char*>(key)), plain);
    if (!withPrefix)
        QCOMPARE(*scrambleText(plain), stored);
}

void TestEncryption::scrambleRefusesCharactersOutsideTheTable()
{
    QVERIFY(!scrambleText(QStringLiteral("caf\u00e9")).has_value());
    QVERIFY(!scrambleText(QStringLiteral("a|b")).has_value());
}

QTEST_GUILESS_MAIN(TestEncryption)
#include "test_encryption.moc"
