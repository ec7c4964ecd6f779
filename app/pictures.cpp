#include "app/pictures.h"

#include "platform/listview.h"

#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <cmath>

// The pictures are compiled into the static core library, whose resource
// initialiser the linker would otherwise leave out.
static void loadPictureResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    Q_UNUSED(loaded);
}

namespace {

constexpr int kFlagCount = 51;

// Every picture is made for the screen's device pixel ratio, so that a
// scaled screen (a high-density one, QT_SCALE_FACTOR) shows it sharp: the
// drawn ones are painted at that resolution, the small files are enlarged by
// whole pixels instead of being smoothed. Sizes stay in the windows' units.
qreal screenRatio()
{
    return qGuiApp->devicePixelRatio();
}

// A transparent picture of `width` x `height` in the windows' units.
QPixmap canvas(int width, int height)
{
    const qreal ratio = screenRatio();
    QPixmap out(QSize(width, height) * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    return out;
}

// A picture file at its own size in the windows' units. Each of its pixels
// becomes a block of whole device pixels; a fractional ratio then shrinks
// the next whole multiple, which blurs less than enlarging would.
QPixmap filePicture(const QString& name)
{
    loadPictureResources();
    const QPixmap file(QStringLiteral(":/pictures/") + name);
    const int whole = qCeil(screenRatio());
    if (whole <= 1)
        return file;
    QPixmap out = file.scaled(file.size() * whole, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    out.setDevicePixelRatio(whole);
    return out;
}

// A picture the theme draws at 16 and at 32 pixels: the larger drawing on a
// scaled screen, shown at 16 x 16 in the windows' units.
QPixmap themePicture(const QString& name)
{
    if (screenRatio() <= 1.0)
        return filePicture(name + QStringLiteral(".png"));
    loadPictureResources();
    QPixmap out(QStringLiteral(":/pictures/") + name + QStringLiteral("-32.png"));
    out.setDevicePixelRatio(out.width() / 16.0);
    return out;
}

QPixmap flagPicture(int number)
{
    return filePicture(QStringLiteral("flag%1.png").arg(number));
}

// A 16 x 11 flag centred, unscaled, on a transparent picture of the given size.
QPixmap centred(const QPixmap& flag, int width, int height)
{
    QPixmap out = canvas(width, height);
    const QSize size = flag.deviceIndependentSize().toSize();
    QPainter p(&out);
    p.drawPixmap((width - size.width()) / 2, (height - size.height()) / 2, flag);
    return out;
}

QPixmap blank16()
{
    return canvas(16, 16);
}

QPixmap chevrons(const QColor& colour, int count)
{
    QPixmap out = blank16();
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    // Each chevron is 7 high; three sit closer so that all of them, with
    // their outlines, fit the picture, centred.
    const int step = count > 2 ? 4 : 5;
    const qreal top = (16 - ((count - 1) * step + 7)) / 2.0;
    for (int i = 0; i < count; ++i) {
        const qreal y = top + i * step;
        QPainterPath path;
        path.moveTo(2, y + 4);
        path.lineTo(8, y);
        path.lineTo(14, y + 4);
        path.lineTo(14, y + 7);
        path.lineTo(8, y + 3);
        path.lineTo(2, y + 7);
        path.closeSubpath();
        p.drawPath(path);
    }
    return out;
}

QPixmap starOverCross()
{
    QPixmap out = blank16();
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(6, 1, 4, 14, QColor(200, 20, 20));
    p.fillRect(1, 6, 14, 4, QColor(200, 20, 20));
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const double r = (i % 2 == 0) ? 6.5 : 2.8;
        const QPointF point(8 + r * std::cos(angle), 8.5 + r * std::sin(angle));
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 0.8));
    p.setBrush(Qt::white);
    p.drawPath(star);
    return out;
}

QPixmap goldCup()
{
    QPixmap out = blank16();
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor gold(230, 180, 30);
    p.setPen(QPen(gold.darker(150), 1));
    p.setBrush(gold);
    QPainterPath bowl;
    bowl.moveTo(3.5, 2.5);
    bowl.lineTo(12.5, 2.5);
    bowl.cubicTo(12.5, 8, 10, 9.5, 8, 9.5);
    bowl.cubicTo(6, 9.5, 3.5, 8, 3.5, 2.5);
    p.drawPath(bowl);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(1, 3, 4, 4), 90 * 16, 180 * 16);
    p.drawArc(QRectF(11, 3, 4, 4), 270 * 16, 180 * 16);
    p.setBrush(gold);
    p.drawRect(QRectF(7, 9.5, 2, 3));
    p.drawRect(QRectF(4.5, 12.5, 7, 2));
    return out;
}

