#pragma once

#include <optional>

// Where one control of the channel window goes, in pixels of the window's
// client area. Kept as doubles: the window rounds when it places widgets, so
// rounding once there avoids drifting by a pixel per control.
struct LayoutRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

// Every control position and size of the channel window for one client size.
// label2..label5, filter, notify and exitBtn form the status block above the
// chat view; users is the nickname list, games the open-games list, chat the
// conversation view and message the entry line under it.
struct ChannelLayout {
    LayoutRect label2, label3, label4, label5, filter, notify, exitBtn, users, games, chat, message;
    double usersColumn = 0;
    double gamesColumn1 = 0;
    double gamesColumn2 = 0;
};

// Lays the channel window out for a client area of innerW x innerH pixels.
// Sizes that would come out negative in a window squeezed below its minimum
// are held at 0 so no widget is ever given an impossible size.
ChannelLayout layoutChannel(double innerW, double innerH);

// The outer size to give the window when its client area has shrunk below the
// usable minimum of 700 x 500; nullopt for a dimension that is fine as it is.
struct MinimumSizeFix {
    std::optional<double> outerWidth;
    std::optional<double> outerHeight;
};

// A minimised window (empty client area) is never resized: doing so would
// fight the user's minimise and restore the window behind their back.
MinimumSizeFix minimumSizeFix(double innerW, double innerH);

// True when the client area is empty, as while the window is minimised; the
// window then leaves its controls where they were.
bool isMinimisedArea(double innerW, double innerH);
