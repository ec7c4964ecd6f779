#include "app/forms.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/listview.h"
#include "support/irc_lines_fixture.h"
#include "support/test_session.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <optional>

// What the user reads on each window: captions, column headers, labels,
// button texts, tool tips, where the login window's controls sit, which
// controls are shown, enabled or hold the keyboard focus.

namespace {

const QString kDoubleClickTip = QStringLiteral("Double-click a channel name to enter.");

// The text a control shows: a window's caption, a list's column headers
// joined by "|" (none while the header is hidden), a label's, button's or
// box's text; nullopt for a kind of control this test does not read.
std::optional<QString> shownText(const QWidget* widget)
{
    if (widget->isWindow())
        return widget->windowTitle();
    if (const auto* list = qobject_cast<const ListView*>(widget)) {
        if (list->horizontalHeader()->isHidden())
            return QString();
        QStringList captions;
        for (int column = 0; column < list->model()->columnCount(); ++column)
            captions << list->model()->headerData(column, Qt::Horizontal).toString();
        return captions.join(QLatin1Char('|'));
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return line->text();
    if (const auto* box = qobject_cast<const QPlainTextEdit*>(widget))
        return box->toPlainText();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    if (const auto* bar = qobject_cast<const QProgressBar*>(widget))
        return bar->text();
    return std::nullopt;
}

QWidget* loginControl(const QString& name)
{
    Login& w = login();
    const QHash<QString, QWidget*> controls = {
        {QStringLiteral("Login"), &w},          {QStringLiteral("Label1"), w.Label1},
        {QStringLiteral("Label2"), w.Label2},   {QStringLiteral("Label3"), w.Label3},
        {QStringLiteral("Label4"), w.Label4},   {QStringLiteral("Label5"), w.Label5},
        {QStringLiteral("Label6"), w.Label6},   {QStringLiteral("Label7"), w.Label7},
        {QStringLiteral("Label8"), w.Label8},   {QStringLiteral("userTxt"), w.userTxt},
        {QStringLiteral("flagBox"), w.flagBox}, {QStringLiteral("status"), w.status},
        {QStringLiteral("Command1"), w.Command1}, {QStringLiteral("Command2"), w.Command2},
        {QStringLiteral("Command3"), w.Command3},
    };
    return controls.value(name);
}

QWidget* lobbyControl(const QString& name)
{
    Lobby& w = lobby();
    const QHash<QString, QWidget*> controls = {
        {QStringLiteral("Lobby"), &w},
        {QStringLiteral("channels"), w.channels},
        {QStringLiteral("whoList"), w.whoList},
        {QStringLiteral("refreshChanButton"), w.refreshChanButton},
        {QStringLiteral("logoff"), w.logoff},
        {QStringLiteral("Label1"), w.Label1},
        {QStringLiteral("Label2"), w.Label2},
        {QStringLiteral("Label3"), w.Label3},
        {QStringLiteral("Label5"), w.Label5},
    };
    return controls.value(name);
}

QWidget* channelControl(const QString& name)
{
    Channel& w = channel();
    const QHash<QString, QWidget*> controls = {
        {QStringLiteral("Channel"), &w},
        {QStringLiteral("users"), w.users},
        {QStringLiteral("games"), w.games},
        {QStringLiteral("message"), w.message},
        {QStringLiteral("Label2"), w.Label2},
        {QStringLiteral("Label3"), w.Label3},
        {QStringLiteral("Label4"), w.Label4},
        {QStringLiteral("Label5"), w.Label5},
        {QStringLiteral("filter"), w.filter},
        {QStringLiteral("notify"), w.notify},
        {QStringLiteral("exitBtn"), w.exitBtn},
        // The channel window's set-up reaches into the lobby.
        {QStringLiteral("Lobby.refreshChanButton"), lobby().refreshChanButton},
    };
    return controls.value(name);
}

enum class ChannelStage {
    // The window as created, before any channel was entered.
    Design,
    // #Help entered, and its names reply handled.
    InChannel,
};

} // namespace

Q_DECLARE_METATYPE(ChannelStage)

class TestWindowTexts : public QObject {
    Q_OBJECT
private slots:
    void loginWindow_data();
    void loginWindow();
    void lobbyWindow_data();
    void lobbyWindow();
    void channelWindow_data();
    void channelWindow();
};

void TestWindowTexts::loginWindow_data()
{
    QTest::addColumn<QString>("control");
    // A null text: the wording is ours, the control must only say something.
    QTest::addColumn<QString>("text");
    // Left, top, width, height in twips; the window's row gives its client
    // area.
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<bool>("visible");

    QTest::newRow("window") << "Login" << "Login - Tavimere v1.3.9" << QRect(0, 0, 4590, 2640) << true;
    QTest::newRow("Label1") << "Label1" << "The Tavimere" << QRect(1200, 150, 2175, 255) << true;
    QTest::newRow("Label3") << "Label3" << "Connecting... (This may take several seconds)"
                            << QRect(870, 360, 2775, 495) << false;
    QTest::newRow("Label2") << "Label2" << "Username:" << QRect(240, 765, 975, 255) << true;
    // The stored name replaces the design text; a first run stores none.
    QTest::newRow("userTxt") << "userTxt" << "Username" << QRect(1250, 720, 1575, 285) << true;
    QTest::newRow("Label4") << "Label4" << "Flag:" << QRect(3120, 765, 495, 255) << true;
    QTest::newRow("flagBox") << "flagBox" << "" << QRect(3600, 690, 690, 330) << true;
    QTest::newRow("Label5") << "Label5" << "Verifying Internet Connection" << QRect(360, 1035, 3855, 255) << false;
    QTest::newRow("status") << "status" << "" << QRect(390, 1440, 3795, 135) << false;
    QTest::newRow("Command1") << "Command1" << "Login Fenmoor" << QRect(360, 1440, 1695, 300) << true;
    QTest::newRow("Command2") << "Command2" << "Credits" << QRect(2280, 1440, 975, 300) << true;
    QTest::newRow("Command3") << "Command3" << "Exit" << QRect(3480, 1440, 735, 300) << true;
    QTest::newRow("Label6") << "Label6" << "You use this program at your own risk." << QRect(120, 1920, 4335, 210)
                            << true;
    QTest::newRow("Label7") << "Label7" << QString() << QRect(120, 2115, 4335, 225) << true;
    QTest::newRow("Label8") << "Label8" << QString() << QRect(120, 2310, 4335, 225) << true;
}

void TestWindowTexts::loginWindow()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(bool, visible);

