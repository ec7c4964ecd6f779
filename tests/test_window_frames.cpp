// The channel window's size under a real X server and window manager. A
// window manager frames a window only some time after it is first shown, so
// its frame is unknown when the window is sized; the offscreen platform
// knows its frame from the start and cannot show what goes wrong there.
// The test starts its own Xvfb and openbox and fails without them.

#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/form.h"
#include "platform/settings.h"
#include "support/test_session.h"
#include "support/xserver.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kWait = 5000;
const QString kChannel = QStringLiteral("#Help");

QWindow& nativeWindow()
{
    return *channel().windowHandle();
}

// Whether the window manager has put its frame around the channel window
// since it was last shown.
bool framed()
{
    return QTest::qWaitFor([] { return nativeWindow().frameGeometry() != nativeWindow().geometry(); }, kWait);
}

// Leaves the channel as "Exit Channel" does, and waits until the window
// manager has taken the window's frame down, as it has long done by the time
// a user enters a channel again.
bool leave()
{
    channel().unload();
    return QTest::qWaitFor([] { return nativeWindow().frameMargins().isNull(); }, kWait);
}

QSize storedSize()
{
    return {lobby().chanW, lobby().chanH};
}

QSize twips(const QSize& pixels)
{
    return {pixelsToTwipsX(pixels.width()), pixelsToTwipsY(pixels.height())};
}

// The window states that the window manager reports for a window, as
// opposed to those the program asks for, which the window takes at once.
class ReportedStates : public QObject {
public:
    explicit ReportedStates(QWindow& window)
        : window_(window)
    {
        window.installEventFilter(this);
    }
    QList<Qt::WindowStates> reported;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::WindowStateChange && event->spontaneous())
            reported << window_.windowStates();
        return false;
    }

private:
    QWindow& window_;
};

} // namespace

class TestWindowFrames : public QObject {
    Q_OBJECT

private slots:
    void sizeComesBackIdentical_data();
    void sizeComesBackIdentical();
    void maximisedKeepsItsNormalSize();
    void aWindowStaysOnScreenDuringASlowEntry();
    void loginWindowComesBackWhereItWas();
};

void TestWindowFrames::sizeComesBackIdentical_data()
{
    QTest::addColumn<QByteArray>("storedX");
    QTest::addColumn<QByteArray>("storedY");
    QTest::addColumn<QSize>("outer");
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();

    QTest::newRow("nothing stored") << QByteArray() << QByteArray() << QSize(twipsToPixelsX(10635), twipsToPixelsY(8835));
    QTest::newRow("beyond the screen") << QByteArray("600000") << QByteArray("600000") << room;
    QTest::newRow("below the minimum") << QByteArray("1000") << QByteArray("1500") << QSize(700, 500);
    // No size the program writes: the first-run size stands in for it.
    QTest::newRow("not a size") << QByteArray("-1000") << QByteArray("0")
                                << QSize(twipsToPixelsX(10635), twipsToPixelsY(8835));
}

