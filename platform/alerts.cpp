#include "platform/alerts.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>
#include <optional>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// A service that does not answer within this time is taken to be absent.
constexpr int kCallTimeoutMs = 5000;

class Notifier : public QObject {
public:
    using QObject::QObject;

    void show(const QString& summary, const QString& body)
    {
        waiting_ = Note{summary, body};
        if (!busy_)
            next();
    }

private:
    struct Note {
        QString summary;
        QString body;
    };

    static QDBusMessage call(const QString& method)
    {
        return QDBusMessage::createMethodCall(kService, kPath, kService, method);
    }

    // Watches a call; `then` runs with its reply, and the next note goes.
    template <typename Then>
    void watch(const QDBusPendingCall& pending, Then then)
    {
        auto* watcher = new QDBusPendingCallWatcher(pending, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, then] {
            watcher->deleteLater();
            then(*watcher);
        });
    }

    void next()
    {
        busy_ = false;
        if (!waiting_)
            return;
        const Note note = *waiting_;
        waiting_.reset();
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        busy_ = true;
        // The body is markup for a service that says it reads markup, and
        // must then be escaped; plain text for any other.
        watch(bus.asyncCall(call(QStringLiteral("GetCapabilities")), kCallTimeoutMs),
              [this, note](const QDBusPendingCall& answer) {
                  const QDBusPendingReply<QStringList> capabilities = answer;
                  if (capabilities.isError()) {
                      next();
                      return;
                  }
                  notify(note, capabilities.value().contains(QStringLiteral("body-markup")));
              });
    }

    void notify(const Note& note, bool markup)
    {
        const QString app = QGuiApplication::desktopFileName();
        QDBusMessage message = call(QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
        if (!app.isEmpty())
            hints.insert(QStringLiteral("desktop-entry"), app);
        message << QGuiApplication::applicationDisplayName() << shown_ << app << note.summary
                << (markup ? note.body.toHtmlEscaped() : note.body) << QStringList() << hints << -1;
        watch(QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs), [this](const QDBusPendingCall& answer) {
            const QDBusPendingReply<uint> id = answer;
            if (!id.isError())
                shown_ = id.value();
            next();
        });
    }

    std::optional<Note> waiting_;
    bool busy_ = false;
    // The notification on screen, replaced by the next one.
    uint shown_ = 0;
};

Notifier& notifier()
{
    static QPointer<Notifier> instance;
    if (!instance)
        instance = new Notifier(qApp);
    return *instance;
}

} // namespace

void alertUser(const QString& summary, const QString& body)
{
    if (QApplication::activeWindow())
        return;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Dialog))
            QApplication::alert(window, 0);
    }
    notifier().show(summary, body);
}
