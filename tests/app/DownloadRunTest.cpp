#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QMessageBox>
#include <QtTest>

#include "DialogTestSupport.h"
#include "emulator/ServedBox.h"
#include "links/SerialLink.h"

using namespace kestrel;
using namespace kestrel::emulator;

namespace {

// Notes how many lines the list held when it was last painted.
struct PaintWatcher : QObject {
    explicit PaintWatcher(QListWidget& watched) : list(watched) { list.viewport()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            linesAtLastPaint = list.count();
        return false;
    }
    QListWidget& list;
    std::atomic<int> linesAtLastPaint{-1};
};

const QString kFirmware = QStringLiteral(KESTREL_SAMPLES_DIR "/kestrel-demo.mot");

// The emulated box on a pseudo-terminal, served on its own thread until the end
// of the test or, if asked for, until that many downloads have ended. It hangs
// up after 30 s, so that a broken download fails the test instead of hanging it.
constexpr std::uint32_t kGiveUpMs = 30000;

}  // namespace

class DownloadRunTest : public QObject {
    Q_OBJECT
private slots:
    void TheListKeepsTheThreeNewestLinesFirstInViewAndTheBarCountsTheSyncDown();
    void RepaintWaitsForThePaintAndClosingEndsTheWait();
    void TheLastRunIsSavedAndTheBarCountsDownAndShowsWhyARunFailed();
    void FlashesTheBoxFromTheDialogTwice();
    void ClosingDuringADownloadCancelsItAndFreesThePort();
};

void DownloadRunTest::TheListKeepsTheThreeNewestLinesFirstInViewAndTheBarCountsTheSyncDown() {
    // A list of two whole lines: the rule's requests are never cut short by its
    // end, and a request for a line further down would be.
    QListWidget list;
    QProgressBar bar;
    list.addItem("probe");
    const int lineHeight = list.visualItemRect(list.item(0)).height();
    list.clear();
    list.resize(200, 2 * lineHeight + 2 * list.frameWidth() + lineHeight / 2);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QtDialogView view(list, bar);
    ManualClock clock(0xFFFFF000);  // the tick count wraps during the countdown
    DialogStatus status(view, clock);
    int lines = 0;
    for (const auto& [count, top] : QList<QPair<int, int>>{{1, 0}, {2, 0}, {3, 0}, {4, 1}, {10, 7}}) {
        while (lines < count)
            status.AppendStatus("line " + std::to_string(lines++));
        QCOMPARE(list.indexAt(QPoint(2, 2)).row(), top);  // the top visible line
    }
    // The stage's value starts the countdown, not its line's text. Then whole seconds rounded up, at 0, 1,
    // 1000, 19000, 19999 and 20000 ms: the session waits through the last.
    status.AppendStatus("Waiting for synchronising ... ");
    QVERIFY(!status.CountingDown());
    status.StageStarted(SessionStage::Synchronising);
    QStringList shown;
    for (const std::uint32_t step : {0, 1, 999, 18000, 999, 1}) {
        clock.Advance(step);
        status.Tick();
        shown << bar.toolTip().mid(QString("Waiting for the box: ").size());
    }
    QCOMPARE(shown, QStringList({"20 s", "20 s", "19 s", "1 s", "1 s", "1 s"}));
}

void DownloadRunTest::RepaintWaitsForThePaintAndClosingEndsTheWait() {
    auto dialog = std::make_unique<Ckestrel2Dlg>(std::vector<SerialPortInfo>{}, nullptr);
    DialogControls controls(*dialog);
    PaintWatcher watcher(*controls.list);
    std::vector<int> paintedAtRepaint;
    std::atomic<bool> written{false};
    dialog->SetDownloadRunner([&](auto&, auto&, StatusList& status, const SessionOptions& options) {
        for (int i = 1; i <= 3; ++i) {
            status.AppendStatus(std::to_string(i));
            status.RepaintNow();
            paintedAtRepaint.push_back(watcher.linesAtLastPaint);
        }
        written = true;
        while (!options.cancelRequested())
            status.RepaintNow();
        return DownloadOutcome::Cancelled;
    });
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->OnStartDownload();
    QTRY_VERIFY(written.load());
    // Each repaint returned only once the list was painted with its newest line.
    QCOMPARE(paintedAtRepaint, (std::vector<int>{1, 2, 3}));
    // The download now waits for a paint this thread will never serve: the
    // window's cancel has to end that wait, or this hangs until ctest's time-out.
    dialog.reset();
}

