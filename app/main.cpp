#include "app/forms.h"
#include "app/pictures.h"
#include "login/login.h"
#include "platform/dialogs.h"
#include "platform/service.h"

#include <QApplication>
#include <QFont>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavimere"));
    QApplication::setWindowIcon(pictures::applicationIcon());
    // Verdana is rarely installed here; DejaVu Sans has close metrics.
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    QApplication::setFont(font);
    // The windows stay alive while hidden; the login window decides when the
    // program ends.
    QApplication::setQuitOnLastWindowClosed(false);

    if (!applyServiceOverride(qgetenv("TAVIMERE_SERVICE"))) {
        QTextStream(stderr) << "TAVIMERE_SERVICE must read address:gatewayPort:chatPort, "
                               "for example 127.0.0.1:18080:16667\n";
        return 2;
    }
    detectPreviousInstance();

    Forms forms;
    QObject::connect(&login(), &Login::programEnded, &app, &QApplication::quit, Qt::QueuedConnection);
    login().ensureLoaded();
    login().show();
    return app.exec();
}