void TestWindowFrames::sizeComesBackIdentical()
{
    QFETCH(QByteArray, storedX);
    QFETCH(QByteArray, storedY);
    QFETCH(QSize, outer);
    TestSession session;
    if (!storedX.isEmpty()) {
        SettingsStore store;
        store.write(QStringLiteral("ChannelX"), QString::fromLatin1(storedX));
        store.write(QStringLiteral("ChannelY"), QString::fromLatin1(storedY));
    }
    QVERIFY(session.enter(kChannel));
    const QRect room = channel().screen()->availableGeometry();

    // The second visit finds the window hidden, and no longer framed.
    for (int visit = 1; visit <= 2; ++visit) {
        if (visit == 2)
            QVERIFY(session.enter(kChannel));
        QVERIFY(framed());
        QTRY_COMPARE_WITH_TIMEOUT(nativeWindow().frameGeometry().size(), outer, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(room.contains(nativeWindow().frameGeometry()), kWait);
        QVERIFY(leave());
        QCOMPARE(storedSize(), twips(outer));
        QCOMPARE(lobby().chanState, 0);
    }
    // Logging off hands the session's values to the settings.
    lobby().unload();
    QCOMPARE(QSize(login().getchX(), login().getchY()), twips(outer));
}

void TestWindowFrames::maximisedKeepsItsNormalSize()
{
    const QSize normal(twipsToPixelsX(12000), twipsToPixelsY(9000));
    TestSession session;
    SettingsStore store;
    store.write(QStringLiteral("ChannelX"), QStringLiteral("12000"));
    store.write(QStringLiteral("ChannelY"), QStringLiteral("9000"));
    store.write(QStringLiteral("ChannelS"), QStringLiteral("2"));
    QVERIFY(session.enter(kChannel));
    const QRect room = channel().screen()->availableGeometry();

    QVERIFY(framed());
    QTRY_COMPARE_WITH_TIMEOUT(nativeWindow().frameGeometry(), room, kWait);
    QVERIFY(leave());
    QCOMPARE(lobby().chanState, 2);
    QCOMPARE(storedSize(), QSize(12000, 9000));

    // Maximised again on the next visit; restored, it has the stored size.
    QVERIFY(session.enter(kChannel));
    QVERIFY(framed());
    QTRY_COMPARE_WITH_TIMEOUT(nativeWindow().frameGeometry(), room, kWait);
    ReportedStates states(nativeWindow());
    channel().setWindowState(Qt::WindowNoState);
    QTRY_VERIFY_WITH_TIMEOUT(states.reported.contains(Qt::WindowNoState), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(nativeWindow().frameGeometry().size(), normal, kWait);
    QVERIFY(leave());
    QCOMPARE(lobby().chanState, 0);
    QCOMPARE(storedSize(), QSize(12000, 9000));
}

// From the double-click until the channel window is there, some window of
// the program is on screen, with the gateway taking its time.
void TestWindowFrames::aWindowStaysOnScreenDuringASlowEntry()
{
    TestSession session;
    QVERIFY(session.openLobby());
    QVERIFY(session.offerChannels({kChannel}));
    QVERIFY(QTest::qWaitForWindowExposed(&lobby(), kWait));
    int momentsWithoutWindow = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QWindowList windows = QGuiApplication::topLevelWindows();
        if (std::none_of(windows.cbegin(), windows.cend(), [](const QWindow* window) { return window->isExposed(); }))
            ++momentsWithoutWindow;
    });
    watch.start(2);
    QVERIFY(session.doubleClick(kChannel));
    QVERIFY(session.waitForRequest(0));
    letEventsRun(500);
    session.answer(0, TestSession::kSchemeAnswer);
    QVERIFY(QTest::qWaitForWindowExposed(&channel(), kWait));
    QTRY_VERIFY_WITH_TIMEOUT(!lobby().isVisible(), kWait);
    letEventsRun(200);
    QCOMPARE(momentsWithoutWindow, 0);
}

// The login window hides while a session runs; after the log-off it comes
// back where the user had put it.
void TestWindowFrames::loginWindowComesBackWhereItWas()
{
    TestSession session;
    session.showLogin();
    QVERIFY(QTest::qWaitForWindowExposed(&login(), kWait));
    const QPoint place(137, 211);
    login().move(place);
    QTRY_COMPARE_WITH_TIMEOUT(login().frameGeometry().topLeft(), place, kWait);
    QVERIFY(session.openLobby());
    QTRY_VERIFY_WITH_TIMEOUT(!login().windowHandle()->isExposed(), kWait);
    lobby().unload();
    QVERIFY(QTest::qWaitForWindowExposed(&login(), kWait));
    QTRY_COMPARE_WITH_TIMEOUT(login().frameGeometry().topLeft(), place, kWait);
}

int main(int argc, char** argv)
{
    return runWithXDisplay(argc, argv, [&] {
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);
        TestWindowFrames test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_window_frames.moc"