// Three runs of one dialog. The first names its port in the bar while opening
// it and is the log's record; the second counts
// the synchronisation down in the bar, then shows its error there instead of
// the last stage's percentage; the third cannot open its link, and the bar says
// why. The lines stay as each download wrote them.
void DownloadRunTest::TheLastRunIsSavedAndTheBarCountsDownAndShowsWhyARunFailed() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    // A run holds until released, polling as a session does.
    const auto hold = [&release](const SessionOptions& options) {
        while (!release && !options.cancelRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        release = false;
    };
    dialog.SetDownloadRunner([&](auto&, auto&, StatusList& status, const SessionOptions& options) {
        if (++runs == 1) {
            status.AppendStatus("Opening interface... ");
            status.StageStarted(SessionStage::OpeningLink);
            hold(options);
            return DownloadOutcome::Success;
        }
        status.AppendStatus("Waiting for synchronising ... ");
        status.StageStarted(SessionStage::Synchronising);
        hold(options);
        status.Progress(ProgressStage::WritingData, 30, 100);
        status.AppendStatus("Error: Cannot program");
        return DownloadOutcome::BoxRefused;
    });
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("kestrel.log"));
    dialog.SetLogFileChooser([&logPath](QWidget*) { return logPath; });
    dialog.PreselectFile("/tmp/kestrel-demo.mot");
    dialog.show();
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);

    QTest::mouseClick(controls.start, Qt::LeftButton);
    QTRY_COMPARE(controls.Lines(), QStringList("Opening interface... "));
    QCOMPARE(controls.progress->text(), QString("Opening USB..."));  // the port, as the drop-down names it
    release = true;
    QVERIFY(DownloadsEnded(ended, 1));
    QCOMPARE(controls.progress->text(), QString("Flashed"));  // no read-back was asked for
    dialog.SaveLogAction()->trigger();
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    for (const char* line :
         {"port: USB\n", "file: /tmp/kestrel-demo.mot\n", "\"Opening interface... \"\n", "result: success, exit 0, "})
        QVERIFY2(text.contains(QString::fromLatin1(line)), qPrintable(line + ("\nnot in\n" + text)));

    QTest::mouseClick(controls.start, Qt::LeftButton);
    QTRY_COMPARE(controls.progress->text(), QString("Waiting for the box: 20 s"));
    QVERIFY(controls.progress->value() > controls.progress->maximum() * 9 / 10);
    release = true;
    QVERIFY(DownloadsEnded(ended, 2));
    QCOMPARE(controls.progress->text(), QString("Error: Cannot program"));
    QCOMPARE(controls.progress->value(), 0);

    // A reason wider than the bar is cut to fit it, and whole in the tip and the log; a "%" in it is no placeholder.
    const QString missing =
        QDir::temp().filePath("kestrel-no-such-tty-by-a-name-longer-than-the-bar-" + QString(60, 'x') + "-100%p");
    const QString reason = missing + ": No such file or directory";
    QVERIFY(dialog.PreselectPort(missing));
    // The open's errno reaches the hint: the session's own, from the open it tried.
    dialog.SetDownloadRunner(RunDownload);
    QTest::mouseClick(controls.start, Qt::LeftButton);
    QVERIFY(DownloadsEnded(ended, 3));
    QCOMPARE(controls.Lines(), QStringList({"Opening interface... ", "Error: cannot open comport"}));
    const QString shown = controls.progress->text();
    QVERIFY2(shown.endsWith("-100%p: No such file or directory") && shown.startsWith(QDir::tempPath()),
             qPrintable(shown));
    QVERIFY(controls.progress->fontMetrics().horizontalAdvance(shown) <= controls.progress->contentsRect().width());
    QCOMPARE(controls.progress->toolTip(), reason);
    dialog.SaveLogAction()->trigger();
    QVERIFY(QString::fromUtf8(log.readAll()).contains("reason: " + reason + "\n"));
}

