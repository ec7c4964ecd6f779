#include "channel/channel.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "channel/channel_layout.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/socket.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>

namespace {

const QColor kBlue(65, 85, 112);

int px(double value)
{
    return static_cast<int>(std::lround(value));
}

void place(QWidget* widget, const LayoutRect& r)
{
    widget->setGeometry(px(r.left), px(r.top), px(r.width), px(r.height));
}

QLabel* makeLabel(QWidget* parent, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(pal);
    return label;
}

void paintBlue(QWidget* widget)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Base, kBlue);
    pal.setColor(QPalette::Text, Qt::white);
    widget->setPalette(pal);
}

// Keeps the entry line within its length; typing past it is refused.
void limitLength(QPlainTextEdit* edit, int maxLength)
{
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, maxLength] {
        const QString text = edit->toPlainText();
        if (text.size() <= maxLength)
            return;
        QTextCursor cursor = edit->textCursor();
        const int position = std::min(static_cast<int>(cursor.position()), maxLength);
        edit->setPlainText(text.left(maxLength));
        cursor = edit->textCursor();
        cursor.setPosition(position);
        edit->setTextCursor(cursor);
    });
}

} // namespace

Channel::Channel()
{
    setWindowTitle(QStringLiteral("Channel - Tavimere"));
    setWindowIcon(pictures::applicationIcon());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBlue);
    setPalette(pal);

    bgImg = new QLabel(this);
    bgImg->setScaledContents(true);
    bgImg->move(0, 0);

    users = new ListView(this);
    users->setColumns({QStringLiteral("Users")});
    users->setImageList(&pictures::flagsTiny());
    paintBlue(users);
    games = new ListView(this);
    games->setColumns({QStringLiteral("Game Name"), QStringLiteral("Host")});
    games->setImageList(&pictures::locks());
    paintBlue(games);
    // The layout pass gives every column its width, the last one included,
    // leaving room for the scroll bar; stretching would undo that.
    for (ListView* list : {users, games})
        list->header()->setStretchLastSection(false);
    chat = new RichTextView(this);
    chat->setReadOnly(true);
    paintBlue(chat);
    message = new QPlainTextEdit(this);
    message->setTabChangesFocus(true);
    message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    paintBlue(message);
    limitLength(message, kMessageMaxLength);

    Label2 = makeLabel(this, QString());
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    Label3 = makeLabel(this, QString());
    Label4 = makeLabel(this, QStringLiteral("Language Filter"));
    Label5 = makeLabel(this, QStringLiteral("Show Enter/Exit Notifications"));
    filter = new QCheckBox(this);
    notify = new QCheckBox(this);
    exitBtn = new QPushButton(QStringLiteral("Exit Channel"), this);
    exitBtn->setAutoDefault(false);
    for (QLabel* label : {Label2, Label3, Label4, Label5})
        label->resize(185, 17);
    Label4->resize(161, 17);
    Label5->resize(169, 17);
    for (QCheckBox* box : {filter, notify})
        box->resize(13, 14);
    exitBtn->resize(105, 20);

    connect(exitBtn, &QPushButton::clicked, this, &Form::unload);
}

void Channel::Form_Load()
{
    lobby().refreshChanButton->setEnabled(false);
    const Lobby& session = lobby();
    setOuterSize(px(session.chanW / twipsPerPixelX()), px(session.chanH / twipsPerPixelY()));
    setWindowState(session.chanState == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen)
        bgImg->resize(screen->size());
    // A window that stays hidden gets no layout pass, yet its closing
    // sequence stores the check boxes back.
    loadCheckBoxes();
}

void Channel::Form_QueryUnload()
{
    Lobby& session = lobby();
    if (windowState() & Qt::WindowMaximized) {
        session.chanState = 2;
    } else {
        const QRect outer = frameGeometry();
        session.chanW = pixelsToTwipsX(outer.width());
        session.chanH = pixelsToTwipsY(outer.height());
        session.chanState = 0;
    }
    session.iAmAway = false;
    login().setNotifyValue(notify->isChecked() ? 1 : 0);
    login().setFilterValue(filter->isChecked() ? 1 : 0);
    const QString name = Label2->text();
    // A window that never entered a channel has nobody to say goodbye to.
    if (!name.isEmpty()) {
        const QString farewell = QStringLiteral("privmsg %1 :#me %2 is returning to the Fenmoor lobby\r\nPART %1\r\n")
                                     .arg(name, session.username);
        session.irc->sendData(farewell.toUtf8());
    }
    session.refreshChanButton->setEnabled(false);
    Label2->clear();
    session.channels->clear();
    session.whoList->clear();
    if (session.isLoaded())
        session.show();
    session.gamesTimer->stop();
    session.whoisTimer->stop();
    // A game list still on its way belongs to the channel being left: it
    // must neither show up in the next channel nor keep that channel's own
    // fetch waiting.
    session.http->close();
    users->clear();
    games->clear();
    chat->clear();
}

void Channel::resetToDesign()
{
    setWindowTitle(QStringLiteral("Channel - Tavimere"));
    Label2->clear();
    Label3->clear();
    users->clear();
    games->clear();
    chat->clear();
    message->clear();
}

void Channel::loadCheckBoxes()
{
    notify->setChecked(login().getNotifyValue() == 1);
    filter->setChecked(login().getFilterValue() == 1);
}

void Channel::setOuterSize(int widthPx, int heightPx)
{
    // Only a window that exists on the platform knows its frame; measured
    // before the first show, the frame would count as nothing, and the
    // window would open larger by it and store that larger size.
    if (!windowHandle())
        create();
    const QMargins frame = windowHandle()->frameMargins();
    resize(std::max(1, widthPx - frame.left() - frame.right()), std::max(1, heightPx - frame.top() - frame.bottom()));
}

void Channel::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    if (isVisible())
        layoutPass();
}

// The size given while the window was hidden reaches it before it counts as
// visible, so showing it lays it out here.
void Channel::showEvent(QShowEvent* event)
{
    Form::showEvent(event);
    if (!event->spontaneous())
        layoutPass();
}

void Channel::layoutPass()
{
    if (isMinimized() || isMinimisedArea(width(), height()))
        return;
    const MinimumSizeFix fix = minimumSizeFix(width(), height());
    if (fix.outerWidth || fix.outerHeight) {
        const QSize frame = frameGeometry().size() - size();
        setOuterSize(fix.outerWidth ? px(*fix.outerWidth) : width() + frame.width(),
                     fix.outerHeight ? px(*fix.outerHeight) : height() + frame.height());
    }
    const ChannelLayout l = layoutChannel(width(), height());
    place(Label2, l.label2);
    place(users, l.users);
    place(games, l.games);
    place(Label3, l.label3);
    place(Label4, l.label4);
    place(filter, l.filter);
    place(Label5, l.label5);
    place(notify, l.notify);
    place(exitBtn, l.exitBtn);
    place(chat, l.chat);
    place(message, l.message);
    users->setColumnWidthPx(0, l.usersColumn);
    games->setColumnWidthPx(0, l.gamesColumn1);
    games->setColumnWidthPx(1, l.gamesColumn2);
    bgImg->setPixmap(pictures::background());
    bgImg->lower();
    // The boxes show what was stored when the window last closed, on every
    // pass.
    loadCheckBoxes();
    lobby().gamesTimer_Timer();
    lobby().gamesTimer->start();
    lobby().whoisTimer->start();
}
