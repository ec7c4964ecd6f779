#include "channel/channel.h"

#include "app/forms.h"
#include "app/pictures.h"
#include "channel/channel_layout.h"
#include "encryption/encryption.h"
#include "encryption/texts.h"
#include "lobby/lobby.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/listview.h"
#include "platform/socket.h"

#include <QCheckBox>
#include <QKeyEvent>
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
constexpr qint64 kLayoutFetchEveryMs = 5000;

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
        list->horizontalHeader()->setStretchLastSection(false);
    chat = new RichTextView(this);
    paintBlue(chat);
    message = new EntryLine(kMessageMaxLength, this);
    message->setTabChangesFocus(true);
    message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    paintBlue(message);
    message->installEventFilter(this);
    connect(message, &QPlainTextEdit::textChanged, this, [] { lobby().userTyping(); });

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

    // The check boxes' captions are the labels beside them; screen readers
    // name the boxes by them.
    filter->setAccessibleName(Label4->text());
    notify->setAccessibleName(Label5->text());

    // The keyboard goes through the window as the eye does: the member list
    // on the left, the band above the chat (the check boxes and the button,
    // then the games), the chat, and the entry line at the bottom.
    setTabOrder(users, filter);
    setTabOrder(filter, notify);
    setTabOrder(notify, exitBtn);
    setTabOrder(exitBtn, games);
    setTabOrder(games, chat);
    setTabOrder(chat, message);

    connect(exitBtn, &QPushButton::clicked, this, &Form::unload);
    connect(users, &ListView::itemDoubleClicked, this, &Channel::users_DblClick);
}

void Channel::Form_Load()
{
    lobby().refreshChanButton->setEnabled(false);
    const Lobby& session = lobby();
    // A stored size larger than the room on the screen would put the
    // window's own controls, "Exit Channel" among them, out of reach.
    int widthPx = px(session.chanW / twipsPerPixelX());
    int heightPx = px(session.chanH / twipsPerPixelY());
    if (const QScreen* room = this->screen()) {
        widthPx = std::min(widthPx, room->availableGeometry().width());
        heightPx = std::min(heightPx, room->availableGeometry().height());
    }
    setOuterSize(widthPx, heightPx);
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
        // What the user sees, frame included; a window that was never framed
        // counts the frame it was sized with.
        const QSize outer = size().grownBy(normalFrame());
        session.chanW = pixelsToTwipsX(outer.width());
        session.chanH = pixelsToTwipsY(outer.height());
        session.chanState = 0;
    }
    session.iAmAway = false;
    login().setNotifyValue(notify->isChecked() ? 1 : 0);
    login().setFilterValue(filter->isChecked() ? 1 : 0);
    session.forgetChannelRequests();
    const QString name = Label2->text();
    // A window that never entered a channel has nobody to say goodbye to.
    if (!name.isEmpty() && farewell_ && session.sendToChat(farewellSend(wireName(session.memory(), name), session.username)))
        session.awaitPartEcho();
    session.refreshChanButton->setEnabled(false);
    Label2->clear();
    session.channels->clear();
    session.whoList->clear();
    // A lobby that is itself closing (log-off, lost connection) is not shown
    // again on its way out.
    session.settleHandOver();
    if (session.isLoaded() && !session.isUnloading())
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

// The box's whole text is one chat line. Its line breaks (Qt writes them as
// LF, or U+2028 after Shift+Enter) are the line's CR LF pairs: the break left
// at the front by the previous Enter goes, any other becomes a blank.
void Channel::message_EnterPressed()
{
    QString text = message->toPlainText();
    text.replace(QChar::LineSeparator, QLatin1Char('\n')).replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (text.startsWith(QLatin1Char('\n')))
        text.remove(0, 1);
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    history_.add(text);
    lobby().parseMessage(text);
    message->clear();
}

// The keys of the entry line beyond typing; true when the key is used up
// here. Enter is left to the box, which then starts a new line.
bool Channel::message_KeyDown(const QKeyEvent& key)
{
    const bool plain = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        message_EnterPressed();
        return false;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (!plain)
            return false;
        const QString shown = message->toPlainText();
        const std::optional<QString> line = key.key() == Qt::Key_Up ? history_.older(shown) : history_.newer(shown);
        if (line)
            setEntry(*line, static_cast<int>(line->size()));
        return true;
    }
    case Qt::Key_Tab:
        // With nothing to complete, Tab moves the focus on.
        return plain && completeName();
    default:
        return false;
    }
}

bool Channel::completeName()
{
    QStringList names;
    for (int row = 0; row < users->count(); ++row)
        names.append(users->key(row));
    const std::optional<Completed> done =
        completion_.complete(message->toPlainText(), message->textCursor().position(), names);
    if (!done)
        return false;
    // A name that would not fit is refused, as a key that would not is.
    if (done->text.size() <= kMessageMaxLength)
        setEntry(done->text, done->caret);
    return true;
}

