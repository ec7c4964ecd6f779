#pragma once

#include "login/gateway_http.h"
#include "platform/form.h"

#include <QPoint>
#include <QString>
#include <optional>

class ImageCombo;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class Socket;

// The start window: the stored settings, the name and flag for the next
// login, and the gateway login itself.
class Login : public Form {
    Q_OBJECT
public:
    Login();

    // Accessors of the stored values; they only copy.
    qint32 getchX() const { return chX; }
    qint32 getchY() const { return chY; }
    qint32 getchS() const { return chS; }
    void setchX(const qint32& value) { chX = value; }
    void setchY(const qint32& value) { chY = value; }
    void setchS(const qint32& value) { chS = value; }
    qint16 getNotifyValue() const { return NotifyValue; }
    qint16 getFilterValue() const { return FilterValue; }
    void setNotifyValue(const qint16& fvalue) { NotifyValue = fvalue; }
    void setFilterValue(const qint16& fvalue) { FilterValue = fvalue; }

    // Back to the idle look: name, flag and buttons shown, progress hidden.
    void showItems();

    // The login exchange's time limit (tests shorten it).
    void setExchangeTimeout(int ms);
    qint16 currentLoginStep() const { return loginStep; }

    QString cookieText;
    QString cookieTemText;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLineEdit* userTxt;
    ImageCombo* flagBox;
    QProgressBar* status;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    Socket* http;

signals:
    // The login window has closed: the program ends.
    void programEnded();

protected:
    void Form_Load() override;
    void Form_QueryUnload() override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void flagBox_Click();
    void http_Connect();
    void http_DataArrival();
    void http_PeerClosed();
    void handleResponse();
    void exchangeFailed(const QString& why);
    void reconnectFor(qint16 step);
    void setProgress(const QString& caption, int value);
    void settlePlace();
    // What the idle window shows and a running login hides.
    QList<QWidget*> idleControls() const;

    QString storedUsername;
    qint16 storedFlag = 1;
    qint16 FilterValue = 1;
    qint16 NotifyValue = 1;
    qint32 chX = 10635;
    qint32 chY = 8835;
    qint32 chS = 0;
    qint16 loginStep = 0;

    // What the gateway has sent on the current connection: a marker or a
    // cookie line may arrive in several reads.
    gateway::Response response_;
    bool exchangeRunning_ = false;
    QTimer* exchangeTimer_;
    // Where the window's frame stood when a session hid it, until the window
    // is back there.
    std::optional<QPoint> place_;
    int placeTries_ = 0;
};
