#include "login/gateway_http.h"

#include <QByteArrayList>
#include <QtTest>

using gateway::HeaderSet;

class TestGatewayHttp : public QObject {
    Q_OBJECT

private slots:
    void buildRequest_data();
    void buildRequest();
    void buildRequestRefusesControlCharacters_data();
    void buildRequestRefusesControlCharacters();
    void pages_data();
    void pages();
    void withoutFirstHash_data();
    void withoutFirstHash();
    void captureCookies_data();
    void captureCookies();
    void responseMarkers_data();
    void responseMarkers();
    void responseNewCookies_data();
    void responseNewCookies();
    void responseRemainingCookies_data();
    void responseRemainingCookies();
    void responseClear();
    void responseLimit_data();
    void responseLimit();
};

void TestGatewayHttp::buildRequest_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("page");
    QTest::addColumn<HeaderSet>("set");
    QTest::addColumn<QString>("cookieLine");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "192.0.2.80" << "welcomeloginform.asp" << HeaderSet::Plain << ""
                           << "GET Http://192.0.2.80:80/glimmerfallweb/welcomeloginform.asp HTTP/1.0\r\n"
                              "User-Agent: Zx7Client/1.2\r\n"
                              "Pragma: No-Cache\r\n"
                              "UserServerIdent: 2\r\n"
                              "\r\n";
    QTest::newRow("plain leaves the cookie out")
        << "192.0.2.80" << "welcomeloginform.asp" << HeaderSet::Plain << "Cookie: A=1"
        << "GET Http://192.0.2.80:80/glimmerfallweb/welcomeloginform.asp HTTP/1.0\r\n"
           "User-Agent: Zx7Client/1.2\r\n"
           "Pragma: No-Cache\r\n"
           "UserServerIdent: 2\r\n"
           "\r\n";
    QTest::newRow("cookie") << "10.1.2.3" << "LoginForm.asp" << HeaderSet::Cookie << "Cookie: A=1; path=/; B=2"
                            << "GET Http://10.1.2.3:80/glimmerfallweb/LoginForm.asp HTTP/1.0\r\n"
                               "User-Agent: Zx7Client/1.2\r\n"
                               "Pragma: No-Cache\r\n"
                               "Cookie: A=1; path=/; B=2\r\n"
                               "UserServerIdent: 2\r\n"
                               "\r\n";
    QTest::newRow("empty cookie keeps its blank line") << "10.1.2.3" << "LoginForm.asp" << HeaderSet::Cookie << ""
                                                       << "GET Http://10.1.2.3:80/glimmerfallweb/LoginForm.asp HTTP/1.0\r\n"
                                                          "User-Agent: Zx7Client/1.2\r\n"
                                                          "Pragma: No-Cache\r\n"
                                                          "\r\n"
                                                          "UserServerIdent: 2\r\n"
                                                          "\r\n";
    QTest::newRow("cookie and level") << "10.1.2.3" << "GameList.asp?Channel=Lobby" << HeaderSet::CookieAndLevel
                                      << "Cookie: A=1"
                                      << "GET Http://10.1.2.3:80/glimmerfallweb/GameList.asp?Channel=Lobby HTTP/1.0\r\n"
                                         "User-Agent: Zx7Client/1.2\r\n"
                                         "Pragma: No-Cache\r\n"
                                         "Cookie: A=1\r\n"
                                         "UserLevel: 0\r\n"
                                         "UserServerIdent: 2\r\n"
                                         "\r\n";
    QTest::newRow("empty cookie and level")
        << "10.1.2.3" << "RequestChannelScheme.asp?Channel=Help" << HeaderSet::CookieAndLevel << ""
        << "GET Http://10.1.2.3:80/glimmerfallweb/RequestChannelScheme.asp?Channel=Help HTTP/1.0\r\n"
           "User-Agent: Zx7Client/1.2\r\n"
           "Pragma: No-Cache\r\n"
           "\r\n"
           "UserLevel: 0\r\n"
           "UserServerIdent: 2\r\n"
           "\r\n";
    QTest::newRow("values go in unencoded")
        << "10.1.2.3" << "Login.asp?UserName=Ré d&Password=&IPAddress=10.0.0.5" << HeaderSet::Cookie << "Cookie: A=1"
        << "GET Http://10.1.2.3:80/glimmerfallweb/Login.asp?UserName=Ré d&Password=&IPAddress=10.0.0.5 HTTP/1.0\r\n"
           "User-Agent: Zx7Client/1.2\r\n"
           "Pragma: No-Cache\r\n"
           "Cookie: A=1\r\n"
           "UserServerIdent: 2\r\n"
           "\r\n";
}

