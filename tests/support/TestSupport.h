#pragma once

#include "automation/Engine.h"
#include "automation/UserInterface.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace gm::test {

// Records everything a run tells the user and answers questions from a script.
class ScriptedUi : public UserInterface
{
public:
    void inform(const QString &text) override { messages << text; }
    bool askYesNo(const QString &text) override;
    bool askOkCancel(const QString &text) override;
    void setStatus(const QString &text) override;
    void setBusy(bool busy) override { busyChanges << busy; }
    void openInViewer(const QString &path) override { opened << path; }

    QList<bool> yesNoAnswers; // consumed in order; No when empty
    QList<bool> okCancelAnswers; // consumed in order; Cancel when empty
    std::function<void(const QString &)> onStatus;

    QStringList messages;
    QStringList questions;
    QStringList statuses;
    QList<bool> busyChanges;
    QStringList opened;
};

// A fixture workbook of tests/data.
QString fixture(const QString &name);
// A workbook of the shared corpus, or "" when the corpus is not there.
QString corpusFile(const QString &relative);

QByteArray readAll(const QString &path);
void writeAll(const QString &path, const QByteArray &data);
// Copies a file into a folder (optionally under another name) and returns the new path.
QString copyInto(const QString &source, const QString &folder, const QString &name = {});

// The raw entries of a zip package: name -> uncompressed content.
QByteArray zipEntry(const QString &path, const QString &name);
QStringList zipEntryNames(const QString &path);
// Writes a zip package of the given entries, in that order.
void writeZip(const QString &path, const QList<std::pair<QString, QByteArray>> &entries);

// Engine processes (soffice.bin) that are children of this test process.
int engineProcessesOfThisProcess();
QList<int> engineProcessIdsOfThisProcess();
// Folders and pipe sockets of engines started by this test process (or by the process
// `owner`) that are still on disk.
QStringList engineLeftoversOfThisProcess();
QStringList engineLeftoversOf(qint64 owner);

// The position of a file format among the conversion targets (the .xlsx ones included).
int convertTargetIndex(int code);

// One run of gridmule-cli: exit status, standard output and standard error.
struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};
CliRun runCli(const QStringList &args);

} // namespace gm::test

#define GM_REQUIRE_CORPUS(var, rel)                                                                                              \
    const QString var = gm::test::corpusFile(QStringLiteral(rel));                                                               \
    if (!var.isEmpty()) {                                                                                                        \
    } else                                                                                                                       \
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"
