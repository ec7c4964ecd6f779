#pragma once

#include "chattext/chat_text.h"
#include "lobby/irc_lines.h"
#include "login/gateway_http.h"
#include "platform/chatview.h"
#include "platform/form.h"

#include <QString>
#include <QStringList>
#include <QVector>

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

    // Time limits of our own (tests shorten them).
    void setChatConnectTimeout(int ms);
    void setGatewayTimeout(int ms);

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
    void chanScheme_Failed();
    void http_Connect();
    void http_DataArrival();
    void http_Finished();
    void dropGameList();

    void dispatchLine(const QString& line);
    void handleServerLine(const QString& numeric, const std::optional<QString>& text);
    void appendInfo(const QString& text);
    void flushInfo();
    void onListEntry(const QString& text);
    void onNames(const QString& text);
    void onWhoEntry(const QString& text);
    void onEndOfWho();
    void onOwnLeave();
    void onJoin(const QString& nick);
    void onLeave(const QString& nick);
    void onMessage(const QString& nick, const QString& arguments);
    void onKick(const QString& nick, const QString& arguments);
    void onWhoisUser(const QString& text);
    void onNickInUse();
    Channel& channelForText();
    void sendFailed();
    bool lobbyMode() const;
    bool sendLine(const QString& line);
    // The gateway request for a page of the current channel; nullopt when the
    // channel's name cannot be carried by one.
    std::optional<QByteArray> channelRequest(QString (*page)(const QString&)) const;

    QVector<FilterPair> filterPairs_;
    LineAssembler assembler_;
    QStringList pendingInfo_;
    bool dispatching_ = false;
    // Counts the lobby's loads: a handler that waited in a nested event
    // loop stops when the session it belonged to has ended.
    quint64 session_ = 0;
    bool registered_ = false;
    gateway::Response gameListResponse_;
    QTimer* gameListTimeout_;
    QTimer* schemeTimeout_;
};
