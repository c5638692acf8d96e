#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

#include "recorder/videorecorder.h"
#include "window/sharedstate.h"
#include "testsupport.h"
#include "window/widget.h"
#include "window/widgetform.h"

namespace {

const QString LabelStyle = QStringLiteral("border-width: 1px;border-style: solid;border-color: rgb(0, 0, 110);");

QString textOf(const QWidget *widget)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (const auto *edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    return QStringLiteral("<no text>");
}

QWidgetList childWidgets(const QWidget &window)
{
    QWidgetList widgets;
    for (QObject *child : window.children())
        widgets.append(qobject_cast<QWidget *>(child));
    return widgets;
}

// The title and every child's text, to see that a click changed nothing else.
QMap<QString, QString> textsOf(const QWidget &window)
{
    QMap<QString, QString> texts{{"window title", window.windowTitle()}};
    for (const QWidget *child : childWidgets(window))
        texts.insert(child->objectName(), textOf(child));
    return texts;
}

// Every message sent through Qt's message output while it lives.
class MessageCapture
{
public:
    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture()
    {
        qInstallMessageHandler(previous);
        captured.clear();
    }
    QStringList messages(QtMsgType type) const
    {
        QStringList texts;
        for (const auto &[messageType, text] : std::as_const(captured))
            if (messageType == type)
                texts.append(text);
        return texts;
    }
    qsizetype count() const { return captured.size(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        captured.append({type, text});
    }
    static inline QList<std::pair<QtMsgType, QString>> captured;
    QtMessageHandler previous;
};

// Runs a test in an empty working directory, so that any file a slot
// writes shows up and is removed afterwards.
class ScratchDirectory
{
public:
    ScratchDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchDirectory() { QDir::setCurrent(previous); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

// The window as main() shows it, aimed at a loopback server.
class ShownWindow
{
public:
    ShownWindow()
    {
        window.setFixedSize(339, 339);
        window.show();
        server.listen(QHostAddress::LocalHost);
        window.findChild<QLineEdit *>("lineEdit")->setText("127.0.0.1");
        window.findChild<QLineEdit *>("port")->setText(QString::number(server.serverPort()));
    }
    void click(const char *button)
    {
        auto *target = window.findChild<QPushButton *>(button);
        QVERIFY2(target, button);
        QTest::mouseClick(target, Qt::LeftButton);
    }
    QString status() const { return window.findChild<QLabel *>("statuslabel")->text(); }
    QTcpSocket *waitForClient()
    {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }))
            return nullptr;
        return server.nextPendingConnection();
    }

    ScratchDirectory scratch;
    QTcpServer server;
    Widget window;
};

struct FormField
{
    const char *name;
    std::size_t offset;
    QWidget *(*value)(const WidgetForm &);
};

#define FORM_FIELD(field) \
    FormField { #field, offsetof(WidgetForm, field), [](const WidgetForm &form) -> QWidget * { return form.field; } }

static_assert(std::is_standard_layout_v<WidgetForm>);
const FormField formFields[] = {
    FORM_FIELD(connect), FORM_FIELD(stop), FORM_FIELD(lineEdit), FORM_FIELD(statuslabel),
    FORM_FIELD(port), FORM_FIELD(Image), FORM_FIELD(record), FORM_FIELD(stoprecord),
    FORM_FIELD(pushButton), FORM_FIELD(help),
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void children_data();
    void children();
    void window();
    void formRecordFields();
    void objectName_data();
    void objectName();
    void defaultHostIsPrivateIPv4();
    void textsUseWindowContext();
    void fixedSize_data();
    void fixedSize();

    void buttonTriggersItsOwnSlot_data();
    void buttonTriggersItsOwnSlot();
    void stoprecordLeavesConnection();
    void stopLeavesRecording();
    void closeButton_data();
    void closeButton();
};

void TestForm::children_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text"); // null: checked by defaultHostIsPrivateIPv4
    QTest::addColumn<QString>("styleSheet");
    QTest::addColumn<int>("frameShape"); // -1: not a frame

    QTest::newRow("connect") << 0 << "QPushButton" << "connect" << QRect(10, 10, 75, 23)
                             << QStringLiteral("连接") << "" << -1;
    QTest::newRow("stop") << 1 << "QPushButton" << "stop" << QRect(90, 10, 75, 23)
                          << QStringLiteral("断开") << "" << -1;
    QTest::newRow("lineEdit") << 2 << "QLineEdit" << "lineEdit" << QRect(170, 10, 113, 20)
                              << QString() << "" << -1;
    QTest::newRow("statuslabel") << 3 << "QLabel" << "statuslabel" << QRect(10, 315, 320, 20)
                                 << "" << LabelStyle << int(QFrame::StyledPanel);
    QTest::newRow("port") << 4 << "QLineEdit" << "port" << QRect(290, 10, 41, 20)
                          << "8080" << "" << -1;
    QTest::newRow("Image") << 5 << "QLabel" << "Image" << QRect(10, 70, 320, 240)
                           << "" << LabelStyle << int(QFrame::NoFrame);
    QTest::newRow("record") << 6 << "QPushButton" << "record" << QRect(10, 40, 75, 23)
                            << QStringLiteral("视频录制") << "" << -1;
    QTest::newRow("stoprecord") << 7 << "QPushButton" << "stoprecord" << QRect(90, 40, 75, 23)
                                << QStringLiteral("停止录制") << "" << -1;
    QTest::newRow("pushButton") << 8 << "QPushButton" << "pushButton" << QRect(170, 39, 75, 23)
                                << QStringLiteral("关闭") << "" << -1;
    QTest::newRow("help") << 9 << "QPushButton" << "help" << QRect(250, 39, 75, 23)
                          << QStringLiteral("帮助") << "" << -1;
}

void TestForm::children()
{
    QFETCH(int, index);
    QFETCH(QString, className);
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, styleSheet);
    QFETCH(int, frameShape);