// The badge of the service's own member: a gold disc with a star.
QPixmap specialBadge()
{
    QPixmap out = blank16();
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(6, 6), 9);
    g.setColorAt(0, QColor(255, 240, 150));
    g.setColorAt(1, QColor(200, 140, 10));
    p.setPen(QPen(QColor(120, 80, 0), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(QColor(120, 60, 0), 1.6));
    p.drawLine(QPointF(8, 4), QPointF(8, 12));
    p.drawLine(QPointF(4, 8), QPointF(12, 8));
    return out;
}

// "Flag not yet known": a grey outline with a question mark.
QPixmap unknownFlag()
{
    QPixmap out = blank16();
    QPainter p(&out);
    p.setPen(QPen(QColor(170, 170, 170), 1, Qt::DashLine));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRect(QRectF(0.5, 2.5, 15, 11));
    QFont f = p.font();
    f.setPixelSize(10);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(220, 220, 220));
    p.drawText(QRectF(0, 2, 16, 12), Qt::AlignCenter, QStringLiteral("?"));
    return out;
}

QPixmap drawBackground()
{
    QPixmap out = canvas(700, 500);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 500);
    sky.setColorAt(0, QColor(30, 44, 66));
    sky.setColorAt(0.55, QColor(65, 85, 112));
    sky.setColorAt(1, QColor(38, 58, 52));
    p.fillRect(QRect(0, 0, 700, 500), sky);
    // Low hills and a fen under a pale moon.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 232, 210, 60));
    p.drawEllipse(QPointF(560, 110), 46, 46);
    p.setBrush(QColor(235, 232, 210, 140));
    p.drawEllipse(QPointF(560, 110), 30, 30);
    QPainterPath hills;
    hills.moveTo(0, 360);
    hills.cubicTo(140, 300, 260, 330, 380, 350);
    hills.cubicTo(500, 370, 600, 310, 700, 330);
    hills.lineTo(700, 500);
    hills.lineTo(0, 500);
    hills.closeSubpath();
    p.setBrush(QColor(34, 50, 48));
    p.drawPath(hills);
    QPainterPath fen;
    fen.moveTo(0, 430);
    fen.cubicTo(200, 405, 420, 445, 700, 420);
    fen.lineTo(700, 500);
    fen.lineTo(0, 500);
    fen.closeSubpath();
    p.setBrush(QColor(24, 36, 40));
    p.drawPath(fen);
    p.setPen(QPen(QColor(120, 140, 160, 70), 1));
    for (int y = 440; y < 500; y += 12)
        p.drawLine(QPointF(40 + (y % 5) * 30, y), QPointF(260 + (y % 7) * 40, y));
    return out;
}

ImageList buildFlagList()
{
    ImageList list;
    for (int i = 1; i <= kFlagCount; ++i)
        list.add(centred(flagPicture(i), 22, 18));
    return list;
}

ImageList buildFlagsTiny()
{
    ImageList list;
    for (int i = 1; i <= kFlagCount; ++i)
        list.add(centred(flagPicture(i), 16, 16));
    list.add(unknownFlag());
    list.add(specialBadge());
    return list;
}

ImageList buildChannelIcons()
{
    ImageList list;
    list.add(themePicture(QStringLiteral("face-monkey")));
    list.add(chevrons(QColor(220, 30, 30), 1));
    list.add(chevrons(QColor(50, 100, 230), 2));
    list.add(chevrons(QColor(240, 210, 40), 3));
    list.add(starOverCross());
    list.add(filePicture(QStringLiteral("comment.png")));
    list.add(goldCup());
    return list;
}

ImageList buildLocks()
{
    ImageList list;
    list.add(filePicture(QStringLiteral("lock_open.png")));
    list.add(filePicture(QStringLiteral("lock.png")));
    return list;
}

} // namespace

namespace pictures {

const ImageList& flagList()
{
    static const ImageList list = buildFlagList();
    return list;
}

const ImageList& flagsTiny()
{
    static const ImageList list = buildFlagsTiny();
    return list;
}

const ImageList& channelIcons()
{
    static const ImageList list = buildChannelIcons();
    return list;
}

const ImageList& locks()
{
    static const ImageList list = buildLocks();
    return list;
}

const QPixmap& background()
{
    static const QPixmap picture = drawBackground();
    return picture;
}

const QIcon& applicationIcon()
{
    static const QIcon icon = [] {
        loadPictureResources();
        // Every size the theme draws, so that each place picks a sharp one.
        const QDir folder(QStringLiteral(":/pictures"));
        QIcon sizes;
        for (const QString& name : folder.entryList({QStringLiteral("app-icon-*.png")}))
            sizes.addFile(folder.filePath(name));
        return sizes;
    }();
    return icon;
}

} // namespace pictures
