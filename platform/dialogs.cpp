#include "platform/dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>

namespace {
MessageBoxHandler& handler()
{
    static MessageBoxHandler h;
    return h;
}

bool& previousInstanceFlag()
{
    static bool running = false;
    return running;
}
} // namespace

void messageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon)
{
    if (handler()) {
        handler()({title, text, icon});
        return;
    }
    QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning, title, text,
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void closeMessageBoxes(QWidget* parent)
{
    for (QMessageBox* box : parent->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly)) {
        if (box->isVisible())
            box->done(QMessageBox::Ok);
    }
}

void setMessageBoxHandler(MessageBoxHandler h)
{
    handler() = std::move(h);
}

void doEvents()
{
    QCoreApplication::processEvents();
}

bool previousInstance()
{
    return previousInstanceFlag();
}

void setPreviousInstance(bool running)
{
    previousInstanceFlag() = running;
}

void detectPreviousInstance()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // Held until the program ends.
    static QLockFile lock(folder + QStringLiteral("/tavimere-1.3.lock"));
    previousInstanceFlag() = heldByAnotherCopy(lock);
}

bool heldByAnotherCopy(QLockFile& lock)
{
    // A lock left by a crashed copy counts as stale at once.
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return false;
    // Only a live holder is another copy. A folder we may not write to is
    // no reason to refuse every login; the program runs without the lock.
    return lock.error() == QLockFile::LockFailedError;
}
