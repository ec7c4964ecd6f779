#include "app/forms.h"

#include "channel/channel.h"
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