    Widget window;
    window.setFixedSize(339, 339);
    window.show();
    QCOMPARE(window.children().size(), qsizetype(10));
    QWidget *child = childWidgets(window).at(index);
    QVERIFY(child);
    QCOMPARE(child, window.findChild<QWidget *>(name));
    QCOMPARE(QString::fromLatin1(child->metaObject()->className()), className);
    QCOMPARE(child->objectName(), name);
    QCOMPARE(child->geometry(), geometry);
    QVERIFY(!child->isWindow());
    QVERIFY(child->isVisible());
    if (!text.isNull())
        QCOMPARE(textOf(child), text);
    QCOMPARE(child->styleSheet(), styleSheet);
    if (frameShape >= 0)
        QCOMPARE(int(qobject_cast<QFrame *>(child)->frameShape()), frameShape);
}

void TestForm::window()
{
    const Widget window;
    QCOMPARE(window.objectName(), "Widget");
    QCOMPARE(window.windowTitle(), "Monitor_tarnwick");
    QVERIFY(window.isEnabled());
    QVERIFY(window.isWindow());
    QCOMPARE(window.size(), QSize(339, 339));
    QCOMPARE(window.styleSheet(), QString());
    QVERIFY(window.findChild<QLabel *>("Image")->pixmap().isNull());
}

void TestForm::formRecordFields()
{
    static_assert(sizeof(WidgetForm) == std::size(formFields) * sizeof(QWidget *));
    QWidget host;
    WidgetForm form;
    form.setupUi(&host);

    const QObjectList created = host.children();
    QCOMPARE(created.size(), qsizetype(std::size(formFields)));
    for (std::size_t i = 0; i < std::size(formFields); ++i) {
        const FormField &field = formFields[i];
        QCOMPARE(field.offset, i * sizeof(QWidget *));
        QCOMPARE(field.value(form)->objectName(), field.name);
        QCOMPARE(field.value(form), created.at(qsizetype(i)));
    }
}

void TestForm::objectName_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("empty") << "" << "Widget";
    QTest::newRow("already set") << "camera" << "camera";
}

void TestForm::objectName()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QWidget host;
    host.setObjectName(before);
    WidgetForm form;
    form.setupUi(&host);
    QCOMPARE(host.objectName(), after);
    QCOMPARE(form.connect->objectName(), "connect");
}

void TestForm::defaultHostIsPrivateIPv4()
{
    const Widget window;
    const QString host = window.findChild<QLineEdit *>("lineEdit")->text();
    QHostAddress address;
    QVERIFY2(address.setAddress(host), qPrintable(host));
    QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
    QCOMPARE(address.toString(), host); // dotted decimal, nothing around it
    const bool privateNetwork = address.isInSubnet(QHostAddress("10.0.0.0"), 8)
            || address.isInSubnet(QHostAddress("172.16.0.0"), 12)
            || address.isInSubnet(QHostAddress("192.168.0.0"), 16);
    QVERIFY2(privateNetwork, qPrintable(host));
}

void TestForm::textsUseWindowContext()
{
    QMap<QString, QString> sources;
    {
        // One window at a time: they share the process-wide display buffer.
        const Widget plain;
        sources = textsOf(plain);
    }
    MarkingTranslator translator;
    QVERIFY(qApp->installTranslator(&translator));
    const Widget translated;

    const QMap<QString, QString> shown = textsOf(translated);
    QCOMPARE(shown.keys(), sources.keys());
    for (const QString &name : sources.keys()) {
        if (qobject_cast<QLabel *>(translated.findChild<QWidget *>(name)))
            QCOMPARE(shown[name], QString()); // labels get the empty text untranslated
        else
            QCOMPARE(shown[name], u'<' + sources[name] + u'>');
    }
}

