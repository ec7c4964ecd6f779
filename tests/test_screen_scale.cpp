#include "app/forms.h"
#include "app/pictures.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/listview.h"
#include "support/fakes.h"

#include <QGuiApplication>
#include <QImage>
#include <QSet>
#include <QtMath>
#include <QtTest>

// The windows and pictures on a scaled screen. CTest runs this program
// twice, at the plain scale and with QT_SCALE_FACTOR=2: sizes stay in the
// windows' own units, and every picture is made at the screen's resolution.

namespace {

// Premultiplied, as pictures are kept for drawing.
QImage premultiplied(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QSet<QRgb> colours(const QImage& image)
{
    const QImage plain = premultiplied(image);
    QSet<QRgb> found;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            found.insert(plain.pixel(x, y));
    return found;
}

QSet<QRgb> fileColours(const QStringList& files)
{
    QSet<QRgb> found{qRgba(0, 0, 0, 0)};
    for (const QString& file : files)
        found += colours(QImage(QStringLiteral(":/pictures/") + file));
    return found;
}

} // namespace

class TestScreenScale : public QObject {
    Q_OBJECT
private slots:
    void windowsKeepTheirOwnUnits();
    void picturesAreMadeAtTheScreenResolution_data();
    void picturesAreMadeAtTheScreenResolution();
    void filePicturesAreNeverSmoothed_data();
    void filePicturesAreNeverSmoothed();
    void windowIconIsADrawingOfTheTheme();
};

void TestScreenScale::windowsKeepTheirOwnUnits()
{
    useFreshSettings();
    Forms forms;
    // 4590 x 2640 and 8670 x 6870 twips at 15 twips to the window's pixel,
    // whatever the screen's scale.
    QCOMPARE(login().size(), QSize(306, 176));
    QCOMPARE(lobby().size(), QSize(578, 458));
}

void TestScreenScale::picturesAreMadeAtTheScreenResolution_data()
{
    QTest::addColumn<const ImageList*>("list");
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("size");

    QTest::newRow("login flags") << &pictures::flagList() << 51 << QSize(22, 18);
    QTest::newRow("member flags and badges") << &pictures::flagsTiny() << 53 << QSize(16, 16);
    QTest::newRow("channel pictures") << &pictures::channelIcons() << 7 << QSize(16, 16);
    QTest::newRow("padlocks") << &pictures::locks() << 2 << QSize(16, 16);
}

void TestScreenScale::picturesAreMadeAtTheScreenResolution()
{
    QFETCH(const ImageList*, list);
    QFETCH(int, count);
    QFETCH(QSize, size);

    const qreal ratio = qGuiApp->devicePixelRatio();
    QCOMPARE(list->count(), count);
    for (int i = 1; i <= count; ++i) {
        const QPixmap picture = list->picture(i);
        QCOMPARE(picture.deviceIndependentSize(), QSizeF(size));
        QCOMPARE(picture.size(), size * ratio);
        // What a list draws at the window's size on this screen is the
        // picture itself, not a copy scaled from another resolution.
        QCOMPARE(premultiplied(list->icon(i).pixmap(size, ratio).toImage()), premultiplied(picture.toImage()));
    }
    const QPixmap& background = pictures::background();
    QCOMPARE(background.deviceIndependentSize(), QSizeF(700, 500));
    QCOMPARE(background.size(), QSize(700, 500) * ratio);
}

void TestScreenScale::filePicturesAreNeverSmoothed_data()
{
    QTest::addColumn<const ImageList*>("list");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("files");

    for (int flag = 1; flag <= 51; ++flag)
        QTest::addRow("login flag %d", flag) << &pictures::flagList() << flag
                                             << QStringList{QStringLiteral("flag%1.png").arg(flag)};
    for (int flag = 1; flag <= 50; ++flag)
        QTest::addRow("member flag %d", flag) << &pictures::flagsTiny() << flag
                                              << QStringList{QStringLiteral("flag%1.png").arg(flag)};
    QTest::newRow("creature's head") << &pictures::channelIcons() << 1
                                     << QStringList{QStringLiteral("face-monkey.png"),
                                                    QStringLiteral("face-monkey-32.png")};
    QTest::newRow("speech bubble") << &pictures::channelIcons() << 6 << QStringList{QStringLiteral("comment.png")};
    QTest::newRow("open padlock") << &pictures::locks() << 1 << QStringList{QStringLiteral("lock_open.png")};
    QTest::newRow("closed padlock") << &pictures::locks() << 2 << QStringList{QStringLiteral("lock.png")};
}

// A smoothed enlargement mixes neighbouring pixels into colours the file
// never had; whole-pixel blocks keep to the file's own colours.
void TestScreenScale::filePicturesAreNeverSmoothed()
{
    QFETCH(const ImageList*, list);
    QFETCH(int, index);
    QFETCH(QStringList, files);

    const QSet<QRgb> allowed = fileColours(files);
    const QSet<QRgb> shown = colours(list->picture(index).toImage());
    QVERIFY2(shown.size() > 1, "the picture is empty");
    QVERIFY(allowed.contains(shown));
}

void TestScreenScale::windowIconIsADrawingOfTheTheme()
{
    // The icon in a window's frame, 16 in the window's units, is drawn by
    // the theme at that many device pixels.
    const qreal ratio = qGuiApp->devicePixelRatio();
    const int pixels = qRound(16 * ratio);
    QImage drawing(QStringLiteral(":/pictures/app-icon-%1.png").arg(pixels));
    QVERIFY2(!drawing.isNull(), "the theme has no drawing of that size");
    drawing.setDevicePixelRatio(ratio);
    QCOMPARE(premultiplied(pictures::applicationIcon().pixmap(QSize(16, 16), ratio).toImage()), premultiplied(drawing));
}

QTEST_MAIN(TestScreenScale)
#include "test_screen_scale.moc"
