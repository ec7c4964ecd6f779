// A whisper, or a line naming the user, while none of the program's windows
// is active: the window asks the window manager for attention (read back
// from X) and the desktop notification service shows who wrote and the
// first words. The test runs its own X server and openbox, its own session
// bus and a notification service of its own on it, and fails without them.

#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "lobby/lobby.h"
#include "support/chat_lines.h"
#include "support/test_session.h"
#include "support/xserver.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>
#include <QVariantMap>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWait = 5000;

// A session bus of the test's own: dbus-daemon, which dies with the test.
class PrivateBus {
public:
    ~PrivateBus()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Starts the daemon and reads the address it listens on.
    bool start(QByteArray* address)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(1);
            dup2(out[1], 1);
            // Its complaints about limits it may not raise are no concern here.
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, 2);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        pollfd waiting{out[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && poll(&waiting, 1, kWait) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
            *address += c;
        close(out[0]);
        return c == '\n' && !address->isEmpty();
    }

private:
    pid_t pid_ = -1;
};

// What a notification service got.
struct Notification {
    QString app;
    QString summary;
    QString body;
    uint replaces = 0;
};

// The desktop's notification service, as the test plays it, on a connection
// of its own to the private bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<Notification> received;
    QStringList capabilities{QStringLiteral("body")};

    bool start()
    {
        bus_ = QDBusConnection::connectToBus(QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
                                             QStringLiteral("notification service"));
        const QString path = QStringLiteral("/org/freedesktop/Notifications");
        return bus_.isConnected()
            && (bus_.objectRegisteredAt(path) || bus_.registerObject(path, this, QDBusConnection::ExportAllSlots))
            && bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    void stop() { bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications")); }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& app, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        received.append({app, summary, body, replaces});
        return static_cast<uint>(received.size());
    }

private:
    QDBusConnection bus_{QString()};
};

// Whether the window manager shows the window as asking for attention.
bool demandsAttention(QWidget* window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                           QStringLiteral("_NET_WM_STATE")});
    xprop.waitForFinished();
    return xprop.readAllStandardOutput().contains("_NET_WM_STATE_DEMANDS_ATTENTION");
}

// The user goes to another program: a window of another X client takes the
// focus.
bool goElsewhere(QProcess& elsewhere)
{
    elsewhere.start(QStringLiteral("xmessage"), {QStringLiteral("-geometry"), QStringLiteral("+0+0"),
                                                 QStringLiteral("elsewhere")});
    return elsewhere.waitForStarted() && QTest::qWaitFor([] { return !QApplication::activeWindow(); }, kWait);
}

} // namespace

class TestAlerts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void alertsOnlyWhileTheUserIsElsewhere();
    void noServiceNoNotification();

private:
    FakeNotifications service_;
};

void TestAlerts::initTestCase()
{
    turnBackStoredTexts();
    QVERIFY(service_.start());
}

void TestAlerts::alertsOnlyWhileTheUserIsElsewhere()
{
    TestSession session;
    QVERIFY(session.enterQuietChannel());
    QWidget* window = &channel();
    QVERIFY(QTest::qWaitForWindowActive(window));

    // The window in front: the lines show, nothing more.
    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :psst") + fromPlayer("Kite", "PRIVMSG #Help :hi pilot42"));
    QVERIFY(session.sync());
    letEventsRun(300);
    QCOMPARE(service_.received.size(), 0);
    QVERIFY(!demandsAttention(window));

    QProcess elsewhere;
    QVERIFY(goElsewhere(elsewhere));

    service_.capabilities = QStringList{QStringLiteral("body"), QStringLiteral("body-markup")};
    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :psst <b>now</b> & then"));
    QTRY_COMPARE_WITH_TIMEOUT(service_.received.size(), 1, kWait);
    QCOMPARE(service_.received.at(0).summary, QStringLiteral("Kite"));
    // The service reads markup: the text is escaped, never taken as markup.
    QCOMPARE(service_.received.at(0).body, QStringLiteral("psst &lt;b&gt;now&lt;/b&gt; &amp; then"));
    QTRY_VERIFY_WITH_TIMEOUT(demandsAttention(window), kWait);
    QVERIFY(channel().chat->toPlainText().endsWith(QStringLiteral("[Kite] psst <b>now</b> & then\n")));

    service_.capabilities = QStringList{QStringLiteral("body")};
    session.send(fromPlayer("Kite", "PRIVMSG #Help :any news, PILOT42? <i>"));
    QTRY_COMPARE_WITH_TIMEOUT(service_.received.size(), 2, kWait);
    QCOMPARE(service_.received.at(1).summary, QStringLiteral("Kite in #Help"));
    QCOMPARE(service_.received.at(1).body, QStringLiteral("any news, PILOT42? <i>"));
    // Each notification takes the place of the one before.
    QCOMPARE(service_.received.at(1).replaces, 1u);
    // A line that does not name the user calls for nothing.
    session.send(fromPlayer("Kite", "PRIVMSG #Help :Pilot421 is someone else"));
    QVERIFY(session.sync());
    letEventsRun(300);
    QCOMPARE(service_.received.size(), 2);

    // Back in the window: the request for attention is over, and lines call
    // for nothing again.
    elsewhere.terminate();
    QVERIFY(elsewhere.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == window, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!demandsAttention(window), kWait);
    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :still there?"));
    QVERIFY(session.sync());
    letEventsRun(300);
    QCOMPARE(service_.received.size(), 2);
    QVERIFY(!demandsAttention(window));
}

// A bus without a notification service: the window still asks for
// attention, and the session goes on as if nothing had been tried; a
// service that comes later gets the next notification.
void TestAlerts::noServiceNoNotification()
{
    service_.stop();
    service_.received.clear();
    TestSession session;
    QVERIFY(session.openLobby());
    QWidget* window = &lobby();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QProcess elsewhere;
    QVERIFY(goElsewhere(elsewhere));
    session.send(fromPlayer("Kite", "PRIVMSG Pilot42 :psst"));
    QTRY_VERIFY_WITH_TIMEOUT(demandsAttention(window), kWait);
    QVERIFY(session.sync());
    letEventsRun(300);
    QCOMPARE(service_.received.size(), 0);
    QVERIFY(service_.start());
    session.send(fromPlayer("Wren", "PRIVMSG Pilot42 :welcome"));
    QTRY_COMPARE_WITH_TIMEOUT(service_.received.size(), 1, kWait);
    QCOMPARE(service_.received.at(0).summary, QStringLiteral("Wren"));
    elsewhere.terminate();
    QVERIFY(elsewhere.waitForFinished());
}

int main(int argc, char** argv)
{
    // The bus must be known before the application first asks for it.
    PrivateBus bus;
    QByteArray address;
    if (!bus.start(&address)) {
        std::fprintf(stderr, "FAIL: no session bus of the test's own (dbus-daemon)\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return runWithXDisplay(argc, argv, [&] {
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);
        TestAlerts test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_alerts.moc"
