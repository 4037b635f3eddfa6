#include <atomic>
#include <thread>
#include <vector>

#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/QueuedStatusList.h"

using kestrel::Ckestrel2Dlg;
using kestrel::ProgressStage;

namespace {

// Notes how many lines the list held each time it was painted.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(QListWidget& list) : list_(list) { list.viewport()->installEventFilter(this); }
    int LinesAtLastPaint() const { return linesAtLastPaint_.load(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            linesAtLastPaint_.store(list_.count());
        }
        return false;
    }

private:
    QListWidget& list_;
    std::atomic<int> linesAtLastPaint_{-1};
};

int TopVisibleLine(QListWidget& list) { return list.indexAt(QPoint(2, 2)).row(); }

}  // namespace

class StatusListTest : public QObject {
    Q_OBJECT
private slots:
    void ScrollRuleKeepsTheThreeNewestLinesFirstInView();
    void TheDialogsListKeepsTheNewestLinesInView();
    void LinesStayExactlyAsAppended();
    void DownloadThreadCallsArriveInOrderAndRepaintWaitsForThePaint();
    void CancelEndsARepaintWaitTheGuiDoesNotServe();
};

void StatusListTest::ScrollRuleKeepsTheThreeNewestLinesFirstInView() {
    // A list that shows three whole lines, so that no request is cut short by its end.
    QListWidget list;
    QProgressBar bar;
    list.addItem("probe");
    const int lineHeight = list.visualItemRect(list.item(0)).height();
    list.clear();
    list.resize(200, 3 * lineHeight + 2 * list.frameWidth() + lineHeight / 2);
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    kestrel::ListWidgetStatusList status(list, bar);

    const QList<QPair<int, int>> expectedTop{{1, 0}, {2, 0}, {3, 0}, {4, 1}, {10, 7}};
    int lines = 0;
    for (const auto& [count, top] : expectedTop) {
        while (lines < count) {
            status.AppendStatus("line " + std::to_string(lines++));
        }
        QCOMPARE(TopVisibleLine(list), top);
    }
    // Scrolled away by the user, the rule alone brings the view back.
    list.verticalScrollBar()->setValue(0);
    status.ApplyScrollRule();
    QCOMPARE(TopVisibleLine(list), 7);
}

void StatusListTest::TheDialogsListKeepsTheNewestLinesInView() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    kestrel::ListWidgetStatusList status(*controls.list, *controls.progress);
    for (int i = 0; i < 10; ++i) {
        status.AppendStatus("line " + std::to_string(i));
    }
    // The template's list shows more than three whole lines: it goes as far
    // down as it can, the three newest lines in view, the early ones not.
    const QRect view = controls.list->viewport()->rect();
    for (int line = 7; line < 10; ++line) {
        QVERIFY(view.contains(controls.list->visualItemRect(controls.list->item(line))));
    }
    QVERIFY(!view.intersects(controls.list->visualItemRect(controls.list->item(5))));
    QCOMPARE(controls.list->verticalScrollBar()->value(), controls.list->verticalScrollBar()->maximum());
}

void StatusListTest::LinesStayExactlyAsAppended() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    kestrel::ListWidgetStatusList status(*controls.list, *controls.progress);
    const std::vector<std::string> lines{"Opening interface... ", "b", "a", "12 lines interpreted", "Verify data..."};
    for (const auto& line : lines) {
        status.AppendStatus(line);
    }
    QCOMPARE(controls.Lines(), QStringList({"Opening interface... ", "b", "a", "12 lines interpreted",
                                             "Verify data..."}));

    status.Progress(ProgressStage::ReadingBack, 50, 200);
    QCOMPARE(controls.progress->value(), 50);
    QCOMPARE(controls.progress->maximum(), 200);
    QCOMPARE(controls.progress->text(), QString("Reading data 25%"));
    status.Clear();
    QCOMPARE(controls.list->count(), 0);
    QVERIFY(controls.progress->text().isEmpty());
}

void StatusListTest::DownloadThreadCallsArriveInOrderAndRepaintWaitsForThePaint() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    kestrel::ListWidgetStatusList target(*controls.list, *controls.progress);
    PaintWatcher watcher(*controls.list);
    auto cancel = std::make_shared<kestrel::DownloadCancel>();
    kestrel::QueuedStatusList queued(dialog, target, cancel);

    constexpr int kLines = 200;
    std::vector<int> paintedAfterRepaint;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        queued.Clear();
        for (int i = 0; i < kLines; ++i) {
            queued.AppendStatus(std::to_string(i));
            queued.Progress(ProgressStage::WritingData, static_cast<std::uint32_t>(i + 1), kLines);
            if (i % 50 == 0) {
                queued.RepaintNow();
                paintedAfterRepaint.push_back(watcher.LinesAtLastPaint());
            }
        }
        finished = true;
    });
    QTRY_VERIFY(finished.load());
    worker.join();
    QTRY_COMPARE(controls.list->count(), kLines);

    QStringList expected;
    for (int i = 0; i < kLines; ++i) {
        expected << QString::number(i);
    }
    QCOMPARE(controls.Lines(), expected);
    // Each repaint returned only after the list was painted with its newest line.
    QCOMPARE(paintedAfterRepaint, (std::vector<int>{1, 51, 101, 151}));
    QTRY_COMPARE(controls.progress->value(), kLines);
    QCOMPARE(controls.list->verticalScrollBar()->value(), controls.list->verticalScrollBar()->maximum());
}

void StatusListTest::CancelEndsARepaintWaitTheGuiDoesNotServe() {
    QObject guiContext;
    QListWidget list;
    QProgressBar bar;
    kestrel::ListWidgetStatusList target(list, bar);
    auto cancel = std::make_shared<kestrel::DownloadCancel>();
    kestrel::QueuedStatusList queued(guiContext, target, cancel);

    std::atomic<bool> returned{false};
    std::thread worker([&] {
        queued.RepaintNow();
        returned = true;
    });
    // This thread processes no events, as when it is busy closing the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QVERIFY2(!returned.load(), "the repaint waits for the GUI thread");
    cancel->Request();
    worker.join();  // hangs, and ctest ends the test, if the cancel does not end the wait
    QVERIFY(returned.load());
}

QTEST_MAIN(StatusListTest)
#include "StatusListTest.moc"