// Replaces what the box holds as one edit, which Undo takes back.
void Channel::setEntry(const QString& text, int caret)
{
    QTextCursor edit(message->document());
    edit.select(QTextCursor::Document);
    edit.insertText(text);
    edit.setPosition(caret);
    message->setTextCursor(edit);
}

void Channel::users_DblClick()
{
    const std::optional<int> row = users->selectedRow();
    if (!row)
        return;
    message->setPlainText(plainText(scrambled::kUserListPrefix) + users->key(*row) + QLatin1Char(' '));
    message->moveCursor(QTextCursor::End);
    message->setFocus();
}

void Channel::closeWithoutFarewell()
{
    farewell_ = false;
    unload();
}

void Channel::resetToDesign()
{
    farewell_ = true;
    layoutFetch_.invalidate();
    setWindowTitle(QStringLiteral("Channel - Tavimere"));
    Label2->clear();
    Label3->clear();
    users->clear();
    games->clear();
    chat->clear();
    message->clear();
    history_.endWalk();
}

void Channel::loadCheckBoxes()
{
    notify->setChecked(login().getNotifyValue() == 1);
    filter->setChecked(login().getFilterValue() == 1);
}

void Channel::setOuterSize(int widthPx, int heightPx)
{
    if (!windowHandle())
        create();
    // Installing the same filter again only replaces it.
    windowHandle()->installEventFilter(this);
    const QMargins frame = normalFrame();
    resize(std::max(1, widthPx - frame.left() - frame.right()), std::max(1, heightPx - frame.top() - frame.bottom()));
    // A window manager frames a window only some time after it is shown, on
    // every show: until then the frame above is the one last seen, or none
    // at all the first time, and the size is asked for again once the real
    // frame is known.
    if (showsNormalFrame())
        pendingOuter_.reset();
    else
        pendingOuter_ = QSize(widthPx, heightPx);
}

bool Channel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == message && event->type() == QEvent::KeyPress)
        return message_KeyDown(*static_cast<QKeyEvent*>(event)) || Form::eventFilter(watched, event);
    if (watched == windowHandle()) {
        const QEvent::Type type = event->type();
        // The state the window manager reports is the one its frame is drawn
        // for; the program's own requests reach the window ahead of it.
        if (type == QEvent::WindowStateChange && event->spontaneous())
            managerState_ = windowHandle()->windowStates();
        if (type == QEvent::Resize && (managerState_ & Qt::WindowMaximized))
            maximisedSize_ = static_cast<QResizeEvent*>(event)->size();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose ||
            type == QEvent::WindowStateChange) {
            // Kept for when the window is hidden, minimised or maximised.
            normalFrame();
            // Settled afterwards, so that the window first takes what the
            // event reports.
            if (pendingOuter_)
                QMetaObject::invokeMethod(this, &Channel::settleOuterSize, Qt::QueuedConnection);
        }
        if (type == QEvent::Expose && windowHandle()->isExposed())
            lobby().settleHandOver();
    }
    return Form::eventFilter(watched, event);
}

void Channel::settleOuterSize()
{
    if (pendingOuter_ && showsNormalFrame())
        setOuterSize(pendingOuter_->width(), pendingOuter_->height());
}

QMargins Channel::normalFrame()
{
    if (showsNormalFrame())
        normalFrame_ = windowHandle()->frameMargins();
    return normalFrame_;
}

bool Channel::showsNormalFrame() const
{
    // A maximised window is framed differently, often without borders; a
    // hidden one may still report the frame it had when last shown.
    const Qt::WindowStates otherStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    const QWindow* handle = windowHandle();
    if (!handle || !isVisible() || (windowState() & otherStates) || (managerState_ & otherStates))
        return false;
    // The window manager may report a window restored while it still has its
    // maximised size and frame.
    if (handle->geometry().size() == maximisedSize_)
        return false;
    // While the window manager is still building the frame, it can read as
    // nothing or as a nonsense one with negative sides.
    const QMargins frame = handle->frameMargins();
    return !frame.isNull() && frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 && frame.bottom() >= 0;
}

// Whoever comes to the window comes to write.
void Channel::changeEvent(QEvent* event)
{
    Form::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        message->setFocus(Qt::ActiveWindowFocusReason);
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
        layoutFetch_.invalidate();
    // Where the frame is known at once, the window gets its size before the
    // user can change it.
    settleOuterSize();
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
    // The first pass after the window is shown fetches the game list; later
    // passes only when the last fetch of a pass is a while ago.
    if (!layoutFetch_.isValid() || layoutFetch_.hasExpired(kLayoutFetchEveryMs)) {
        layoutFetch_.start();
        lobby().gamesTimer_Timer();
    }
    lobby().gamesTimer->start();
    lobby().whoisTimer->start();
}
