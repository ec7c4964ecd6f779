#include "login/login.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "channel/channel.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "platform/controls.h"
#include "platform/cp1252.h"
#include "platform/dialogs.h"
#include "platform/listview.h"
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/socket.h"

#include <QLabel>
#include <QLineEdit>
#include <QHideEvent>
#include <QWindow>
#include <QPalette>
#include <QShowEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kWelcomeMarker = QStringLiteral("Welcome to the FENMOOR Gateway.<BR></FONT>");
const QString kShowLoginMarker = QStringLiteral("<SHOWLOGIN>");
const QString kInvalidMarker = QStringLiteral("Your username is invalid");

constexpr int kExchangeTimeoutMs = 20000;

QLabel* makeLabel(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTwipGeometry(label, left, top, width, height);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    setTwipGeometry(button, left, top, width, height);
    return button;
}

} // namespace

Login::Login()
    : exchangeTimer_(new QTimer(this))
{
    setWindowTitle(QStringLiteral("Login - Tavimere v1.3.9"));
    setWindowIcon(pictures::applicationIcon());
    setFixedSize(twipsToPixelsX(4590), twipsToPixelsY(2640));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, pictures::background());
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    Label1 = makeLabel(this, QStringLiteral("The Tavimere"), 1200, 150, 2175, 255);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label3 = makeLabel(this, QStringLiteral("Connecting... (This may take several seconds)"), 870, 360, 2775, 495);
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label2 = makeLabel(this, QStringLiteral("Username:"), 240, 765, 975, 255);
    userTxt = new QLineEdit(QStringLiteral("Username"), this);
    userTxt->setMaxLength(15);
    setTwipGeometry(userTxt, 1250, 720, 1575, 285);
    Label4 = makeLabel(this, QStringLiteral("Flag:"), 3120, 765, 495, 255);
    flagBox = new ImageCombo(this);
    flagBox->setImageList(&pictures::flagList());
    setTwipGeometry(flagBox, 3600, 690, 690, 330);
    Label5 = makeLabel(this, QStringLiteral("Verifying Internet Connection"), 360, 1035, 3855, 255);
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    status = new QProgressBar(this);
    status->setRange(0, 100);
    status->setTextVisible(false);
    setTwipGeometry(status, 390, 1440, 3795, 135);
    Command1 = makeButton(this, QStringLiteral("Login Fenmoor"), 360, 1440, 1695, 300);
    Command2 = makeButton(this, QStringLiteral("Credits"), 2280, 1440, 975, 300);
    Command3 = makeButton(this, QStringLiteral("Exit"), 3480, 1440, 735, 300);
    Label6 = makeLabel(this, QStringLiteral("You use this program at your own risk."), 120, 1920, 4335, 210);
    Label7 = makeLabel(this, QStringLiteral("Tavimere is not made or supported by the Fenmoor team."), 120, 2115, 4335, 225);
    Label8 = makeLabel(this, QStringLiteral("Be kind in the lobby: other players read what you write."), 120, 2310, 4335, 225);
    for (QLabel* small : {Label6, Label7, Label8}) {
        QFont f = small->font();
        f.setPointSizeF(7);
        small->setFont(f);
    }
    Label3->hide();
    Label5->hide();
    status->hide();

    setTabOrder(userTxt, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, flagBox);

    http = new Socket(QStringLiteral("http"), this);
    exchangeTimer_->setSingleShot(true);
    exchangeTimer_->setInterval(kExchangeTimeoutMs);

    connect(Command1, &QPushButton::clicked, this, &Login::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Login::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Login::Command3_Click);
    connect(flagBox, QOverload<int>::of(&QComboBox::activated), this, &Login::flagBox_Click);
    connect(http, &Socket::connected, this, &Login::http_Connect);
    connect(http, &Socket::dataArrival, this, &Login::http_DataArrival);
    connect(http, &Socket::peerClosed, this, &Login::http_PeerClosed);
    connect(http, &Socket::errorOccurred, this,
            [this] { exchangeFailed(plainText(scrambled::kGatewayUnreachableText)); });
    connect(exchangeTimer_, &QTimer::timeout, this,
            [this] { exchangeFailed(plainText(scrambled::kGatewayTimeoutText)); });
}

void Login::setExchangeTimeout(int ms)
{
    exchangeTimer_->setInterval(ms);
}

void Login::Form_Load()
{
    loginStep = 0;
    SettingsStore store;
    storedUsername = store.readText(QStringLiteral("Username"), QStringLiteral("Username"));
    storedFlag = store.readInt16(QStringLiteral("Flag"), 1);
    FilterValue = store.readInt16(QStringLiteral("ProfanityFilter"), 1);
    NotifyValue = store.readInt16(QStringLiteral("UserNotify"), 1);
    chX = store.readInt32(QStringLiteral("ChannelX"), 10635);
    chY = store.readInt32(QStringLiteral("ChannelY"), 8835);
    chS = store.readInt32(QStringLiteral("ChannelS"), 0);
    // A flag index the picker does not have would select nothing and log in
    // with flag -1; the first flag stands in for it.
    if (storedFlag < 1 || storedFlag > pictures::flagList().count())
        storedFlag = 1;
    // A check box is on or off, the window normal, minimised or maximised,
    // a size positive: anything else was not written by the program.
    if (FilterValue != 0 && FilterValue != 1)
        FilterValue = 1;
    if (NotifyValue != 0 && NotifyValue != 1)
        NotifyValue = 1;
    if (chX <= 0)
        chX = 10635;
    if (chY <= 0)
        chY = 8835;
    if (chS < 0 || chS > 2)
        chS = 0;

    flagBox->clear();
    for (int i = 1; i <= pictures::flagList().count(); ++i)
        flagBox->addPictureItem(i);
    userTxt->setText(storedUsername);
    flagBox->setSelectedIndex(storedFlag);
    userTxt->setFocus();
}