void TestGatewayHttp::buildRequest()
{
    QFETCH(QString, address);
    QFETCH(QString, page);
    QFETCH(HeaderSet, set);
    QFETCH(QString, cookieLine);
    QFETCH(QString, expected);
    QCOMPARE(gateway::buildRequest(address, page, set, cookieLine), expected);
}

void TestGatewayHttp::buildRequestRefusesControlCharacters_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("cookieLine");

    QTest::newRow("header forged in the cookie line") << "10.1.2.3" << "LoginForm.asp" << "Cookie: A=1\r\nUserLevel: 9";
    QTest::newRow("line feed in the page") << "10.1.2.3" << "GameList.asp?Channel=a\nX: 1" << "Cookie: A=1";
    QTest::newRow("carriage return in the address") << "10.1.2.3\r" << "LoginForm.asp" << "Cookie: A=1";
    QTest::newRow("NUL in the page") << "10.1.2.3" << QStringLiteral("Login.asp?UserName=a") + QChar(0) << "";
}

void TestGatewayHttp::buildRequestRefusesControlCharacters()
{
    QFETCH(QString, address);
    QFETCH(QString, page);
    QFETCH(QString, cookieLine);
    QVERIFY(gateway::buildRequest(address, page, HeaderSet::Cookie, cookieLine).isEmpty());
    QVERIFY(gateway::buildRequest(address, page, HeaderSet::CookieAndLevel, cookieLine).isEmpty());
}

void TestGatewayHttp::pages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");

    QTest::newRow("welcome") << gateway::welcomePage() << "welcomeloginform.asp";
    QTest::newRow("login form") << gateway::loginFormPage() << "LoginForm.asp";
    QTest::newRow("login") << gateway::loginPage("Wanderer", "192.168.1.20")
                           << "Login.asp?UserName=Wanderer&Password=&IPAddress=192.168.1.20";
    QTest::newRow("login with empty values") << gateway::loginPage("", "") << "Login.asp?UserName=&Password=&IPAddress=";
    QTest::newRow("game list") << gateway::gameListPage("Lobby") << "GameList.asp?Channel=Lobby";
    QTest::newRow("game list keeps inner hash") << gateway::gameListPage("a#b") << "GameList.asp?Channel=a#b";
    QTest::newRow("channel scheme") << gateway::channelSchemePage("Help") << "RequestChannelScheme.asp?Channel=Help";
}

void TestGatewayHttp::pages()
{
    QFETCH(QString, page);
    QFETCH(QString, expected);
    QCOMPARE(page, expected);
}

void TestGatewayHttp::withoutFirstHash_data()
{
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("expected");

    QTest::newRow("leading") << "#Help" << "Help";
    QTest::newRow("only the first of two") << "##x" << "#x";
    QTest::newRow("inside") << "a#b" << "ab";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("none") << "Lobby" << "Lobby";
    QTest::newRow("only a hash") << "#" << "";
}

void TestGatewayHttp::withoutFirstHash()
{
    QFETCH(QString, channel);
    QFETCH(QString, expected);
    QCOMPARE(gateway::withoutFirstHash(channel), expected);
}

