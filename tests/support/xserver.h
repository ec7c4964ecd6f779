#pragma once

#include <QByteArray>

#include <sys/types.h>

// An X server of the test's own (Xvfb, 1280x1024) with the openbox window
// manager running on it, for tests that need real frames, focus and window
// states. Both die with the test process, so a crashed or killed test leaves
// no X server behind.
//
//   XDisplay display;
//   QByteArray error;
//   if (!display.start(&error)) { report error; fail }
//   // DISPLAY now names the new server; make the QApplication afterwards.
#include <functional>

class XDisplay;

// The main() of a test program that needs an X display: starts the display
// and its window manager, then the application on it, and returns what
// `run` returns. Fails (1, with the reason on stderr) without a display.
int runWithXDisplay(int argc, char** argv, const std::function<int()>& run);

class XDisplay {
public:
    XDisplay() = default;
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Starts the server on a free display among :90 to :99 and the window
    // manager on it, and sets DISPLAY and QT_QPA_PLATFORM=xcb for the
    // process. False, with the reason, when either cannot run.
    bool start(QByteArray* error);

    // ":90" and so on, once started.
    QByteArray name;

private:
    bool startServer(QByteArray* error);

    pid_t server_ = -1;
    pid_t wm_ = -1;
};
