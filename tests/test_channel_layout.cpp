#include "channel/channel_layout.h"

#include <QtTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

const LayoutRect& controlNamed(const ChannelLayout& layout, const QString& name)
{
    if (name == QLatin1String("label2")) return layout.label2;
    if (name == QLatin1String("label3")) return layout.label3;
    if (name == QLatin1String("label4")) return layout.label4;
    if (name == QLatin1String("label5")) return layout.label5;
    if (name == QLatin1String("filter")) return layout.filter;
    if (name == QLatin1String("notify")) return layout.notify;
    if (name == QLatin1String("exitBtn")) return layout.exitBtn;
    if (name == QLatin1String("users")) return layout.users;
    if (name == QLatin1String("games")) return layout.games;
    if (name == QLatin1String("chat")) return layout.chat;
    if (name == QLatin1String("message")) return layout.message;
    qFatal("unknown control %s", qPrintable(name));
}

QStringList allControls()
{
    return {QStringLiteral("label2"), QStringLiteral("label3"), QStringLiteral("label4"),
            QStringLiteral("label5"), QStringLiteral("filter"), QStringLiteral("notify"),
            QStringLiteral("exitBtn"), QStringLiteral("users"), QStringLiteral("games"),
            QStringLiteral("chat"), QStringLiteral("message")};
}

double right(const LayoutRect& r) { return r.left + r.width; }
double bottom(const LayoutRect& r) { return r.top + r.height; }

}

class TestChannelLayout : public QObject
{
    Q_OBJECT

private slots:
    void workedExample_data();
    void workedExample();
    void workedExampleColumns();
    void controlsFitTheWindow_data();
    void controlsFitTheWindow();
    void squeezedWindowHasNoNegativeSizes_data();
    void squeezedWindowHasNoNegativeSizes();
    void minimumSize_data();
    void minimumSize();
    void minimisedArea_data();
    void minimisedArea();
};

// A 1000 x 600 client area, every control worked out by hand.
void TestChannelLayout::workedExample_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");

    QTest::newRow("label2") << "label2" << 220.0 << 22.0 << 185.0 << 17.0;
    QTest::newRow("label3") << "label3" << 220.0 << 38.0 << 185.0 << 17.0;
    QTest::newRow("label4") << "label4" << 237.0 << 62.0 << 161.0 << 17.0;
    QTest::newRow("filter") << "filter" << 220.0 << 62.0 << 200.0 / 15 << 14.0;
    QTest::newRow("label5") << "label5" << 237.0 << 78.0 << 169.0 << 17.0;
    QTest::newRow("notify") << "notify" << 220.0 << 78.0 << 200.0 / 15 << 14.0;
    QTest::newRow("exitBtn") << "exitBtn" << 300.0 << 102.0 << 105.0 << 20.0;
    QTest::newRow("users") << "users" << 2.0 << 3.0 << 200.0 << 594.0;
    QTest::newRow("games") << "games" << 500.0 << 3.0 << 498.0 << 144.0;
    QTest::newRow("chat") << "chat" << 206.0 << 151.0 << 792.0 << 423.0;
    QTest::newRow("message") << "message" << 206.0 << 578.0 << 792.0 << 19.0;
}

void TestChannelLayout::workedExample()
{
    QFETCH(QString, control);
    QFETCH(double, left);
    QFETCH(double, top);
    QFETCH(double, width);
    QFETCH(double, height);

    const LayoutRect r = controlNamed(layoutChannel(1000, 600), control);
    QCOMPARE(r.left, left);
    QCOMPARE(r.top, top);
    QCOMPARE(r.width, width);
    QCOMPARE(r.height, height);
}

void TestChannelLayout::workedExampleColumns()
{
    const ChannelLayout layout = layoutChannel(1000, 600);
    QCOMPARE(layout.usersColumn, 176.0);
    QCOMPARE(layout.gamesColumn1, 237.0);
    QCOMPARE(layout.gamesColumn2, 237.0);
}

void TestChannelLayout::controlsFitTheWindow_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");

    QTest::newRow("minimum 700x500") << 700.0 << 500.0;
    QTest::newRow("odd 701x503") << 701.0 << 503.0;
    QTest::newRow("1000x600") << 1000.0 << 600.0;
    QTest::newRow("tall 700x1200") << 700.0 << 1200.0;
    QTest::newRow("wide 2560x500") << 2560.0 << 500.0;
    QTest::newRow("1920x1080") << 1920.0 << 1080.0;
}

