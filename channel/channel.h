#pragma once

#include "platform/form.h"

class ListView;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class RichTextView;

// The window of the one channel the user is in.
class Channel : public Form {
    Q_OBJECT
public:
    // Pictures of flagsTiny beyond the flags.
    static constexpr int kSpecialBadge = 51;
    static constexpr int kFlagUnknown = 52;
    // The entry line holds one chat line of at most this many characters.
    static constexpr int kMessageMaxLength = 253;

    Channel();

    // The set-up; safe to run again on a loaded window.
    void Form_Load() override;

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
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void layoutPass();
    void setOuterSize(int widthPx, int heightPx);
    void loadCheckBoxes();
};