void TestGatewayHttp::captureCookies_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("expected");

    QTest::newRow("several lines joined in order")
        << "HTTP/1.0 200 OK\r\nSet-Cookie: A=1; path=/\r\nContent-Type: text/html\r\nSet-Cookie: B=2\r\n\r\n<HTML>"
        << "" << "Cookie: A=1; path=/; B=2";
    QTest::newRow("contained but not at the start")
        << "HTTP/1.0 200 OK\r\nX-Note: Set-Cookie: C=3\r\n\r\n" << "" << "";
    QTest::newRow("every occurrence removed")
        << "Set-Cookie: D=4 Set-Cookie: E=5Set-Cookie: \r\n" << "" << "Cookie: D=4 E=5";
    QTest::newRow("no Set-Cookie leaves the line") << "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                                                   << "Cookie: Z=0" << "Cookie: Z=0";
    QTest::newRow("appended to an existing line") << "Set-Cookie: F=6; path=/\r\n" << "Cookie: Z=0"
                                                  << "Cookie: Z=0; F=6; path=/";
    QTest::newRow("same value appended again") << "Set-Cookie: G=7\r\n" << "Cookie: G=7" << "Cookie: G=7; G=7";
    QTest::newRow("other case is not a cookie") << "set-cookie: H=8\r\nSet-cookie: H=9\r\n" << "" << "";
    QTest::newRow("last line without CR LF") << "Content-Type: text/html\r\nSet-Cookie: I=10" << "" << "Cookie: I=10";
    QTest::newRow("only CR LF splits lines") << "Set-Cookie: J=11\nSet-Cookie: K=12\r\n" << "" << "";
    QTest::newRow("value with a forged header skipped")
        << "Set-Cookie: L=13\rUserLevel: 9\r\nSet-Cookie: M=14\r\n" << "" << "Cookie: M=14";
    // "Cookie: " is 8 characters and "; " 2, so these values land one past
    // the bound, or exactly on it.
    const qsizetype bound = gateway::kMaxCookieLineLength;
    QTest::newRow("first value past the bound skipped, a later one kept")
        << "Set-Cookie: " + QString(bound - 8 + 1, u'v') + "\r\nSet-Cookie: B=2\r\n" << "" << "Cookie: B=2";
    QTest::newRow("value past the bound skipped, a later one kept")
        << "Set-Cookie: " + QString(bound - 11 - 2 + 1, u'v') + "\r\nSet-Cookie: B=2\r\n" << "Cookie: A=1"
        << "Cookie: A=1; B=2";
    QTest::newRow("value reaching the bound kept, nothing after it")
        << "Set-Cookie: " + QString(bound - 11 - 2, u'v') + "\r\nSet-Cookie: B=2\r\n" << "Cookie: A=1"
        << "Cookie: A=1; " + QString(bound - 11 - 2, u'v');
    QTest::newRow("empty value skipped") << "Set-Cookie: \r\nSet-Cookie:    \r\n" << "Cookie: Z=0" << "Cookie: Z=0";
}

void TestGatewayHttp::captureCookies()
{
    QFETCH(QString, text);
    QFETCH(QString, before);
    QFETCH(QString, expected);
    QString cookieLine = before;
    gateway::captureCookies(text, cookieLine);
    QCOMPARE(cookieLine, expected);
}

void TestGatewayHttp::responseMarkers_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QString>("marker");
    // Index of the read after which the marker is first present, -1 for never.
    QTest::addColumn<int>("foundAfter");

    QTest::newRow("split across two reads") << QByteArrayList{"<HTML>Welcome to the FEN", "MOOR Gateway.<BR>"}
                                            << "Welcome to the FENMOOR Gateway." << 1;
    QTest::newRow("split across three reads") << QByteArrayList{"xx<SHOW", "LOG", "IN>yy"} << "<SHOWLOGIN>" << 2;
    QTest::newRow("whole in the first read") << QByteArrayList{"<GAMELISTSTART>\n", "1 a b c d e 0 1<BR>\n"}
                                             << "<GAMELISTSTART>" << 0;
    QTest::newRow("near miss then hit") << QByteArrayList{"<CONNE", "XT>", "<CONNECT ", "1.2.3.4>"} << "<CONNECT "
                                        << 2;
    QTest::newRow("overlapping start") << QByteArrayList{"<<<", "<END>"} << "<<<<END>" << 1;
    QTest::newRow("never") << QByteArrayList{"Your user", "name is fine"} << "Your username is invalid" << -1;
    QTest::newRow("decoded as Windows-1252") << QByteArrayList{"price \x80", "5 \x93quoted\x94"}
                                             << QStringLiteral("\u20ac5 \u201cquoted\u201d") << 1;
}