void Login::Form_QueryUnload()
{
    lobby().unload();
    channel().unload();
    storedUsername = userTxt->text();
    storedFlag = static_cast<qint16>(flagBox->selectedIndex());

    SettingsStore store;
    store.write(QStringLiteral("Username"), storedUsername);
    store.write(QStringLiteral("Flag"), QString::number(storedFlag));
    store.write(QStringLiteral("ProfanityFilter"), QString::number(FilterValue));
    store.write(QStringLiteral("UserNotify"), QString::number(NotifyValue));
    store.write(QStringLiteral("ChannelX"), QString::number(chX));
    store.write(QStringLiteral("ChannelY"), QString::number(chY));
    store.write(QStringLiteral("ChannelS"), QString::number(chS));

    exchangeRunning_ = false;
    exchangeTimer_->stop();
    http->close();
    response_.clear();
    emit programEnded();
}

// A session hides the window; when it ends, the window comes back where the
// user had it, not wherever the window manager would put a new one. The
// window manager frames the window again only some time after it is shown,
// so the place is set once more when the frame is known.
void Login::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous())
        place_ = frameGeometry().topLeft();
    Form::hideEvent(event);
}

void Login::showEvent(QShowEvent* event)
{
    if (place_ && !event->spontaneous()) {
        move(*place_);
        placeTries_ = 0;
        windowHandle()->installEventFilter(this);
    }
    Form::showEvent(event);
}

bool Login::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (place_ && watched == windowHandle() && (type == QEvent::Expose || type == QEvent::Move))
        QMetaObject::invokeMethod(this, &Login::settlePlace, Qt::QueuedConnection);
    return Form::eventFilter(watched, event);
}

void Login::settlePlace()
{
    if (!place_ || !isVisible() || windowHandle()->frameMargins().isNull())
        return;
    // A few tries at most: a window manager may have rules of its own.
    if (frameGeometry().topLeft() == *place_ || ++placeTries_ > 3) {
        place_.reset();
        return;
    }
    move(*place_);
}

void Login::showItems()
{
    for (QWidget* w : idleControls())
        w->show();
    Label3->hide();
    Label5->hide();
    status->hide();
}

QList<QWidget*> Login::idleControls() const
{
    return {Command1, Command2, Command3, Label1, Label2, userTxt, Label4, flagBox};
}

void Login::Command2_Click()
{
    messageBox(this,
               QStringLiteral("Tavimere v1.3.9\n\nA chat client for the Fenmoor online game lobby.\n\n"
                              "Written by the Tavimere team.\nFlags: famfamfam flag icons (public domain).\n"
                              "Icons: famfamfam Silk by Mark James (CC BY 3.0) and the Tango project (public domain)."),
               QStringLiteral("Tavimere Credits"), MessageIcon::Information);
    userTxt->setFocus();
}

void Login::Command3_Click()
{
    unload();
}

void Login::flagBox_Click()
{
    userTxt->setFocus();
}

void Login::Command1_Click()
{
    if (previousInstance()) {
        messageBox(this, plainText(scrambled::kPreviousInstanceText), plainText(scrambled::kPreviousInstanceTitle), MessageIcon::Exclamation);
        return;
    }
    const QString name = userTxt->text();
    if (!name.isEmpty() && name.front() >= QLatin1Char('0') && name.front() <= QLatin1Char('9')) {
        messageBox(this, plainText(scrambled::kDigitNameText), plainText(scrambled::kDigitNameTitle),
                   MessageIcon::Information);
        return;
    }
    QString masked = name;
    masked.replace(plainText(scrambled::kBannedWord1), QStringLiteral("****"), Qt::CaseInsensitive);
    masked.replace(plainText(scrambled::kBannedWord2), QStringLiteral("****"), Qt::CaseInsensitive);
    masked.replace(plainText(scrambled::kBannedWord3), QStringLiteral("****"), Qt::CaseInsensitive);
    masked.replace(plainText(scrambled::kBannedWord4), QStringLiteral("********"), Qt::CaseInsensitive);
    if (masked != userTxt->text()) {
        userTxt->setText(masked);
        userTxt->setFocus();
        return;
    }
    if (name.contains(QLatin1Char('*'))) {
        messageBox(this, plainText(scrambled::kStarNameText), plainText(scrambled::kStarNameTitle),
                   MessageIcon::Exclamation);
        userTxt->setFocus();
        return;
    }
    // The chat server takes a nick of one word: an empty name, or one with
    // a blank, could never be registered.
    if (name.isEmpty() || name.contains(QLatin1Char(' '))) {
        messageBox(this, plainText(scrambled::kBlankNameText), plainText(scrambled::kUnencodableTitle),
                   MessageIcon::Exclamation);
        userTxt->setFocus();
        return;
    }
    // The gateway reads single bytes: a name it cannot receive as typed
    // would log in under another name, and a control character (a pasted
    // tab or line break, or one in the stored name) would break the
    // requests and the chat registration apart.
    if (!gateway::isRequestSafe(name) || !encodeWindows1252(name)) {
        messageBox(this, plainText(scrambled::kUnencodableText), plainText(scrambled::kUnencodableTitle),
                   MessageIcon::Exclamation);
        userTxt->setFocus();
        return;
    }

    for (QWidget* w : idleControls())
        w->hide();
    Label3->show();
    Label5->show();
    status->show();
    setProgress(QStringLiteral("Connecting to the Fenmoor Server"), 50);

    // Every login walks the gateway from its welcome page.
    loginStep = 0;
    response_.clear();
    exchangeRunning_ = true;
    exchangeTimer_->start();
    http->close();
    if (!http->connect(service().gatewayAddress, service().gatewayPort))
        exchangeFailed(plainText(scrambled::kGatewayUnreachableText));
}

