#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <optional>

#include "stream/portnumber.h"
#include "testsupport.h"
#include "window/widget.h"

namespace {

const QByteArray StreamRequest = QByteArrayLiteral("GET /?action=stream\n\n");

// A port on 127.0.0.1 where nothing listens.
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// The window aimed at a loopback server, driven through its buttons.
class Viewer
{
public:
    Viewer()
    {
        server.listen(QHostAddress::LocalHost);
        window.findChild<QLineEdit *>("lineEdit")->setText("127.0.0.1");
        setPort(server.serverPort());
    }
    void setPort(const QString &text) { window.findChild<QLineEdit *>("port")->setText(text); }
    void setPort(quint16 port) { setPort(QString::number(port)); }
    void click(const char *button) { window.findChild<QPushButton *>(button)->click(); }
    QString status() const { return window.findChild<QLabel *>("statuslabel")->text(); }

    // The server side of the window's next connection, or null.
    QTcpSocket *waitForClient()
    {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }))
            return nullptr;
        return server.nextPendingConnection();
    }

    QTcpServer server;
    Widget window;
};

// Waits for the request, then a while longer to see that nothing follows it.
QByteArray receivedRequest(QTcpSocket *client)
{
    if (!QTest::qWaitFor([client] { return client->bytesAvailable() >= StreamRequest.size(); }))
        return client->readAll();
    QTest::qWait(200);
    return client->readAll();
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void sendsStreamRequestOnly();
    void sendsRequestAgainAfterStop();
    void refusedConnection();
    void stopWithoutConnection();
    void stopAbortsConnection();
    void serverClosesConnection();
    void statusTextsUseWindowContext();

    void portNumber_data();
    void portNumber();
    void invalidPortStartsNoConnection_data();
    void invalidPortStartsNoConnection();
    void validPortConnects_data();
    void validPortConnects();
};

void TestConnection::sendsStreamRequestOnly()
{
    Viewer viewer;
    viewer.click("connect");
    QCOMPARE(viewer.status(), "connecting...");
    QTcpSocket *client = viewer.waitForClient();
    QVERIFY(client);

    QCOMPARE(StreamRequest.size(), qsizetype(21));
    QCOMPARE(receivedRequest(client), StreamRequest);
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(viewer.status(), "connecting...");
}

void TestConnection::sendsRequestAgainAfterStop()
{
    Viewer viewer;
    viewer.click("connect");
    QTcpSocket *first = viewer.waitForClient();
    QVERIFY(first);
    QCOMPARE(receivedRequest(first), StreamRequest);

    viewer.click("stop");
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    viewer.click("connect");
    QCOMPARE(viewer.status(), "connecting...");
    QTcpSocket *second = viewer.waitForClient();
    QVERIFY(second);
    QCOMPARE(receivedRequest(second), StreamRequest);
}

void TestConnection::refusedConnection()
{
    Viewer viewer;
    viewer.setPort(unusedPort());
    viewer.click("connect");
    QCOMPARE(viewer.status(), "connecting...");
    QTRY_COMPARE(viewer.status(), "socket error!");
}

void TestConnection::stopWithoutConnection()
{
    Viewer viewer;
    viewer.click("stop");
    QCOMPARE(viewer.status(), "stoped");
    viewer.click("stop");
    QCOMPARE(viewer.status(), "stoped");
}

void TestConnection::stopAbortsConnection()
{
    Viewer viewer;
    viewer.click("connect");
    QTcpSocket *client = viewer.waitForClient();
    QVERIFY(client);
    QCOMPARE(receivedRequest(client), StreamRequest);
    QSignalSpy disconnected(client, &QTcpSocket::disconnected);

    viewer.click("stop");
    QCOMPARE(viewer.status(), "stoped");
    QTRY_COMPARE(disconnected.size(), 1);
    QTest::qWait(100); // an abort is no error: the text stays
    QCOMPARE(viewer.status(), "stoped");
}

void TestConnection::serverClosesConnection()
{
    Viewer viewer;
    viewer.click("connect");
    QTcpSocket *client = viewer.waitForClient();
    QVERIFY(client);
    QCOMPARE(receivedRequest(client), StreamRequest);

    client->disconnectFromHost();
    QTRY_COMPARE(viewer.status(), "socket error!");
}

