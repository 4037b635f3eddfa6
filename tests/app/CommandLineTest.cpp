#include <QDir>
#include <QtTest>

#include "app/CommandLine.h"

using kestrel::ParseCommandLine;

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void TakesAPortAndAFile();
    void RefusesWhatItCannotUse_data();
    void RefusesWhatItCannotUse();
};

void CommandLineTest::TakesAPortAndAFile() {
    auto parsed = ParseCommandLine({"kestrel-loader", "--port", "/dev/pts/4", "fw/demo.mot"});
    QVERIFY(parsed.error.isEmpty());
    QCOMPARE(parsed.port, QString("/dev/pts/4"));
    QCOMPARE(parsed.file, QDir::current().absoluteFilePath("fw/demo.mot"));

    parsed = ParseCommandLine({"kestrel-loader", "--port=COM2"});
    QCOMPARE(parsed.port, QString("COM2"));
    QVERIFY(parsed.file.isEmpty());

    parsed = ParseCommandLine({"kestrel-loader"});
    QVERIFY(parsed.error.isEmpty() && parsed.port.isEmpty() && parsed.file.isEmpty());

    parsed = ParseCommandLine({"kestrel-loader", "--help"});
    QVERIFY(parsed.showHelp);
    QVERIFY(parsed.helpText.contains("--port <NAME>"));
}

void CommandLineTest::RefusesWhatItCannotUse_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("two files") << QStringList({"kestrel-loader", "a.mot", "b.bin"});
    QTest::newRow("unknown option") << QStringList({"kestrel-loader", "--baud", "9600"});
    QTest::newRow("port without name") << QStringList({"kestrel-loader", "--port"});
    QTest::newRow("empty port name") << QStringList({"kestrel-loader", "--port="});
}

void CommandLineTest::RefusesWhatItCannotUse() {
    QFETCH(QStringList, arguments);
    QVERIFY(!ParseCommandLine(arguments).error.isEmpty());
}

QTEST_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