void DownloadRunTest::FlashesTheBoxFromTheDialogTwice() {
    ServedBox box(BoxModel(), {.stopAfterDownloads = 2, .giveUpAfterMs = kGiveUpMs});
    QVERIFY(box.Started());

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort(QString::fromStdString(box.DevicePath())));
    dialog.PreselectFile(kFirmware);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    // From the keyboard: Space on "Start download", then Return, with the focus
    // back on "Start download" after each download.
    controls.start->setFocus();
    for (int run = 1; run <= 2; ++run) {
        QCOMPARE(QApplication::focusWidget(), controls.start);
        QTest::keyClick(controls.start, run == 1 ? Qt::Key_Space : Qt::Key_Return);
        QCOMPARE(controls.list->count(), 0);  // emptied at the press, before the download reports
        QVERIFY(std::ranges::none_of(controls.inputs, &QWidget::isEnabled));
        QVERIFY(DownloadsEnded(ended, run));
        // Each run's lines from an empty list; which lines a download writes is the workflow table's.
        QCOMPARE(controls.Lines().count(QStringLiteral("Opening interface... ")), 1);
        QCOMPARE(controls.Lines().last(), QStringLiteral("FLASHING SUCCESSFULL"));
        QVERIFY(std::ranges::all_of(controls.inputs, &QWidget::isEnabled));
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(controls.progress->value(), controls.progress->maximum());
    QCOMPARE(controls.progress->text(), QString("Flashed and verified"));
    QCOMPARE(box.Wait(), 0);  // the box has seen both downloads to their ends
}

void DownloadRunTest::ClosingDuringADownloadCancelsItAndFreesThePort() {
    ServedBox box(BoxModel({.eraseMs = 60000}), {.giveUpAfterMs = kGiveUpMs});
    QVERIFY(box.Started());

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort(QString::fromStdString(box.DevicePath())));
    dialog.PreselectFile(kFirmware);
    int asked = 0, askedAtEscape = -1, askedAtNo = -1;  // -1: the download had ended
    QStringList questions;
    // The real question: Return answers the first (its default must be No), Yes the second.
    QTimer answer;
    connect(&answer, &QTimer::timeout, &dialog, [&] {
        auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (question == nullptr || !question->isVisible())
            return;
        questions << question->text();
        if (++asked == 1)
            QTest::keyClick(question, Qt::Key_Return);
        else
            question->button(QMessageBox::Yes)->click();
    });
    answer.start(10);
    QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(controls.start, Qt::LeftButton); });
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] {
        if (controls.Lines().contains("Erasing flash... ")) {
            watch.stop();
            // Checked after the loop: a failure here would leave the window open for ever.
            QTest::keyClick(&dialog, Qt::Key_Escape);  // does not cancel, and asks nothing
            askedAtEscape = dialog.isVisible() && dialog.DownloadRunning() ? asked : -1;
            dialog.close();
            askedAtNo = dialog.isVisible() && dialog.DownloadRunning() ? asked : -1;
            dialog.close();
        }
    });
    watch.start(10);
    // A download that ends before its erase (a broken one) closes the window, or nothing would.
    connect(&dialog, &Ckestrel2Dlg::DownloadEnded, &dialog, [&] {
        if (watch.isActive())
            dialog.reject();
    });
    dialog.exec();

    QCOMPARE(QList<int>({askedAtEscape, askedAtNo, asked}), QList<int>({0, 1, 2}));
    QVERIFY2(questions.first().contains("leaves the box unprogrammed"), qPrintable(questions.first()));
    QCOMPARE(dialog.LastOutcome(), std::optional<DownloadOutcome>(DownloadOutcome::Cancelled));

    SerialLink link;
    QVERIFY2(link.Open(box.DevicePath(), 115200, 0, 2, 8), "the dialog's link was closed");
}

QTEST_MAIN(DownloadRunTest)
#include "DownloadRunTest.moc"
