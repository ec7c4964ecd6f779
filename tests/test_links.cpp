// Web addresses in the chat view: underlined in their line's colours,
// whatever wrote the line, and opened on a click, http and https only. The
// text, its colours and what screen readers read stay as they were.

#include "channel/channel.h"
#include "chattext/chat_text.h"
#include "encryption/encryption.h"
#include "lobby/lobby.h"
#include "platform/chatview.h"
#include "support/chat_lines.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QAccessible>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

namespace {

QAccessibleTextInterface* chatText()
{
    return QAccessible::queryAccessibleInterface(channel().chat)->textInterface();
}

QString rgb(const QColor& colour)
{
    return QStringLiteral("color:rgb(%1,%2,%3);").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

// Where characters stand in the chat view's viewport, one rectangle for
// each row of the screen they take.
QList<QRect> textRects(int start, int length)
{
    QWidget* viewport = channel().chat->viewport();
    QList<QRect> rows;
    for (int i = start; i < start + length; ++i) {
        const QRect global = chatText()->characterRect(i);
        const QRect rect(viewport->mapFromGlobal(global.topLeft()), global.size());
        if (rows.isEmpty() || rows.last().top() != rect.top())
            rows.append(rect);
        else
            rows.last() |= rect;
    }
    return rows;
}

QRect textRect(int start, int length)
{
    return textRects(start, length).value(0);
}

// Whether a row of pixels under the characters is drawn in the colour from
// one end to the other, as an underline is, on each row of the screen they
// take.
bool underlined(const QList<QRect>& rows, const QColor& colour)
{
    const QImage picture = channel().chat->viewport()->grab().toImage();
    const auto underlinedRow = [&](const QRect& rect) {
        for (int y = rect.top(); y <= rect.bottom() + 1; ++y) {
            int inColour = 0;
            for (int x = rect.left() + 1; x < rect.right(); ++x)
                inColour += picture.pixelColor(x, y) == colour ? 1 : 0;
            if (inColour >= rect.width() - 3)
                return true;
        }
        return false;
    };
    return !rows.isEmpty() && std::all_of(rows.begin(), rows.end(), underlinedRow);
}

void click(const QPoint& at)
{
    QTest::mouseClick(channel().chat->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestLinks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { setLinkOpener({}); }
    void linksInEveryColour();
    void onlyWebAddressesOpen();
};

void TestLinks::initTestCase()
{
    turnBackStoredTexts();
}

void TestLinks::linksInEveryColour()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QPlainTextEdit* entry = channel().message;
    const auto type = [entry](const QString& line) {
        entry->setPlainText(line);
        QTest::keyClick(entry, Qt::Key_Return);
    };
    type(QStringLiteral("/away back at http://away.test/"));
    session.send(fromPlayer("Kite", "PRIVMSG #Help :see http://white.test/a?b=c#d, ok")
                 + fromPlayer("Kite", "PRIVMSG Pilot42 :psst https://yellow.test")
                 + fromPlayer("Kite",
                              "PRIVMSG #Help :/me shows \\rhttp://red.test \\ghttp://palered.test "
                              "\\nhttp://grey.test \\bhttp://cyan.test \\Bhttp://orange.test \\yhttp://yellow2.test")
                 + fromChanServ("KICK #Help Ace :read (https://rules.test)"));
    QVERIFY(session.sync());
    type(QStringLiteral("mine: HTTPS://own.test/x"));
    QCoreApplication::processEvents();

    const QString text = channel().chat->toPlainText();
    const QList<std::pair<QString, QColor>> links = {
        {"http://away.test/", chatcolour::paleRed},    {"http://white.test/a?b=c#d", chatcolour::white},
        {"https://yellow.test", chatcolour::yellow},  {"http://red.test", chatcolour::red},
        {"http://palered.test", chatcolour::paleRed}, {"http://grey.test", chatcolour::grey},
        {"http://cyan.test", chatcolour::lightCyan},  {"http://orange.test", chatcolour::orange},
        {"http://yellow2.test", chatcolour::yellow},  {"https://rules.test", chatcolour::paleRed},
        {"HTTPS://own.test/x", chatcolour::white},
    };
    // The text is the lines as written, every address whole.
    QVERIFY2(text.contains(QStringLiteral("Kite> see http://white.test/a?b=c#d, ok\n")), qPrintable(text));
    for (const auto& [address, colour] : links) {
        const int start = static_cast<int>(text.indexOf(address));
        QVERIFY2(start > 0, qPrintable(address));
        const int end = start + static_cast<int>(address.size());
        // Screen readers hear the address as one underlined run in its
        // colour, and the text before it as before.
        int from = 0;
        int to = 0;
        const QString attributes = chatText()->attributes(start + 1, &from, &to);
        QVERIFY2(attributes.contains(rgb(colour)), qPrintable(address + u' ' + attributes));
        QVERIFY2(attributes.contains(QLatin1String("text-underline-style:solid;")), qPrintable(attributes));
        QCOMPARE(std::make_pair(from, to), std::make_pair(start, end));
        const QString before = chatText()->attributes(start - 1, &from, &to);
        QVERIFY2(!before.contains(QLatin1String("underline")), qPrintable(before));
        QCOMPARE(to, start);
        QVERIFY2(underlined(textRects(start, end - start), colour), qPrintable(address));
    }
    const int plain = static_cast<int>(text.indexOf(QLatin1String("Kite> see")));
    QVERIFY(!underlined(textRects(plain, 9), chatcolour::white));
}

void TestLinks::onlyWebAddressesOpen()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QList<QUrl> opened;
    setLinkOpener([&opened](const QUrl& url) { opened.append(url); });
    session.send(fromPlayer("Kite", "PRIVMSG #Help :ftp://files.test javascript:alert(1) file:///etc/passwd "
                                    "https://fenmoor.test/games?id=4"));
    QVERIFY(session.sync());
    QCoreApplication::processEvents();
    const QString text = channel().chat->toPlainText();
    QWidget* viewport = channel().chat->viewport();
    const auto centre = [&text](const QString& part) {
        return textRect(static_cast<int>(text.indexOf(part)) + 2, 3).center();
    };

    for (const char* other : {"ftp://files.test", "javascript:alert", "file:///etc", "Kite>"}) {
        QTest::mouseMove(viewport, centre(QString::fromLatin1(other)));
        QCOMPARE(viewport->cursor().shape(), Qt::IBeamCursor);
        click(centre(QString::fromLatin1(other)));
    }
    QCOMPARE(opened, QList<QUrl>{});

    const QPoint link = centre(QStringLiteral("https://fenmoor.test"));
    QTest::mouseMove(viewport, link);
    QCOMPARE(viewport->cursor().shape(), Qt::PointingHandCursor);
    click(link);
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://fenmoor.test/games?id=4"))});
    // Dragging across the address selects it and opens nothing.
    const QRect whole = textRect(static_cast<int>(text.indexOf(QLatin1String("https://"))), 20);
    QTest::mousePress(viewport, Qt::LeftButton, {}, whole.topLeft() + QPoint(2, 4));
    QTest::mouseMove(viewport, whole.topRight() + QPoint(-2, 4));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, whole.topRight() + QPoint(-2, 4));
    QVERIFY(!channel().chat->selectedText().isEmpty());
    QCOMPARE(opened.size(), 1);
}

QTEST_MAIN(TestLinks)
#include "test_links.moc"
