#include "channel/channel_layout.h"

#include <algorithm>

namespace {

// Controls that keep the same size whatever the window size.
constexpr double twipsPerPixel = 15;
constexpr double wideLabelWidth = 185;   // label2, label3
constexpr double label4Width = 161;
constexpr double label5Width = 169;
constexpr double labelHeight = 17;
constexpr double checkBoxWidth = 200 / twipsPerPixel;   // filter, notify
constexpr double checkBoxHeight = 210 / twipsPerPixel;
constexpr double exitButtonWidth = 105;
constexpr double exitButtonHeight = 20;
constexpr double messageHeight = 19;

constexpr double usersLeft = 2;
constexpr double listTop = 3;   // users and games lists
constexpr double columnMargin = 24;   // room for the scroll bar and borders

constexpr double minimumInnerWidth = 700;
constexpr double minimumInnerHeight = 500;

double nonNegative(double size)
{
    return std::max(size, 0.0);
}

}

ChannelLayout layoutChannel(double innerW, double innerH)
{
    const double W = innerW;
    const double H = innerH;
    ChannelLayout layout;

    // The status block sits above the chat view, between the users and games
    // lists. Its left edge works out to 0.22 W; the expression is kept in this
    // form and order so the window rounds it to the same pixel on every build.
    layout.label2 = {((W / 2 - 0.2 * W) / 2) - 0.13 * W + 0.2 * W, (H * 0.24) / 2 - 50,
                     wideLabelWidth, labelHeight};

    layout.users = {usersLeft, listTop, nonNegative(0.2 * W), nonNegative(H - 6)};
    layout.games = {W / 2, listTop, nonNegative(W / 2 - 2), nonNegative(H * 0.24)};

    const double statusLeft = layout.label2.left;
    layout.label3 = {statusLeft, layout.label2.top + 16, wideLabelWidth, labelHeight};
    layout.label4 = {statusLeft + 17, layout.label3.top + 24, label4Width, labelHeight};
    layout.filter = {statusLeft, layout.label4.top, checkBoxWidth, checkBoxHeight};
    layout.label5 = {statusLeft + 17, layout.label4.top + 16, label5Width, labelHeight};
    layout.notify = {statusLeft, layout.label5.top, checkBoxWidth, checkBoxHeight};
    layout.exitBtn = {statusLeft + 80, layout.label5.top + 24, exitButtonWidth, exitButtonHeight};

    layout.chat = {layout.users.width + 6, layout.games.height + 7,
                   nonNegative(W - layout.users.width - 8),
                   nonNegative(H - layout.games.height - 33)};
    layout.message = {layout.chat.left, layout.chat.height + layout.chat.top + 4,
                      layout.chat.width, messageHeight};

    layout.usersColumn = nonNegative(layout.users.width - columnMargin);
    layout.gamesColumn1 = nonNegative((layout.games.width - columnMargin) / 2);
    layout.gamesColumn2 = layout.gamesColumn1;
    return layout;
}

MinimumSizeFix minimumSizeFix(double innerW, double innerH)
{
    MinimumSizeFix fix;
    if (isMinimisedArea(innerW, innerH))
        return fix;
    if (innerW < minimumInnerWidth)
        fix.outerWidth = minimumInnerWidth;
    if (innerH < minimumInnerHeight)
        fix.outerHeight = minimumInnerHeight;
    return fix;
}

bool isMinimisedArea(double innerW, double innerH)
{
    // Written as "not positive" so a NaN size also counts as no area.
    return !(innerW > 0) || !(innerH > 0);
}
