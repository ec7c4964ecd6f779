#pragma once

#include "channel/entry_line.h"
#include "lobby/session_rules.h"
#include "platform/form.h"

#include <QElapsedTimer>
#include <QMargins>
#include <QSize>
#include <optional>

class ListView;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class RichTextView;

// The window of the one channel the user is in.
class Channel : public Form {
    Q_OBJECT
public:
    // Pictures of flagsTiny beyond the flags.
    static constexpr int kStaffBadge = memberIcon::kStaffBadge;
    static constexpr int kFlagUnknown = memberIcon::kFlagUnknown;
    // The entry line holds one chat line of at most this many characters.
    static constexpr int kMessageMaxLength = 253;

    Channel();

    // The set-up; safe to run again on a loaded window.
    void Form_Load() override;
    // Closes the window for a channel the user is no longer in (kicked,
    // refused, parted by the server): the closing sequence without the
    // farewell, which would only draw an error from the server.
    void closeWithoutFarewell();

    RichTextView* chat;
    QPlainTextEdit* message;
    ListView* users;
    ListView* games;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QCheckBox* filter;
    QCheckBox* notify;
    QPushButton* exitBtn;
    QLabel* bgImg;

protected:
    void Form_QueryUnload() override;
    void resetToDesign() override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void message_EnterPressed();
    bool message_KeyDown(const QKeyEvent& key);
    bool completeName();
    void setEntry(const QString& text, int caret);
    void users_DblClick();
    void layoutPass();
    void setOuterSize(int widthPx, int heightPx);
    void loadCheckBoxes();

    // The window manager frames the window only some time after it is shown;
    // an outer size asked for before then is settled once the frame is known.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void settleOuterSize();
    // The frame around the window in its normal state: the one on screen
    // where the window shows it, else the one last seen.
    QMargins normalFrame();
    bool showsNormalFrame() const;

    // The lines sent from the entry line, kept while the program runs, and
    // the name being completed.
    EntryHistory history_;
    NameCompletion completion_;
    // The farewell goes out when the window closes.
    bool farewell_ = true;
    // Layout passes fetch the game list at most this often (a drag of the
    // window's edge makes dozens of them a second).
    QElapsedTimer layoutFetch_;
    QMargins normalFrame_;
    std::optional<QSize> pendingOuter_;
    Qt::WindowStates managerState_ = Qt::WindowNoState;
    QSize maximisedSize_;
};