void TestGatewayHttp::responseMarkers()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QString, marker);
    QFETCH(int, foundAfter);

    gateway::Response response;
    QString whole;
    for (int i = 0; i < reads.size(); ++i) {
        response.append(reads[i]);
        whole += QString::fromLatin1(reads[i]);
        const bool expected = foundAfter >= 0 && i >= foundAfter;
        QCOMPARE(response.contains(marker), expected);
        // Asking again after nothing new arrived gives the same answer.
        QCOMPARE(response.contains(marker), expected);
    }
    QCOMPARE(response.text().size(), whole.size());
}

void TestGatewayHttp::responseNewCookies_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    // The cookie line after each read has been captured.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("line split across reads")
        << QByteArrayList{"HTTP/1.0 200 OK\r\nSet-Coo", "kie: S=1; path=/", "\r\nContent-Type: text/html\r\n"}
        << QStringList{"", "", "Cookie: S=1; path=/"};
    QTest::newRow("CR and LF in different reads") << QByteArrayList{"Set-Cookie: S=1\r", "\nX-A: 1\r\n"}
                                                  << QStringList{"", "Cookie: S=1"};
    QTest::newRow("each line once")
        << QByteArrayList{"Set-Cookie: A=1\r\n", "Set-Cookie: B", "=2\r\n", "\r\n<HTML>", "</HTML>"}
        << QStringList{"Cookie: A=1", "Cookie: A=1", "Cookie: A=1; B=2", "Cookie: A=1; B=2", "Cookie: A=1; B=2"};
    QTest::newRow("line start, not read start")
        << QByteArrayList{"X-Note: ", "Set-Cookie: N=1\r\n", "Set-Cookie: Y=2\r\n"}
        << QStringList{"", "", "Cookie: Y=2"};
    QTest::newRow("long body without CR LF") << QByteArrayList{"Set-Cookie: A=1\r\n\r\n<GAMELISTSTART>\n",
                                                               "1 a b c d e 0 1<BR>\n", "<GAMELISTEND>\n"}
                                             << QStringList{"Cookie: A=1", "Cookie: A=1", "Cookie: A=1"};
}

void TestGatewayHttp::responseNewCookies()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QStringList, expected);

    gateway::Response response;
    QString cookieLine;
    for (int i = 0; i < reads.size(); ++i) {
        response.append(reads[i]);
        response.captureNewCookies(cookieLine);
        QCOMPARE(cookieLine, expected[i]);
    }
}

void TestGatewayHttp::responseRemainingCookies_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    // Bytes that arrive after the remaining cookies were taken.
    QTest::addColumn<QByteArray>("later");
    QTest::addColumn<QString>("expected");

    QTest::newRow("final line without CR LF") << QByteArrayList{"HTTP/1.0 200 OK\r\nSet-Cookie: A", "=1"}
                                              << QByteArray() << "Cookie: A=1";
    QTest::newRow("complete lines not taken twice") << QByteArrayList{"Set-Cookie: A=1\r\n", "Set-Cookie: B=2\r\n"}
                                                    << QByteArray() << "Cookie: A=1; B=2";
    QTest::newRow("final line finished later") << QByteArrayList{"Set-Cookie: A=1\r\nSet-Cookie: B=2"}
                                               << QByteArray("; path=/\r\nSet-Cookie: C=3\r\n")
                                               << "Cookie: A=1; B=2; C=3";
    QTest::newRow("final line not a cookie") << QByteArrayList{"Set-Cookie: A=1\r\n<HTML>"} << QByteArray()
                                             << "Cookie: A=1";
}

void TestGatewayHttp::responseRemainingCookies()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArray, later);
    QFETCH(QString, expected);

    gateway::Response response;
    QString cookieLine;
    for (const QByteArray& read : reads) {
        response.append(read);
        response.captureNewCookies(cookieLine);
    }
    response.captureRemainingCookies(cookieLine);
    response.captureRemainingCookies(cookieLine);
    if (!later.isEmpty()) {
        response.append(later);
        response.captureNewCookies(cookieLine);
        response.captureRemainingCookies(cookieLine);
    }
    QCOMPARE(cookieLine, expected);
}