void TestConnection::statusTextsUseWindowContext()
{
    MarkingTranslator translator;
    QVERIFY(qApp->installTranslator(&translator));
    Viewer viewer;

    viewer.click("stop");
    QCOMPARE(viewer.status(), "<stoped>");
    viewer.setPort("abc");
    viewer.click("connect");
    QCOMPARE(viewer.status(), "<invalid port!>");
    viewer.setPort(unusedPort());
    viewer.click("connect");
    QCOMPARE(viewer.status(), "<connecting...>");
    QTRY_COMPARE(viewer.status(), "<socket error!>");
}

void TestConnection::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: no port

    QTest::newRow("8080") << "8080" << 8080;
    QTest::newRow("spaces around") << " 8080 " << 8080;
    QTest::newRow("tab and newline around") << "\t8080\n" << 8080;
    QTest::newRow("lowest") << "1" << 1;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("leading zero") << "08080" << 8080;
    QTest::newRow("many leading zeros") << "0000080" << 80;
    QTest::newRow("zero") << "0" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("only spaces") << "   " << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("minus one") << "-1" << -1;
    QTest::newRow("65536") << "65536" << -1;
    QTest::newRow("low 16 bits are 8080") << "73616" << -1;
    QTest::newRow("beyond 32 bits") << "99999999999" << -1;
    QTest::newRow("plus sign") << "+80" << -1;
    QTest::newRow("two numbers") << "80 80" << -1;
    QTest::newRow("trailing letter") << "80a" << -1;
    QTest::newRow("hexadecimal") << "0x50" << -1;
    QTest::newRow("fraction") << "80.0" << -1;
    QTest::newRow("full-width digits") << QStringLiteral("８０８０") << -1;
}

void TestConnection::portNumber()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    const std::optional<quint16> expected = port < 0 ? std::nullopt : std::optional<quint16>(port);
    QCOMPARE(parsePortNumber(text), expected);
}

void TestConnection::invalidPortStartsNoConnection_data()
{
    // "{port}" stands for the listening server's port, "{wrapped}" for that
    // port plus 65536, which a 16-bit narrowing would turn into the port.
    QTest::addColumn<QString>("pattern");
    QTest::newRow("zero") << "0";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("minus one") << "-1";
    QTest::newRow("65536") << "65536";
    QTest::newRow("beyond 32 bits") << "99999999999";
    QTest::newRow("plus sign") << "+{port}";
    QTest::newRow("minus port") << "-{port}";
    QTest::newRow("twice the port") << "{port} {port}";
    QTest::newRow("trailing letter") << "{port}a";
    QTest::newRow("wraps to the port") << "{wrapped}";
}

void TestConnection::invalidPortStartsNoConnection()
{
    QFETCH(QString, pattern);
    Viewer viewer;
    const quint16 port = viewer.server.serverPort();
    const QString text = QString(pattern)
                                 .replace("{port}", QString::number(port))
                                 .replace("{wrapped}", QString::number(port + 65536));
    QSignalSpy connections(&viewer.server, &QTcpServer::newConnection);
    viewer.setPort(text);

    viewer.click("connect");
    QCOMPARE(viewer.status(), "invalid port!");
    QTest::qWait(200); // no connection, so no error either
    QCOMPARE(viewer.status(), "invalid port!");
    QCOMPARE(connections.size(), 0);
    QVERIFY(!viewer.server.hasPendingConnections());
}

void TestConnection::validPortConnects_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("plain") << "{port}";
    QTest::newRow("spaces around") << "  {port} ";
    QTest::newRow("tab after") << "{port}\t";
    QTest::newRow("leading zero") << "0{port}";
}

void TestConnection::validPortConnects()
{
    QFETCH(QString, pattern);
    Viewer viewer;
    viewer.setPort(QString(pattern).replace("{port}", QString::number(viewer.server.serverPort())));

    viewer.click("connect");
    QCOMPARE(viewer.status(), "connecting...");
    QTcpSocket *client = viewer.waitForClient();
    QVERIFY(client);
    QCOMPARE(receivedRequest(client), StreamRequest);
    QCOMPARE(viewer.status(), "connecting...");
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
