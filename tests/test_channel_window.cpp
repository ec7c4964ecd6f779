#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/settings.h"
#include "support/fakes.h"
#include "support/test_session.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QByteArray kOneGame = QByteArrayLiteral(
    "HTTP/1.0 200 OK\r\n\r\n<GAMELISTSTART>\nx Pro_Duel Kite x x x 0 x<BR>\n<GAMELISTEND>\n");

QWidget* control(const QString& name)
{
    Channel& window = channel();
    const QHash<QString, QWidget*> controls = {
        {QStringLiteral("Label2"), window.Label2}, {QStringLiteral("Label3"), window.Label3},
        {QStringLiteral("Label4"), window.Label4}, {QStringLiteral("Label5"), window.Label5},
        {QStringLiteral("filter"), window.filter}, {QStringLiteral("notify"), window.notify},
        {QStringLiteral("exitBtn"), window.exitBtn}, {QStringLiteral("users"), window.users},
        {QStringLiteral("games"), window.games},   {QStringLiteral("chat"), window.chat},
        {QStringLiteral("message"), window.message},
    };
    return controls.value(name);
}

QList<QRect> allGeometries()
{
    QList<QRect> rects;
    for (const char* name : {"Label2", "Label3", "Label4", "Label5", "filter", "notify", "exitBtn", "users", "games",
                             "chat", "message"})
        rects << control(QLatin1String(name))->geometry();
    return rects;
}

int fetchesSent(const SendRecorder& ircSends)
{
    return static_cast<int>(ircSends.sends.count(QByteArrayLiteral("whois *\r\n")));
}

} // namespace

class TestChannelWindow : public QObject {
    Q_OBJECT

private slots:
    void workedExample_data();
    void workedExample();
    void workedExampleColumns();
    void minimumSize_data();
    void minimumSize();
    void checkBoxesKeepTheUsersChoice_data();
    void checkBoxesKeepTheUsersChoice();
    void aResizeDragFetchesOnce();
    void minimisedWindowKeepsControls();
};

// A 1000 x 600 client area, worked out by hand.
void TestChannelWindow::workedExample_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("Label2") << "Label2" << QRect(220, 22, 185, 17);
    QTest::newRow("Label3") << "Label3" << QRect(220, 38, 185, 17);
    QTest::newRow("Label4") << "Label4" << QRect(237, 62, 161, 17);
    QTest::newRow("filter") << "filter" << QRect(220, 62, 13, 14);
    QTest::newRow("Label5") << "Label5" << QRect(237, 78, 169, 17);
    QTest::newRow("notify") << "notify" << QRect(220, 78, 13, 14);
    QTest::newRow("exitBtn") << "exitBtn" << QRect(300, 102, 105, 20);
    QTest::newRow("users") << "users" << QRect(2, 3, 200, 594);
    QTest::newRow("games") << "games" << QRect(500, 3, 498, 144);
    QTest::newRow("chat") << "chat" << QRect(206, 151, 792, 423);
    QTest::newRow("message") << "message" << QRect(206, 578, 792, 19);
}

void TestChannelWindow::workedExample()
{
    QFETCH(QString, control);
    QFETCH(QRect, geometry);

    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    channel().resize(1000, 600);
    QCOMPARE(channel().size(), QSize(1000, 600));
    QCOMPARE(::control(control)->geometry(), geometry);
}

void TestChannelWindow::workedExampleColumns()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    channel().resize(1000, 600);
    QCOMPARE((QList<int>{channel().users->columnWidth(0), channel().games->columnWidth(0),
                          channel().games->columnWidth(1)}),
             (QList<int>{176, 237, 237}));
}

void TestChannelWindow::minimumSize_data()
{
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<bool>("widthCorrected");
    QTest::addColumn<bool>("heightCorrected");

    QTest::newRow("both too small") << QSize(500, 300) << true << true;
    QTest::newRow("too narrow") << QSize(500, 600) << true << false;
    QTest::newRow("too low") << QSize(1000, 300) << false << true;
    QTest::newRow("exactly the minimum") << QSize(700, 500) << false << false;
    QTest::newRow("one pixel short") << QSize(699, 499) << true << true;
}

