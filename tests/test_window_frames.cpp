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
#include "support/channel_session.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStartMs = 10000;
constexpr int kWait = 5000;
const QString kChannel = QStringLiteral("#Help");

// Starts a program with its output discarded and `passFd`, if any, as its
// descriptor 3. It dies with this process, so that a crashed or killed test
// leaves no X server behind. Returns -1 with the reason when it cannot run.
pid_t spawn(const std::vector<QByteArray>& args, int passFd, QByteArray* error)
{
    std::vector<char*> argv;
    for (const QByteArray& arg : args)
        argv.push_back(const_cast<char*>(arg.constData()));
    argv.push_back(nullptr);
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0) {
        *error = QByteArray("pipe: ") + std::strerror(errno);
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        if (passFd >= 0) {
            dup2(passFd, 3);
            fcntl(3, F_SETFD, 0);
        }
        execvp(argv[0], argv.data());
        const int reason = errno;
        [[maybe_unused]] const ssize_t written = write(status[1], &reason, sizeof reason);
        _exit(127);
    }
    close(status[1]);
    if (pid < 0) {
        close(status[0]);
        *error = QByteArray("fork: ") + std::strerror(errno);
        return -1;
    }
    // The pipe closes without a word when the program started.
    int reason = 0;
    const ssize_t got = read(status[0], &reason, sizeof reason);
    close(status[0]);
    if (got > 0) {
        waitpid(pid, nullptr, 0);
        *error = args.front() + ": " + std::strerror(reason);
        return -1;
    }
    return pid;
}

// Waits for a whole line on `fd`, for at most `ms` between its characters.
bool readLine(int fd, int ms, QByteArray* line)
{
    pollfd waiting{fd, POLLIN, 0};
    char c = 0;
    while (poll(&waiting, 1, ms) > 0 && read(fd, &c, 1) == 1) {
        if (c == '\n')
            return true;
        *line += c;
    }
    return false;
}

void stop(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

// An X server of this test's own with a window manager running on it.
class XDisplay {
public:
    ~XDisplay()
    {
        stop(wm_);
        stop(server_);
    }

    bool start(QByteArray* error)
    {
        if (!startServer(error))
            return false;
        // openbox runs its start-up command once it manages the screen.
        QTemporaryDir folder;
        const QByteArray ready = folder.filePath(QStringLiteral("ready")).toLocal8Bit();
        if (!folder.isValid() || mkfifo(ready.constData(), 0600) != 0) {
            *error = "no folder for openbox's start-up signal";
            return false;
        }
        // Opened for writing too, so that it never reads as closed.
        const int fd = open(ready.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = "no start-up signal for openbox";
            return false;
        }
        qputenv("DISPLAY", name);
        wm_ = spawn({"openbox", "--sm-disable", "--startup", "sh -c 'echo > " + ready + "'"}, -1, error);
        QByteArray line;
        const bool managing = wm_ > 0 && readLine(fd, kStartMs, &line);
        close(fd);
        if (wm_ > 0 && !managing)
            *error = "openbox did not start managing " + name;
        return managing;
    }

    QByteArray name;

private:
    bool startServer(QByteArray* error)
    {
        for (int n = 90; n <= 99; ++n) {
            const QByteArray number = QByteArray::number(n);
            if (access("/tmp/.X11-unix/X" + number, F_OK) == 0 || access("/tmp/.X" + number + "-lock", F_OK) == 0)
                continue;
            int ready[2];
            if (pipe2(ready, O_CLOEXEC) != 0)
                break;
            // Xvfb writes its display number once it accepts connections.
            server_ = spawn({"Xvfb", ":" + number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-displayfd", "3"},
                            ready[1], error);
            close(ready[1]);
            QByteArray line;
            const bool accepting = server_ > 0 && readLine(ready[0], kStartMs, &line) && line == number;
            close(ready[0]);
            if (accepting) {
                name = ":" + number;
                return true;
            }
            if (server_ <= 0)
                return false;
            // Someone else took the display meanwhile.
            stop(server_);
        }
        *error = "no free display among :90 to :99 for Xvfb";
        return false;
    }

    pid_t server_ = -1;
    pid_t wm_ = -1;
};

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

// Enters the channel again from the lobby of the same session, once the
// window has been left.
bool reenter(ChannelSession& session)
{
    const int scheme = session.gateway.connectionCount();
    if (!session.offerChannels({kChannel}) || !session.doubleClick(kChannel) || !session.waitForRequest(scheme))
        return false;
    session.answer(scheme, ChannelSession::kSchemeAnswer);
    return QTest::qWaitFor([] { return channel().isVisible(); });
}

} // namespace

class TestWindowFrames : public QObject {
    Q_OBJECT

private slots:
    void sizeComesBackIdentical_data();
    void sizeComesBackIdentical();
    void maximisedKeepsItsNormalSize();
};

void TestWindowFrames::sizeComesBackIdentical_data()
{
    QTest::addColumn<QByteArray>("storedX");
    QTest::addColumn<QByteArray>("storedY");
    QTest::addColumn<QSize>("outer");
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();

    QTest::newRow("nothing stored") << QByteArray() << QByteArray() << QSize(twipsToPixelsX(10635), twipsToPixelsY(8835));
    QTest::newRow("beyond the screen") << QByteArray("600000") << QByteArray("600000") << room;
    QTest::newRow("below the minimum") << QByteArray("-1000") << QByteArray("0") << QSize(700, 500);
}

void TestWindowFrames::sizeComesBackIdentical()
{
    QFETCH(QByteArray, storedX);
    QFETCH(QByteArray, storedY);
    QFETCH(QSize, outer);
    ChannelSession session;
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
            QVERIFY(reenter(session));
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
    ChannelSession session;
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
    QVERIFY(reenter(session));
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

int main(int argc, char** argv)
{
    XDisplay display;
    QByteArray error;
    if (!display.start(&error)) {
        std::fprintf(stderr, "FAIL: no X display with a window manager: %s\n", error.constData());
        return 1;
    }
    qputenv("DISPLAY", display.name);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowFrames test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_frames.moc"
