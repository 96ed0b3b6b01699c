// The batch frame's engine workers, with an operation whose engine work needs no engine:
// work really runs side by side, results come back in list order whatever ends first, and
// entries sharing a source or an output never run at once.

#include "automation/BatchFrame.h"
#include "automation/EngineError.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace gm;

namespace {

// Events of a run, from every thread, in the order they happened.
class Journal
{
public:
    void note(const QString &event)
    {
        std::lock_guard lock(m_mutex);
        m_events << event;
        m_changed.notify_all();
    }
    // Waits for an event; false when it did not come within a minute (the run is then stuck,
    // as it would be with one worker waiting for the other).
    bool waitFor(const QString &event)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::minutes(1), [&] { return m_events.contains(event); });
    }
    QStringList events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_events;
};

class EngineWorkersTest : public ::testing::Test
{
protected:
    QString file(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        if (!QFileInfo::exists(path))
            gm::test::writeAll(path, "x");
        return path;
    }
    // Runs the entries with two workers. Every entry's work is noted as it starts and ends;
    // `during` runs in the middle of it; the output is the entry's base name up to a '-'.
    RunSummary run(const QStringList &entries, const std::function<void(const QString &name)> &during)
    {
        Operation operation;
        operation.options.actionName = QStringLiteral("测试");
        operation.options.testExistence = false;
        operation.outputOf = [](const QString &path) {
            return QFileInfo(path).absolutePath() + QStringLiteral("/out/") + QFileInfo(path).baseName().section(u'-', 0, 0);
        };
        operation.prepare = [this, during](FileContext &context) -> EngineWork {
            const QString name = QFileInfo(context.path()).fileName();
            m_journal.note(QStringLiteral("prepare ") + name);
            if (name.startsWith(QStringLiteral("skip"))) {
                context.setOutcome(FileOutcome::Skipped);
                return {};
            }
            return [this, during, name](FileContext &) {
                m_journal.note(QStringLiteral("start ") + name);
                during(name);
                m_journal.note(QStringLiteral("end ") + name);
                if (name.startsWith(QStringLiteral("bad")))
                    throw EngineError(ErrorCode::Damaged, name);
            };
        };
        // No engine is ever started: the work above uses none.
        ApplicationFactory noEngine = []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); };
        RunSettings settings;
        settings.jobs = 2;
        settings.isRecordError = true;
        settings.logFile = m_dir.filePath(QStringLiteral("run.log"));
        BatchFrame frame(m_ui, settings, noEngine);
        return frame.run(entries, operation);
    }

    QTemporaryDir m_dir;
    gm::test::ScriptedUi m_ui;
    Journal m_journal;
};

} // namespace

TEST_F(EngineWorkersTest, WorkRunsSideBySideAndIsReportedInListOrder)
{
    // The first entry's work ends only after the second's has ended: with one worker at a
    // time this run could not finish.
    const QStringList entries = {file(QStringLiteral("bad-first.xls")), file(QStringLiteral("second.xls")), QStringLiteral(" "),
        file(QStringLiteral("skip-third.xls")), file(QStringLiteral("bad-fourth.xls"))};
    bool secondEndedFirst = false;
    const RunSummary summary = run(entries, [&](const QString &name) {
        if (name == QStringLiteral("bad-first.xls"))
            secondEndedFirst = m_journal.waitFor(QStringLiteral("end second.xls"));
    });
    EXPECT_TRUE(secondEndedFirst);
    ASSERT_EQ(summary.files.size(), 4u);
    const FileOutcome expected[] = {FileOutcome::Failed, FileOutcome::Processed, FileOutcome::Skipped, FileOutcome::Failed};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(summary.files[i].path, entries.at(i < 2 ? int(i) : int(i) + 1));
        EXPECT_EQ(summary.files[i].outcome, expected[i]);
    }
    // The log follows the list too, though the first failure ended last.
    const QStringList log = QString::fromUtf8(gm::test::readAll(m_dir.filePath(QStringLiteral("run.log"))))
                                .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].contains(QStringLiteral("bad-first.xls")));
    EXPECT_TRUE(log[1].contains(QStringLiteral("bad-fourth.xls")));
    // Entries are prepared one after another in list order.
    QStringList prepared = m_journal.events().filter(QStringLiteral("prepare "));
    EXPECT_EQ(prepared,
        (QStringList{QStringLiteral("prepare bad-first.xls"), QStringLiteral("prepare second.xls"),
            QStringLiteral("prepare skip-third.xls"), QStringLiteral("prepare bad-fourth.xls")}));
}

TEST_F(EngineWorkersTest, EntriesSharingASourceOrAnOutputNeverRunAtOnce)
{
    // a-1 and a-2 write the same output, x.xls is listed twice; b runs beside them.
    const QString x = file(QStringLiteral("x.xls"));
    const QStringList entries
        = {file(QStringLiteral("a-1.xls")), file(QStringLiteral("a-2.xls")), x, file(QStringLiteral("b.xls")), x};
    const RunSummary summary = run(entries, [](const QString &) {});
    ASSERT_EQ(summary.files.size(), 5u);
    EXPECT_EQ(summary.failedCount(), 0);
    const QStringList events = m_journal.events();
    SCOPED_TRACE(events.join(QStringLiteral(", ")).toStdString());
    // The later entry is prepared (and could ask about the earlier one's output) only once the
    // earlier one's work has ended.
    EXPECT_LT(events.indexOf(QStringLiteral("end a-1.xls")), events.indexOf(QStringLiteral("prepare a-2.xls")));
    EXPECT_LT(events.indexOf(QStringLiteral("end x.xls")), events.lastIndexOf(QStringLiteral("prepare x.xls")));
    EXPECT_EQ(events.count(QStringLiteral("start x.xls")), 2);
}

TEST_F(EngineWorkersTest, TheNextEntryIsPreparedWhileEveryWorkerIsBusy)
{
    // Both workers wait in their work until the third entry has been prepared, so that a
    // worker that ends finds its next entry ready instead of waiting for it to be prepared.
    const QStringList entries = {file(QStringLiteral("a.xls")), file(QStringLiteral("b.xls")), file(QStringLiteral("c.xls"))};
    std::atomic<int> sawPrepared{0};
    const RunSummary summary = run(entries, [&](const QString &name) {
        if (name != QStringLiteral("c.xls") && m_journal.waitFor(QStringLiteral("prepare c.xls")))
            ++sawPrepared;
    });
    EXPECT_EQ(sawPrepared.load(), 2);
    EXPECT_EQ(summary.failedCount(), 0);
    EXPECT_EQ(m_journal.events().count(QStringLiteral("start c.xls")), 1);
}
