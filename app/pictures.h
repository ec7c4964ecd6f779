#pragma once

#include <QIcon>
#include <QPixmap>

class ImageList;

// The program's pictures, made once and shared by every window that shows
// them.
namespace pictures {
// 51 flags, 22 x 18, as the login window's picker shows them.
const ImageList& flagList();
// 53 pictures, 16 x 16: 1 to 51 the flags of flag numbers 0 to 50, 52 "flag
// not yet known", 53 the badge of the staff account.
const ImageList& flagsTiny();
// Seven 16 x 16 channel pictures: a creature's head, one red chevron, blue
// chevrons, yellow chevrons, a white star over a red cross, a speech bubble,
// a gold cup.
const ImageList& channelIcons();
// An open gold padlock and a closed padlock, 16 x 16.
const ImageList& locks();
// The 700 x 500 background that all three windows show.
const QPixmap& background();
const QIcon& applicationIcon();
} // namespace pictures