void Login::http_Connect()
{
    if (!cookieText.isEmpty())
        cookieTemText = cookieText;
    setProgress(QStringLiteral("Sending Login Request to Server"), 75);
    QString request;
    switch (loginStep) {
    case 0:
        request = gateway::buildRequest(service().gatewayAddress, gateway::welcomePage(), gateway::HeaderSet::Plain,
                                        cookieTemText);
        break;
    case 1:
        request = gateway::buildRequest(service().gatewayAddress, gateway::loginFormPage(),
                                        gateway::HeaderSet::Cookie, cookieTemText);
        break;
    default:
        request = gateway::buildRequest(service().gatewayAddress, gateway::loginPage(userTxt->text(), http->localIP()),
                                        gateway::HeaderSet::Cookie, cookieTemText);
        break;
    }
    // The name was checked before the exchange; cookies the gateway set are
    // single-byte text already.
    http->sendData(encodeWindows1252(request).value_or(QByteArray()));
}

void Login::http_DataArrival()
{
    if (!exchangeRunning_) {
        http->getData();
        return;
    }
    response_.append(http->getData());
    // No login page comes near the bound: a gateway that keeps sending is
    // broken, and its answer is not waited for any longer.
    if (response_.overflowed()) {
        exchangeFailed(plainText(scrambled::kGatewayUnexpectedText));
        return;
    }
    response_.captureNewCookies(cookieText);
    handleResponse();
}

void Login::http_PeerClosed()
{
    if (!exchangeRunning_)
        return;
    response_.append(http->getData());
    response_.captureRemainingCookies(cookieText);
    handleResponse();
    // The gateway hung up without telling us anything we wait for.
    if (exchangeRunning_ && http->state() == Socket::PeerClosed)
        exchangeFailed(plainText(scrambled::kGatewayUnexpectedText));
}

void Login::handleResponse()
{
    if (response_.contains(kWelcomeMarker)) {
        reconnectFor(1);
        return;
    }
    if (response_.contains(kShowLoginMarker)) {
        reconnectFor(2);
        return;
    }
    const bool accepted = response_.contains(QStringLiteral("<CONNECT ") + service().gatewayAddress + QLatin1Char('>'));
    const bool refused = response_.contains(kInvalidMarker);
    if (!accepted && !refused)
        return;
    exchangeRunning_ = false;
    exchangeTimer_->stop();
    if (accepted) {
        http->close();
        response_.clear();
        setProgress(QStringLiteral("Login Verified: Switching to IRC"), 100);
        const QString name = userTxt->text();
        const auto flag = static_cast<quint8>(flagBox->selectedIndex() - 1);
        lobby().ircConnect(name, flag);
    }
    if (refused) {
        // The exchange is over before the box lets other events run.
        http->close();
        response_.clear();
        loginStep = 0;
        messageBox(this, plainText(scrambled::kRefusedText), plainText(scrambled::kRefusedTitle),
                   MessageIcon::Exclamation);
        showItems();
        userTxt->setFocus();
    }
}

void Login::reconnectFor(qint16 step)
{
    http->close();
    response_.clear();
    loginStep = step;
    if (!http->connect())
        exchangeFailed(plainText(scrambled::kGatewayUnreachableText));
}

void Login::exchangeFailed(const QString& why)
{
    if (!exchangeRunning_)
        return;
    exchangeRunning_ = false;
    exchangeTimer_->stop();
    http->close();
    response_.clear();
    loginStep = 0;
    messageBox(this, why, plainText(scrambled::kGatewayUnreachableTitle), MessageIcon::Exclamation);
    showItems();
    userTxt->setFocus();
}

void Login::setProgress(const QString& caption, int value)
{
    Label5->setText(caption);
    status->setValue(value);
}
