#pragma once

class Login;
class Lobby;
class Channel;

// The three windows exist once for the whole run and reach each other by
// name, as the program's parts are written.
Login& login();
Lobby& lobby();
Channel& channel();

// The program's name, icon and font, and that hidden windows keep it
// running. Call once the application object exists.
void applyProgramLook();

// Creates the three windows (and destroys them at the end of its scope).
// The program makes one in main(); each test makes its own.
class Forms {
public:
    Forms();
    ~Forms();
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;
};
