#include "app/forms.h"
#include "login/login.h"
#include "platform/dialogs.h"
#include "platform/service.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyProgramLook();

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
