#include <atomic>
#include <thread>
#include <vector>

#include <QScrollBar>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/QueuedStatusList.h"

using kestrel::Ckestrel2Dlg;
using kestrel::ProgressStage;

namespace {

// Notes how many lines the list held when it was last painted.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(QListWidget& list) : list_(list) { list.viewport()->installEventFilter(this); }
    std::atomic<int> linesAtLastPaint{-1};

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            linesAtLastPaint = list_.count();
        }
        return false;
    }

private:
    QListWidget& list_;
};

int TopVisibleLine(QListWidget& list) { return list.indexAt(QPoint(2, 2)).row(); }

}  // namespace

class StatusListTest : public QObject {
    Q_OBJECT
private slots:
    void ScrollRuleKeepsTheThreeNewestLinesFirstInView();
    void DownloadThreadCallsArriveInOrderAndRepaintWaitsForThePaint();
    void CancelEndsARepaintWaitTheGuiDoesNotServe();
};

void StatusListTest::ScrollRuleKeepsTheThreeNewestLinesFirstInView() {
    // A list of three whole lines, so that no request is cut short by its end.
    QListWidget list;
    QProgressBar bar;
    list.addItem("probe");
    const int lineHeight = list.visualItemRect(list.item(0)).height();
    list.clear();
    list.resize(200, 3 * lineHeight + 2 * list.frameWidth() + lineHeight / 2);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    kestrel::ListWidgetStatusList status(list, bar);
    int lines = 0;
    for (const auto& [count, top] : QList<QPair<int, int>>{{1, 0}, {2, 0}, {3, 0}, {4, 1}, {10, 7}}) {
        while (lines < count) {
            status.AppendStatus("line " + std::to_string(lines++));
        }
        QCOMPARE(TopVisibleLine(list), top);
    }
    list.verticalScrollBar()->setValue(0);  // the user scrolled away; the rule alone brings it back
    status.ApplyScrollRule();
    QCOMPARE(TopVisibleLine(list), 7);
}

void StatusListTest::DownloadThreadCallsArriveInOrderAndRepaintWaitsForThePaint() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    kestrel::ListWidgetStatusList target(*controls.list, *controls.progress);
    PaintWatcher watcher(*controls.list);
    kestrel::QueuedStatusList queued(dialog, target, std::make_shared<kestrel::DownloadCancel>());

    constexpr int kLines = 200;
    std::vector<int> paintedAtRepaint;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        queued.Clear();
        for (int i = 0; i < kLines; ++i) {
            queued.AppendStatus(i == 0 ? "Opening interface... " : std::to_string(i));
            queued.Progress(ProgressStage::ReadingBack, static_cast<std::uint32_t>(i + 1), 2 * kLines);
            if (i % 50 == 0) {
                queued.RepaintNow();
                paintedAtRepaint.push_back(watcher.linesAtLastPaint);
            }
        }
        finished = true;
    });
    QTRY_VERIFY(finished.load());
    worker.join();
    QTRY_COMPARE(controls.list->count(), kLines);

    QStringList expected{"Opening interface... "};
    for (int i = 1; i < kLines; ++i) {
        expected << QString::number(i);
    }
    QCOMPARE(controls.Lines(), expected);
    // Each repaint returned only once the list was painted with its newest line.
    QCOMPARE(paintedAtRepaint, (std::vector<int>{1, 51, 101, 151}));
    QTRY_COMPARE(controls.progress->text(), QString("Reading data 50%"));
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
    // This thread serves no events, as while it closes the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QVERIFY2(!returned.load(), "the repaint waits for the GUI thread");
    cancel->Request();
    worker.join();  // a cancel that does not end the wait hangs here until ctest's time-out
    QVERIFY(returned.load());
}

QTEST_MAIN(StatusListTest)
#include "StatusListTest.moc"
