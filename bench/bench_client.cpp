// The program's lobby and channel windows in a process of their own, for
// tavimere-pingbench to measure from outside. It logs straight into the chat
// server named by TAVIMERE_SERVICE (no gateway exchange), enters #Help when
// asked to, and says "READY" on the chat connection when it is set.
//
//   tavimere-benchclient lobby|channel
//
// Besides, it answers a second connection the way a window manager's ping
// is answered, from its event loop: it prints "ECHO <port>" on standard
// output, and on that port echoes each "p" at once, restarts its own
// measure of the longest pass of the event loop on "r", and reports it on
// "s" as "S <milliseconds>\n". It ends when that connection closes.

#include "app/forms.h"
#include "channel/channel.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "loop_watch.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyProgramLook();
    const bool inChannel = argc > 1 && QByteArray(argv[1]) == "channel";
    if (!applyServiceOverride(qgetenv("TAVIMERE_SERVICE"))) {
        std::fprintf(stderr, "TAVIMERE_SERVICE must name the chat server, e.g. 127.0.0.1:1:16667\n");
        return 2;
    }
    useFreshSettings();
    // A message box (the connection lost at the end) answers at once instead
    // of waiting for a click nobody makes.
    MessageBoxRecorder boxes;
    Forms forms;

    LoopWatch watch;
    QTcpServer echo;
    if (!echo.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&echo, &QTcpServer::newConnection, [&] {
        QTcpSocket* probe = echo.nextPendingConnection();
        probe->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(probe, &QTcpSocket::readyRead, [&watch, probe] {
            for (const char c : probe->readAll()) {
                if (c == 'p')
                    probe->write("p");
                else if (c == 'r')
                    watch.start();
                else if (c == 's')
                    probe->write("S " + QByteArray::number(watch.longestMs(), 'f', 1) + '\n');
            }
        });
        QObject::connect(probe, &QTcpSocket::disconnected, &app, &QCoreApplication::quit);
    });

    login().ensureLoaded();
    login().show();
    // The probes are PINGs every 50 ms, each to be answered; the channel's
    // WHO goes as soon as the names are in, as the in-process bench has it:
    // what is timed is the client's work, not its pace.
    lobby().setPingLimit(false);
    lobby().setRequestPacing(false);
    lobby().ircConnect(QStringLiteral("Pilot42"), 7);
    // Once the lobby is on screen the session is up; the periodic requests
    // would only add lines nobody measures.
    QTimer ready;
    ready.setInterval(10);
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!lobby().isVisible())
            return;
        ready.stop();
        for (QTimer* timer : {lobby().listTimer, lobby().whoTimerX, lobby().gamesTimer, lobby().whoisTimer})
            timer->stop();
        if (inChannel) {
            channel().ensureLoaded();
            channel().Label2->setText(QStringLiteral("#Help"));
            channel().filter->setChecked(true);
            lobby().hide();
            channel().show();
            for (QTimer* timer : {lobby().gamesTimer, lobby().whoisTimer})
                timer->stop();
        }
        lobby().irc->sendData(QByteArrayLiteral("READY\r\n"));
    });
    ready.start();
    std::printf("ECHO %d\n", echo.serverPort());
    std::fflush(stdout);
    return app.exec();
}
