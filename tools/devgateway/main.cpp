#include "devgateway.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "tavimere-devgateway: " << message << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavimere-devgateway"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Development stand-in for the Fenmoor web gateway."));
    parser.addHelpOption();
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("IP address to listen on (default 127.0.0.1)."),
                                          QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port (default 18080)."),
                                        QStringLiteral("N"), QStringLiteral("18080"));
    const QCommandLineOption connectOption(QStringLiteral("connect-address"),
                                           QStringLiteral("Chat server address handed to accepted users "
                                                          "(default: the listen address)."),
                                           QStringLiteral("ADDR"));
    const QCommandLineOption gamesOption(QStringLiteral("games"), QStringLiteral("Games file."),
                                         QStringLiteral("FILE"), QStringLiteral(TAVIMERE_DEVGATEWAY_GAMES));
    const QCommandLineOption takenOption(QStringLiteral("taken"),
                                         QStringLiteral("Comma-separated user names already in use "
                                                        "(default Taken)."),
                                         QStringLiteral("NAME,NAME"));
    const QCommandLineOption churnOption(QStringLiteral("churn-ms"),
                                         QStringLiteral("How often games fill up, lock, end and open, in ms; "
                                                        "0 keeps the games file as it is (default 8000)."),
                                         QStringLiteral("N"), QStringLiteral("8000"));
    parser.addOptions({listenOption, portOption, connectOption, gamesOption, takenOption, churnOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    QHostAddress address;
    if (!address.setAddress(parser.value(listenOption)))
        return fail(QStringLiteral("--listen needs an IP address, not \"%1\"").arg(parser.value(listenOption)));

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("--port needs a number from 0 to 65535, not \"%1\"").arg(parser.value(portOption)));

    DevGatewayConfig config;
    config.connectAddress = parser.isSet(connectOption) ? parser.value(connectOption) : address.toString();
    // The address is written into the login page as it is.
    static const QRegularExpression hostPattern(QStringLiteral("^[A-Za-z0-9.:-]+$"));
    if (!hostPattern.match(config.connectAddress).hasMatch())
        return fail(QStringLiteral("--connect-address needs a host name or IP address, not \"%1\"")
                        .arg(config.connectAddress));
    if (parser.isSet(takenOption)) {
        config.takenNames.clear();
        const QStringList names = parser.value(takenOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& name : names) {
            if (!name.trimmed().isEmpty())
                config.takenNames.append(name.trimmed());
        }
    }
    bool churnOk = false;
    config.churnMs = parser.value(churnOption).toInt(&churnOk);
    if (!churnOk || config.churnMs < 0)
        return fail(QStringLiteral("--churn-ms needs a number of milliseconds, not \"%1\"").arg(parser.value(churnOption)));
    QString error;
    if (!DevGateway::loadGames(parser.value(gamesOption), config.games, error))
        return fail(error);

    DevGateway gateway(config);
    if (!gateway.listen(address, static_cast<quint16>(port)))
        return fail(QStringLiteral("cannot listen on %1 port %2: %3")
                        .arg(address.toString())
                        .arg(port)
                        .arg(gateway.errorString()));

    QTextStream out(stdout);
    const QString shownAddress = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    out << "devgateway listening on " << shownAddress << ':' << gateway.port() << Qt::endl;
    QObject::connect(&gateway, &DevGateway::requestAnswered, &app,
                     [&out](const QString& requestLine) { out << requestLine << Qt::endl; });
    return app.exec();
}