void TestForm::fixedSize_data()
{
    QTest::addColumn<QSize>("requested");
    QTest::newRow("larger") << QSize(640, 480);
    QTest::newRow("smaller") << QSize(100, 100);
    QTest::newRow("wider only") << QSize(600, 339);
    QTest::newRow("taller only") << QSize(339, 600);
}

void TestForm::fixedSize()
{
    QFETCH(QSize, requested);
    ShownWindow shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.window.resize(requested);
    QCOMPARE(shown.window.size(), QSize(339, 339));
    shown.window.setGeometry(QRect(QPoint(20, 20), requested));
    QCOMPARE(shown.window.size(), QSize(339, 339));
}

void TestForm::buttonTriggersItsOwnSlot_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("debugMessages");
    QTest::addColumn<int>("connections");

    QTest::newRow("help") << "help" << "" << QStringList{"help...\n"} << 0;
    QTest::newRow("stop") << "stop" << "stoped" << QStringList() << 0;
    QTest::newRow("stoprecord") << "stoprecord" << "" << QStringList() << 0;
    QTest::newRow("connect") << "connect" << "connecting..." << QStringList() << 1;
}

void TestForm::buttonTriggersItsOwnSlot()
{
    QFETCH(QString, button);
    QFETCH(QString, status);
    QFETCH(QStringList, debugMessages);
    QFETCH(int, connections);

    ShownWindow shown;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    QSignalSpy connectionSpy(&shown.server, &QTcpServer::newConnection);
    QMap<QString, QString> expectedTexts = textsOf(shown.window);
    expectedTexts["statuslabel"] = status;

    {
        MessageCapture capture;
        shown.click(qPrintable(button));
        QTRY_COMPARE(connectionSpy.size(), connections);
        QTest::qWait(200); // no further connection or message arrives
        QCOMPARE(connectionSpy.size(), connections);
        QCOMPARE(capture.messages(QtDebugMsg), debugMessages);
        QCOMPARE(capture.count(), debugMessages.size());
    }
    QCOMPARE(shown.status(), status);
    QCOMPARE(textsOf(shown.window), expectedTexts);
    QVERIFY(shown.window.isVisible());
    QVERIFY(!recording);
    QVERIFY(!videoWriter);
    QCOMPARE(shown.scratch.files(), QStringList());
}

void TestForm::stoprecordLeavesConnection()
{
    ShownWindow shown;
    shown.click("connect");
    QTcpSocket *client = shown.waitForClient();
    QVERIFY(client);
    QSignalSpy disconnected(client, &QTcpSocket::disconnected);

    shown.click("stoprecord");
    QTest::qWait(200);
    QCOMPARE(disconnected.size(), 0);
    QCOMPARE(shown.status(), "connecting...");

    shown.click("stop");
    QTRY_COMPARE(disconnected.size(), 1);
    QCOMPARE(shown.status(), "stoped");
}

void TestForm::stopLeavesRecording()
{
    ShownWindow shown;
    QVERIFY(startRecording(shown.scratch.filePath("kept.avi")));
    const cv::VideoWriter *writer = videoWriter;
    QVERIFY(writer);

    shown.click("stop");
    QCOMPARE(shown.status(), "stoped");
    QVERIFY(recording);
    QCOMPARE(videoWriter, writer);

    stopRecording();
    QVERIFY(!recording);
    QCOMPARE(shown.scratch.files(), QStringList{"kept.avi"});
}

void TestForm::closeButton_data()
{
    QTest::addColumn<bool>("connected");
    QTest::newRow("never connected") << false;
    QTest::newRow("connected") << true;
}

void TestForm::closeButton()
{
    QFETCH(bool, connected);
    QVERIFY(qApp->quitOnLastWindowClosed());
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket *client = nullptr;
    {
        Widget window;
        window.setFixedSize(339, 339);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *status = window.findChild<QLabel *>("statuslabel");
        if (connected) {
            window.findChild<QLineEdit *>("lineEdit")->setText("127.0.0.1");
            window.findChild<QLineEdit *>("port")->setText(QString::number(server.serverPort()));
            window.findChild<QPushButton *>("connect")->click();
            QTRY_VERIFY(server.hasPendingConnections());
            client = server.nextPendingConnection();
        }
        const QString statusBefore = status->text();

        // Closing the only window must end the application's event loop;
        // the guard only keeps a failing run from hanging.
        auto *closeButton = window.findChild<QPushButton *>("pushButton");
        QTimer::singleShot(0, closeButton, [closeButton] { QTest::mouseClick(closeButton, Qt::LeftButton); });
        QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.isVisible());
        QCOMPARE(lastWindowClosed.size(), 1);
        QCOMPARE(status->text(), statusBefore);
    }
    if (client)
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
