#pragma once

#include <QString>
#include <functional>

class QLockFile;
class QWidget;

enum class MessageIcon { Information, Exclamation };

struct MessageRecord {
    QString title;
    QString text;
    MessageIcon icon;
};

// A modal box with an OK button. It runs the event loop until it is closed,
// so other handlers may run meanwhile.
void messageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon);

// Closes the boxes open over `parent`, as if the user had pressed OK: what
// they said belonged to something that has ended.
void closeMessageBoxes(QWidget* parent);

// Tests replace the box: the handler gets what would be shown and returns at
// once (or runs events of its own). An empty handler restores the real box.
using MessageBoxHandler = std::function<void(const MessageRecord&)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// Lets pending window, timer and socket events run.
void doEvents();

// Whether another copy of the program was already running when this one
// started. Tests set it.
bool previousInstance();
void setPreviousInstance(bool running);
// Takes the per-user lock once at start-up; the result feeds previousInstance().
void detectPreviousInstance();
// Tries to take the lock: true only when another live process holds it.
bool heldByAnotherCopy(QLockFile& lock);
