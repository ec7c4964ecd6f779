#pragma once

#include <QString>

// Draws the user's eye to the program while none of its windows is active:
// each of its windows on screen asks the window manager for attention until
// the user comes to it, and the desktop's notification service, where one
// runs on the session bus, shows `summary` and `body`. Nothing happens while
// one of the windows is active, and nothing fails without a bus or a
// service. Notifications go out one at a time, each replacing the one
// before; of those that come meanwhile only the newest waits, so a flood of
// lines makes no flood of notifications.
void alertUser(const QString& summary, const QString& body);