void TestGatewayHttp::responseClear()
{
    gateway::Response response;
    QString cookieLine;
    response.append("Set-Cookie: A=1\r\n<SHOWLOGIN>");
    response.captureNewCookies(cookieLine);
    QVERIFY(response.contains("<SHOWLOGIN>"));

    response.clear();
    QVERIFY(response.text().isEmpty());
    QVERIFY(!response.contains("<SHOWLOGIN>"));

    response.append("Set-Cookie: B=2\r\n<SHOW");
    response.captureNewCookies(cookieLine);
    QCOMPARE(cookieLine, QStringLiteral("Cookie: A=1; B=2"));
    QVERIFY(!response.contains("<SHOWLOGIN>"));
    response.append("LOGIN>");
    QVERIFY(response.contains("<SHOWLOGIN>"));
}

void TestGatewayHttp::responseLimit_data()
{
    // 0 for the default limit.
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("overflowed");
    // After every read's new cookies and, at the end, the remaining ones.
    QTest::addColumn<QString>("cookies");

    QTest::newRow("filled exactly") << 10 << QByteArrayList{"01234", "56789"} << "56789" << true << false << "";
    QTest::newRow("one byte past") << 10 << QByteArrayList{"01234", "56789X"} << "X" << false << true << "";
    QTest::newRow("marker across the limit") << 10 << QByteArrayList{"012345<END>"} << "<END>" << false << true << "";
    QTest::newRow("marker after the overflow")
        << 10 << QByteArrayList{"0123456789A", "<END>"} << "<END>" << false << true << "";
    QTest::newRow("whole response at the limit keeps its final cookie")
        << 15 << QByteArrayList{"Set-Cookie: A=1"} << "" << true << false << "Cookie: A=1";
    QTest::newRow("cookie cut by the limit not taken")
        << 34 << QByteArrayList{"Set-Cookie: A=1\r\n", "Set-Cookie: B=2; path=/\r\n"} << "" << true << true
        << "Cookie: A=1";
    QByteArrayList endless(2 * gateway::Response::kDefaultLimit / 65536, QByteArray(65536, 'x'));
    endless.append("<GAMELISTSTART>");
    QTest::newRow("gateway that keeps sending") << 0 << endless << "<GAMELISTSTART>" << false << true << "";
}

void TestGatewayHttp::responseLimit()
{
    QFETCH(int, limit);
    QFETCH(QByteArrayList, reads);
    QFETCH(QString, marker);
    QFETCH(bool, found);
    QFETCH(bool, overflowed);
    QFETCH(QString, cookies);

    gateway::Response response = limit > 0 ? gateway::Response(limit) : gateway::Response();
    const qsizetype bound = limit > 0 ? limit : gateway::Response::kDefaultLimit;
    QCOMPARE(response.limit(), bound);

    QString kept;
    for (int round = 0; round < 2; ++round) {
        QString cookieLine;
        for (const QByteArray& read : reads) {
            response.append(read);
            QVERIFY(response.text().size() <= bound);
            response.captureNewCookies(cookieLine);
        }
        response.captureRemainingCookies(cookieLine);
        QCOMPARE(response.overflowed(), overflowed);
        QCOMPARE(response.contains(marker), found);
        QCOMPARE(cookieLine, cookies);
        if (overflowed)
            QCOMPARE(response.text().size(), bound);
        // The same reads after clear() give the same answer: nothing of the
        // overflow or the cut text is left behind.
        if (round == 1)
            QCOMPARE(response.text(), kept);
        kept = response.text();
        response.clear();
        QVERIFY(!response.overflowed());
        QVERIFY(response.text().isEmpty());
        QCOMPARE(response.limit(), bound);
    }
}

QTEST_GUILESS_MAIN(TestGatewayHttp)
#include "test_gateway_http.moc"
