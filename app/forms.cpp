#include "app/forms.h"

#include "channel/channel.h"
#include "encryption/encryption.h"
#include "lobby/lobby.h"
#include "login/login.h"

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