    TestSession session;
    session.showLogin();
    const QWidget* widget = loginControl(control);
    QVERIFY2(widget, qPrintable(control));

    const std::optional<QString> shown = shownText(widget);
    QVERIFY(shown);
    if (text.isNull())
        QVERIFY2(!shown->trimmed().isEmpty(), qPrintable(control));
    else
        QCOMPARE(*shown, text);
    const QRect pixels(twipsToPixelsX(twips.x()), twipsToPixelsY(twips.y()), twipsToPixelsX(twips.width()),
                       twipsToPixelsY(twips.height()));
    QCOMPARE(widget->isWindow() ? widget->rect() : widget->geometry(), pixels);
    QCOMPARE(widget->isVisible(), visible);
}

void TestWindowTexts::lobbyWindow_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("window") << "Lobby" << "Fenmoor Lobby - Tavimere" << "" << true;
    QTest::newRow("channels") << "channels" << "Channel|Users|Description" << kDoubleClickTip << true;
    QTest::newRow("whoList") << "whoList" << "Username|Channel" << kDoubleClickTip << true;
    QTest::newRow("refreshChanButton") << "refreshChanButton" << "Refresh" << "" << true;
    QTest::newRow("logoff") << "logoff" << "Log Off Fenmoor" << "" << true;
    QTest::newRow("Label1") << "Label1" << "Welcome To The Fenmoor Lobby" << "" << true;
    QTest::newRow("Label2") << "Label2" << "Channels" << "" << true;
    QTest::newRow("Label3") << "Label3" << "Server Data" << "" << true;
    QTest::newRow("Label5") << "Label5" << "Users" << "" << true;
}

void TestWindowTexts::lobbyWindow()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);

    TestSession session;
    QVERIFY(session.openLobby());
    const QWidget* widget = lobbyControl(control);
    QVERIFY2(widget, qPrintable(control));

    const std::optional<QString> shown = shownText(widget);
    QVERIFY(shown);
    QCOMPARE(*shown, text);
    QCOMPARE(widget->toolTip(), toolTip);
    QCOMPARE(widget->isEnabled(), enabled);
}

void TestWindowTexts::channelWindow_data()
{
    QTest::addColumn<ChannelStage>("stage");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    // Whether the control is where the window's keyboard focus is.
    QTest::addColumn<bool>("focused");

    const auto design = ChannelStage::Design;
    QTest::newRow("design caption") << design << "Channel" << "Channel - Tavimere" << true << false;
    QTest::newRow("design users") << design << "users" << "Users" << true << false;
    QTest::newRow("design games") << design << "games" << "Game Name|Host" << true << false;
    QTest::newRow("design Label2") << design << "Label2" << "" << true << false;
    QTest::newRow("design Label4") << design << "Label4" << "Language Filter" << true << false;
    QTest::newRow("design Label5") << design << "Label5" << "Show Enter/Exit Notifications" << true << false;
    // The check boxes' captions are the labels beside them.
    QTest::newRow("design filter") << design << "filter" << "" << true << false;
    QTest::newRow("design notify") << design << "notify" << "" << true << false;
    QTest::newRow("design exitBtn") << design << "exitBtn" << "Exit Channel" << true << false;

    const auto in = ChannelStage::InChannel;
    QTest::newRow("caption names the channel")
        << in << "Channel" << QString(QStringLiteral("#Help") + unscrambled(scrambled::kCaptionSuffix)) << true << false;
    QTest::newRow("Label2 names the channel") << in << "Label2" << "#Help" << true << false;
    QTest::newRow("Label3 names the user") << in << "Label3" << TestSession::kUser << true << false;
    QTest::newRow("lobby Refresh disabled") << in << "Lobby.refreshChanButton" << "Refresh" << false << false;
    // The focus was put on the exit button before the names reply came.
    QTest::newRow("names reply focuses the entry line") << in << "message" << "" << true << true;
    QTest::newRow("exit button loses the focus") << in << "exitBtn" << "Exit Channel" << true << false;
}

void TestWindowTexts::channelWindow()
{
    QFETCH(ChannelStage, stage);
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, focused);

    TestSession session;
    if (stage == ChannelStage::InChannel) {
        QVERIFY(session.enter(QStringLiteral("#Help")));
        channel().exitBtn->setFocus();
        QCOMPARE(channel().focusWidget(), channel().exitBtn);
        session.send(namesOf("Pilot42 Kite"));
        QTRY_VERIFY(channel().users->contains(QStringLiteral("Kite")));
    }
    const QWidget* widget = channelControl(control);
    QVERIFY2(widget, qPrintable(control));

    const std::optional<QString> shown = shownText(widget);
    QVERIFY(shown);
    QCOMPARE(*shown, text);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(channel().focusWidget() == widget, focused);
}

QTEST_MAIN(TestWindowTexts)
#include "test_window_texts.moc"
