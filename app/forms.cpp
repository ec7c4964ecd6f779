#include "app/forms.h"

#include "app/pictures.h"

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "lobby/lobby.h"
#include "login/login.h"

#include <QApplication>
#include <QFont>

namespace {
Login* gLogin = nullptr;
Lobby* gLobby = nullptr;
Channel* gChannel = nullptr;
} // namespace

Login& login()
{
    return *gLogin;
}

Lobby& lobby()
{
    return *gLobby;
}

Channel& channel()
{
    return *gChannel;
}

void applyProgramLook()
{
    QApplication::setApplicationName(QStringLiteral("Tavimere"));
    // The installed desktop entry (packaging/), so that the desktop shows
    // the program's windows under its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tavimere.Tavimere"));
    QApplication::setWindowIcon(pictures::applicationIcon());
    // Verdana is rarely installed here; DejaVu Sans has close metrics.
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    QApplication::setFont(font);
    // The windows stay alive while hidden; the login window decides when the
    // program ends.
    QApplication::setQuitOnLastWindowClosed(false);
}

Forms::Forms()
{
    // Before any window or connection exists: turning the texts back lets
    // pending events run, which must never happen in the middle of a session.
    turnBackStoredTexts();
    gLogin = new Login;
    gLobby = new Lobby;
    gChannel = new Channel;
}

Forms::~Forms()
{
    delete gChannel;
    delete gLobby;
    delete gLogin;
    gChannel = nullptr;
    gLobby = nullptr;
    gLogin = nullptr;
}
