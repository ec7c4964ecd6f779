#include "support/xserver.h"

#include <QApplication>
#include <QTemporaryDir>

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

// Starts a program with its output discarded and `passFd`, if any, as its
// descriptor 3. It dies with this process. Returns -1 with the reason when
// it cannot run.
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

} // namespace

XDisplay::~XDisplay()
{
    stop(wm_);
    stop(server_);
}

bool XDisplay::start(QByteArray* error)
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
    qputenv("QT_QPA_PLATFORM", "xcb");
    wm_ = spawn({"openbox", "--sm-disable", "--startup", "sh -c 'echo > " + ready + "'"}, -1, error);
    QByteArray line;
    const bool managing = wm_ > 0 && readLine(fd, kStartMs, &line);
    close(fd);
    if (wm_ > 0 && !managing)
        *error = "openbox did not start managing " + name;
    return managing;
}

bool XDisplay::startServer(QByteArray* error)
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

int runWithXDisplay(int argc, char** argv, const std::function<int()>& run)
{
    XDisplay display;
    QByteArray error;
    if (!display.start(&error)) {
        std::fprintf(stderr, "FAIL: no X display with a window manager: %s\n", error.constData());
        return 1;
    }
    QApplication app(argc, argv);
    return run();
}
