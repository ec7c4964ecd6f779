#pragma once

#include "chattext/chat_text.h"
#include "lobby/chat_outbox.h"
#include "lobby/irc_lines.h"
#include "lobby/session_rules.h"
#include "login/gateway_http.h"
#include "platform/chatview.h"
#include "platform/dialogs.h"
#include "platform/form.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVector>
#include <deque>

class Channel;
class ListView;
class QLabel;
class QPushButton;
class QTimer;
class Socket;

// One WHO entry collected in the lobby until the end of the WHO reply.
struct WhoPair {
    QString nick;
    QString channel;
    // The nick as the list shows it.
    QString shown;
};

// The lobby: the chat session, its channel and user lists, the server's
// informational text, and the sockets and timers of the session.
class Lobby : public Form {
    Q_OBJECT
public:
    Lobby();

    void ircConnect(const QString& txtusername, quint8 userflag);
    void listTimer_Timer();
    void whoTimerX_Timer();
    void gamesTimer_Timer();

    // One line typed in the channel window: sent and echoed, or a command.
    void parseMessage(QString& message);
    // Writes an action line ("Alice waves") with its colour codes into the
    // channel window's chat view.
    void printMe(const QString& actionSubject, QString& action);
    // Masks the language filter's words; the result is written back too.
    QString profaneFilter(QString& filterTxt) const;

    // Sends lines on the chat connection, in one send, through the check
    // that keeps every line whole. False when nothing was sent.
    bool sendToChat(const QByteArrayList& lines);

    // What the line rules remember of this session.
    const SessionMemory& memory() const { return memory_; }

    // Queues an automatic request: it goes out when the server is ready.
    void request(const QByteArray& line);
    // The user is typing in the channel window.
    void userTyping();
    // The channel window being entered is on screen, or has closed: the
    // lobby gives way to it, or stays.
    void settleHandOver();
    // The channel window is closing: what it asked for and has not gone
    // out yet (its members' flags) would only hold up the lobby's lists.
    void forgetChannelRequests();
    // The channel window has said goodbye: the server's echo of the PART
    // puts the lobby back into its refresh cycle, or a time limit does.
    void awaitPartEcho();

    // Time limits of our own (tests shorten them).
    void setChatConnectTimeout(int ms);
    void setGatewayTimeout(int ms);
    // Whether automatic requests wait for the server's answer to the one
    // before them (tests of other things turn it off).
    void setRequestPacing(bool on);
    // Whether a server's PINGs get a few answers a while only (the
    // out-of-process benchmark times its own PINGs and turns it off).
    void setPingLimit(bool on);
    // How long the server's welcome and the echo of our PART may take.
    void setSessionTimeouts(int welcomeMs, int partEchoMs);
    // The most received lines one slice handles (0: as many as its time
    // allows), for tests of what slicing keeps.
    void setSliceLines(int lines) { sliceLines_ = lines; }

    // Session fields.
    QString username;
    quint8 myFlag = 0;
    bool iAmAway = false;
    QString myAwayMessage;
    qint32 chanW = 10635;
    qint32 chanH = 8835;
    qint32 chanState = 0;
    QVector<WhoPair> whoBuffer;

    ListView* channels;
    ListView* whoList;
    InfoView* ircInfo;
    QPushButton* refreshChanButton;
    QPushButton* logoff;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    Socket* irc;
    Socket* http;
    Socket* chanScheme;
    QTimer* listTimer;
    QTimer* whoTimerX;
    QTimer* gamesTimer;
    QTimer* whoisTimer;

protected:
    void Form_Load() override;
    void Form_QueryUnload() override;
    void resetToDesign() override;

private:
    void irc_Connect();
    void irc_DataArrival();
    void irc_Lost();
    void channels_DblClick();
    void chanScheme_Connect();
    void chanScheme_DataArrival();
    void chanScheme_Failed(const QString& why);
    void http_Connect();
    void http_DataArrival();
    void http_Finished();
    void dropGameList();

    SessionView view() const;
    void dispatch();
    void apply(const Steps& steps);
    void applyStep(const Step& step);
    void askUnknownFlags();
    void continueWhoList();
    void backToLobby();
    void showBoxes();
    void appendInfo(const QString& line, const QColor& colour = QColor());
    void flushInfo();
    void showGreeting(const QString& text);
    void setEntering(bool entering);
    bool sendLine(const QString& line);
    void pumpOutbox();
    void checkBacklog();
    void welcomeTimeout();
    void lostConnection(const QString& text, const QString& title);
    // The gateway request for a page of the current channel; nullopt when the
    // channel's name cannot be carried by one.
    std::optional<QByteArray> channelRequest(QString (*page)(const QString&)) const;

    // Where a list stood before a refresh.
    struct ListPlace {
        std::optional<QString> key;
        QPoint scroll;
    };
    static ListPlace keepPlace(const ListView* list);
    void restorePlace(ListView* list, const ListPlace& place);

    // A message a line asked for, shown once the lines before it are handled.
    struct PendingBox {
        QString title;
        QString text;
        MessageIcon icon;
        Step::After after;
        quint64 session;
    };

    FilterMatcher filter_;
    LineAssembler assembler_;
    SessionMemory memory_;
    ChatOutbox outbox_;
    QElapsedTimer clock_;
    // When the channel's members were last asked for.
    QElapsedTimer membersAsked_;
    std::deque<PendingBox> boxes_;
    bool showingBoxes_ = false;
    bool endingBoxShown_ = false;
    ListPlace channelsKept_;
    // The user list being filled from what WHO brought, and how far.
    std::optional<QVector<WhoPair>> rebuilding_;
    qsizetype rebuilt_ = 0;
    ListPlace whoKept_;
    QList<std::pair<ListView*, QPoint>> scrollsToRestore_;
    // Lines for the server-data view, and their colours.
    QStringList pendingInfo_;
    QList<QColor> pendingInfoColours_;
    // Private messages that came while no channel was shown.
    QVector<ColourRun> pendingNotes_;
    // The greeting, while the line shows a channel being entered.
    QString greeting_;
    bool dispatching_ = false;
    int sliceLines_ = 0;
    // The channel window is shown and the lobby waits for it to be on screen.
    bool handingOver_ = false;
    // Counts the lobby's loads: a handler that waited in a nested event
    // loop stops when the session it belonged to has ended.
    quint64 session_ = 0;
    bool registered_ = false;
    gateway::Response gameListResponse_;
    QTimer* gameListTimeout_;
    QTimer* schemeTimeout_;
    QTimer* handOverTimeout_;
    QTimer* welcomeTimeout_;
    QTimer* partEchoTimeout_;
    QTimer* outboxTimer_;
    QTimer* dispatchTimer_;
};