// Whatever the usable size, no control overlaps another or leaves the window.
void TestChannelLayout::controlsFitTheWindow()
{
    QFETCH(double, w);
    QFETCH(double, h);
    const ChannelLayout layout = layoutChannel(w, h);

    for (const QString& name : allControls()) {
        const LayoutRect& r = controlNamed(layout, name);
        QVERIFY2(r.left >= 0 && right(r) <= w, qPrintable(name));
        QVERIFY2(bottom(r) <= h, qPrintable(name));
        QVERIFY2(r.width > 0 && r.height > 0, qPrintable(name));
    }

    // The status block lies between the users list and the games list. Its
    // widest row is label5, one pixel past the exit button's right edge.
    QCOMPARE(right(layout.exitBtn), 0.22 * w + 185);
    const double statusRight = std::max({right(layout.label2), right(layout.label3),
                                         right(layout.label4), right(layout.label5),
                                         right(layout.filter), right(layout.notify),
                                         right(layout.exitBtn)});
    QCOMPARE(statusRight, right(layout.label5));
    QVERIFY(layout.label2.left > right(layout.users));
    QVERIFY(statusRight < layout.games.left);
    QCOMPARE(layout.games.left, 0.5 * w);

    // The exit button is the lowest control of the block and clears the chat.
    QCOMPARE(bottom(layout.exitBtn), 0.12 * h + 50);
    QVERIFY(bottom(layout.exitBtn) < layout.chat.top);
    QCOMPARE(layout.chat.top, 0.24 * h + 7);

    // Rows of the block stack downwards; label2/label3 and label4/label5
    // share a one-pixel border, nothing overlaps more than that.
    QVERIFY(layout.label2.top < layout.label3.top);
    QCOMPARE(bottom(layout.label2) - layout.label3.top, 1.0);
    QCOMPARE(bottom(layout.label4) - layout.label5.top, 1.0);
    QVERIFY(bottom(layout.label3) <= layout.label4.top);
    QVERIFY(layout.label4.top + layout.filter.height <= layout.label5.top);
    QVERIFY(bottom(layout.label5) <= layout.exitBtn.top);
    QVERIFY(right(layout.filter) <= layout.label4.left);
    QVERIFY(right(layout.notify) <= layout.label5.left);

    // Chat sits right of the users list and below the games list; the entry
    // line runs under it at the same width.
    QVERIFY(right(layout.users) < layout.chat.left);
    QVERIFY(bottom(layout.games) < layout.chat.top);
    QVERIFY(bottom(layout.chat) < layout.message.top);
    QCOMPARE(layout.message.left, layout.chat.left);
    QCOMPARE(layout.message.width, layout.chat.width);

    // The columns fit inside their lists.
    QVERIFY(layout.usersColumn > 0 && layout.usersColumn < layout.users.width);
    QVERIFY(layout.gamesColumn1 > 0);
    QCOMPARE(layout.gamesColumn1, layout.gamesColumn2);
    QVERIFY(layout.gamesColumn1 + layout.gamesColumn2 < layout.games.width);
}

void TestChannelLayout::squeezedWindowHasNoNegativeSizes_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");

    QTest::newRow("1x1") << 1.0 << 1.0;
    QTest::newRow("3x40") << 3.0 << 40.0;
    QTest::newRow("100x30") << 100.0 << 30.0;
    QTest::newRow("699x43") << 699.0 << 43.0;
}

// Before the minimum-size correction takes effect the window can briefly be
// tiny; it must never hand a widget a negative size.
void TestChannelLayout::squeezedWindowHasNoNegativeSizes()
{
    QFETCH(double, w);
    QFETCH(double, h);
    const ChannelLayout layout = layoutChannel(w, h);

    for (const QString& name : allControls()) {
        const LayoutRect& r = controlNamed(layout, name);
        QVERIFY2(r.width >= 0 && r.height >= 0, qPrintable(name));
    }
    QVERIFY(layout.usersColumn >= 0);
    QVERIFY(layout.gamesColumn1 >= 0);
    QVERIFY(layout.gamesColumn2 >= 0);
    QVERIFY(layout.message.top >= bottom(layout.chat));
}

void TestChannelLayout::minimumSize_data()
{
    QTest::addColumn<double>("innerW");
    QTest::addColumn<double>("innerH");
    QTest::addColumn<std::optional<double>>("outerWidth");
    QTest::addColumn<std::optional<double>>("outerHeight");

    const std::optional<double> keep;
    QTest::newRow("one pixel too narrow") << 699.0 << 500.0 << std::optional<double>(700) << keep;
    QTest::newRow("one pixel too short") << 700.0 << 499.0 << keep << std::optional<double>(500);
    QTest::newRow("exactly the minimum") << 700.0 << 500.0 << keep << keep;
    QTest::newRow("larger") << 1280.0 << 900.0 << keep << keep;
    QTest::newRow("both too small") << 300.0 << 200.0 << std::optional<double>(700)
                                    << std::optional<double>(500);
    QTest::newRow("minimised") << 0.0 << 0.0 << keep << keep;
    QTest::newRow("no height") << 699.0 << 0.0 << keep << keep;
}

void TestChannelLayout::minimumSize()
{
    QFETCH(double, innerW);
    QFETCH(double, innerH);
    QFETCH(std::optional<double>, outerWidth);
    QFETCH(std::optional<double>, outerHeight);

    const MinimumSizeFix fix = minimumSizeFix(innerW, innerH);
    QCOMPARE(fix.outerWidth, outerWidth);
    QCOMPARE(fix.outerHeight, outerHeight);
}

void TestChannelLayout::minimisedArea_data()
{
    QTest::addColumn<double>("innerW");
    QTest::addColumn<double>("innerH");
    QTest::addColumn<bool>("minimised");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("0x0") << 0.0 << 0.0 << true;
    QTest::newRow("no width") << 0.0 << 500.0 << true;
    QTest::newRow("no height") << 700.0 << 0.0 << true;
    QTest::newRow("negative") << -8.0 << -8.0 << true;
    QTest::newRow("not a number") << nan << 500.0 << true;
    QTest::newRow("1x1") << 1.0 << 1.0 << false;
    QTest::newRow("below minimum") << 300.0 << 200.0 << false;
    QTest::newRow("normal") << 1000.0 << 600.0 << false;
}

void TestChannelLayout::minimisedArea()
{
    QFETCH(double, innerW);
    QFETCH(double, innerH);
    QFETCH(bool, minimised);

    QCOMPARE(isMinimisedArea(innerW, innerH), minimised);
}

QTEST_APPLESS_MAIN(TestChannelLayout)
#include "test_channel_layout.moc"