// A client area below 700 x 500 gives the window the outer size 700 x 500
// in the corrected direction; the other direction keeps its size.
void TestChannelWindow::minimumSize()
{
    QFETCH(QSize, requested);
    QFETCH(bool, widthCorrected);
    QFETCH(bool, heightCorrected);

    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    const QSize frame = channel().frameGeometry().size() - channel().size();
    const QSize outer(widthCorrected ? 700 : requested.width() + frame.width(),
                      heightCorrected ? 500 : requested.height() + frame.height());

    channel().resize(requested);
    QCOMPARE(channel().frameGeometry().size(), outer);
    const QSize inner = outer - frame;
    QCOMPARE(channel().size(), inner);
    // The controls follow the corrected size, not the requested one.
    QCOMPARE(channel().users->geometry(), QRect(2, 3, qRound(0.2 * inner.width()), inner.height() - 6));
    QCOMPARE(channel().message->geometry().bottom(), inner.height() - 4);
    QCOMPARE(channel().games->geometry().right(), inner.width() - 3);
}

void TestChannelWindow::checkBoxesKeepTheUsersChoice_data()
{
    QTest::addColumn<int>("storedFilter");
    QTest::addColumn<int>("storedNotify");

    QTest::newRow("both on") << 1 << 1;
    QTest::newRow("both off") << 0 << 0;
    QTest::newRow("filter only") << 1 << 0;
    QTest::newRow("notify only") << 0 << 1;
}

// The window opens with the stored choice; what the user then picks stays
// through resizing, maximising and restoring, and is what gets stored.
void TestChannelWindow::checkBoxesKeepTheUsersChoice()
{
    QFETCH(int, storedFilter);
    QFETCH(int, storedNotify);

    TestSession session;
    QVERIFY(session.openLobby());
    login().setFilterValue(static_cast<qint16>(storedFilter));
    login().setNotifyValue(static_cast<qint16>(storedNotify));
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    QCOMPARE(channel().filter->isChecked(), storedFilter == 1);
    QCOMPARE(channel().notify->isChecked(), storedNotify == 1);
    channel().filter->setChecked(storedFilter != 1);
    channel().notify->setChecked(storedNotify != 1);

    channel().resize(900, 650);
    channel().showMaximized();
    channel().showNormal();
    channel().resize(700, 500);
    QCOMPARE(channel().filter->isChecked(), storedFilter != 1);
    QCOMPARE(channel().notify->isChecked(), storedNotify != 1);

    channel().exitBtn->click();
    login().close();
    SettingsStore store;
    QCOMPARE(store.readInt16(QStringLiteral("ProfanityFilter"), -1), storedFilter == 1 ? 0 : 1);
    QCOMPARE(store.readInt16(QStringLiteral("UserNotify"), -1), storedNotify == 1 ? 0 : 1);
}

// Dragging the window's edge makes dozens of layout passes a second; the
// game list is fetched by the first pass after the window is shown, and then
// only every few seconds. Nothing goes to the chat server meanwhile.
void TestChannelWindow::aResizeDragFetchesOnce()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    const qsizetype wire = session.mark();
    const int before = session.gateway.connectionCount();
    for (int step = 0; step < 60; ++step)
        channel().resize(800 + step * 3, 560 + step);
    letEventsRun(200);
    QCOMPARE(session.gateway.connectionCount(), before);

    // Shown again, the window fetches at once, once.
    channel().hide();
    channel().show();
    QVERIFY(session.finishGameList(before, kOneGame));
    for (int step = 0; step < 60; ++step)
        channel().resize(900 - step * 3, 600 - step);
    letEventsRun(200);
    QCOMPARE(session.gateway.connectionCount(), before + 1);
    QCOMPARE(session.wire(wire), QByteArray());
}

void TestChannelWindow::minimisedWindowKeepsControls()
{
    TestSession session;
    QVERIFY(session.enter(QStringLiteral("#Help"), kOneGame));
    channel().resize(1000, 600);
    const QList<QRect> laidOut = allGeometries();
    login().setFilterValue(1);
    channel().filter->setChecked(false);

    channel().setWindowState(Qt::WindowMinimized);
    QVERIFY(channel().isMinimized());
    SendRecorder ircSends(QStringLiteral("irc"));
    channel().resize(800, 520);

    QCOMPARE(allGeometries(), laidOut);
    QVERIFY(!channel().filter->isChecked());
    QCOMPARE(fetchesSent(ircSends), 0);
    letEventsRun(100);
    QCOMPARE(session.gateway.connectionCount(), 2);
}

QTEST_MAIN(TestChannelWindow)
#include "test_channel_window.moc"
