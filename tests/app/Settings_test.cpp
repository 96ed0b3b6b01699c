#include "app/AppState.h"
#include "app/EngineJobsOption.h"
#include "app/LogOptions.h"
#include "app/PanelMemory.h"
#include "app/SettingsStore.h"
#include "app/StartUp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm {
namespace {

TEST(SettingsStore, WholeNumberConversions)
{
    const std::pair<const char *, std::optional<int>> cases[] = {
            {"11", 11}, {" 7 ", 7}, {"-3", -3}, {"32767", 32767}, {"-32768", -32768},
            {"2.5", 2}, {"3.5", 4}, {"0.4", 0},                  // halves to the even number
            {"32768", std::nullopt}, {"-32769", std::nullopt}, {"", std::nullopt},
            {"abc", std::nullopt}, {"7x", std::nullopt}, {"   ", std::nullopt},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SettingsStore::toInt16(QString::fromLatin1(text)), expected);
    }
    EXPECT_EQ(SettingsStore::toInt32(QStringLiteral("511")), 511);
    EXPECT_EQ(SettingsStore::toInt32(QStringLiteral("40000")), 40000);
    EXPECT_EQ(SettingsStore::toInt32(QStringLiteral("2147483648")), std::nullopt);
}

TEST(SettingsStore, BooleanConversions)
{
    const std::pair<const char *, std::optional<bool>> cases[] = {
            {"True", true}, {"False", false}, {"true", true}, {" FALSE ", false},
            {"1", true},    {"-1", true},     {"0", false},   {"yes", std::nullopt}, {"", std::nullopt},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SettingsStore::toBool(QString::fromLatin1(text)), expected);
    }
    EXPECT_EQ(SettingsStore::fromBool(true), QStringLiteral("True"));
    EXPECT_EQ(SettingsStore::fromBool(false), QStringLiteral("False"));
}

class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    QString iniPath() const { return m_temp.filePath(QStringLiteral("Gridmule.conf")); }
    // Writes raw text values, as another program or an older version might have left them.
    void seed(const QList<QPair<QString, QString>> &values)
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        for (const auto &[key, value] : values)
            raw.setValue(key, value);
    }
    QString raw(const QString &key) const
    {
        QSettings settings(iniPath(), QSettings::IniFormat);
        return settings.value(key, QStringLiteral("<missing>")).toString();
    }

    QTemporaryDir m_temp;
};

TEST_F(SettingsFileTest, DefaultsWhenNothingIsStored)
{
    SettingsStore store(iniPath());
    PanelMemory memory;
    memory.readPage(store);
    memory.readInputs(store);
    EXPECT_EQ(memory.pageIndex, 11);
    EXPECT_EQ(memory.sheetOperation(), SheetOperation::Delete);
    EXPECT_EQ(memory.optBatchRenameSheet, 1);
    EXPECT_EQ(memory.abstractMask, 0);
    EXPECT_TRUE(memory.activeSheetName.isEmpty());
    for (const QString &text : memory.properties)
        EXPECT_TRUE(text.isEmpty());
}

TEST_F(SettingsFileTest, UnconvertibleValuesLeaveTheVariable)
{
    seed({{QStringLiteral("Page/PageIndex"), QStringLiteral("abc")},
          {QStringLiteral("BatchSheetOP/OpIndex"), QStringLiteral("zwei")},
          {QStringLiteral("BatchSheetOP/OptBatchRenameSheet"), QStringLiteral("?")},
          {QStringLiteral("Param/Abstract"), QStringLiteral("viele")},
          {QStringLiteral("Option/isRecordError"), QStringLiteral("vielleicht")}});
    SettingsStore store(iniPath());
    PanelMemory memory;
    memory.opIndex = 4;
    memory.optBatchRenameSheet = 0;
    memory.abstractMask = 6;
    memory.readPage(store);
    memory.readInputs(store);
    EXPECT_EQ(memory.pageIndex, 0);
    EXPECT_FALSE(memory.hasPage());
    EXPECT_EQ(memory.opIndex, 4);
    EXPECT_EQ(memory.optBatchRenameSheet, 0);
    EXPECT_EQ(memory.abstractMask, 6);

    AppState state;
    state.isRecordError = true;
    readLogOptions(store, state, QStringLiteral("/nowhere/Gridmule.log"));
    EXPECT_TRUE(state.isRecordError);
}

TEST_F(SettingsFileTest, EngineCountIsReadWithinItsRangeAndSaved)
{
    // Nothing usable stored: one engine per processor.
    const std::pair<const char *, int> cases[] = {
            {"3", 3}, {"1", 1}, {"32", 32}, {"0", defaultEngineJobs()}, {"-2", defaultEngineJobs()},
            {"33", defaultEngineJobs()}, {"viele", defaultEngineJobs()}, {"", defaultEngineJobs()},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        seed({{QStringLiteral("Option/Jobs"), QString::fromLatin1(text)}});
        SettingsStore store(iniPath());
        AppState state;
        state.jobs = 7;
        readEngineJobs(store, state);
        EXPECT_EQ(state.jobs, expected);
    }
    SettingsStore store(iniPath());
    AppState state;
    confirmEngineJobs(store, state, 99);
    EXPECT_EQ(state.jobs, kMaxEngineJobs);
    confirmEngineJobs(store, state, 2);
    EXPECT_EQ(state.runSettings().jobs, 2);
    AppState reread;
    readEngineJobs(SettingsStore(iniPath()), reread);
    EXPECT_EQ(reread.jobs, 2);
}

TEST_F(SettingsFileTest, SheetOperationCoding)
{
    const std::pair<const char *, SheetOperation> cases[] = {
            {"0", SheetOperation::Delete}, {"1", SheetOperation::Insert},     {"2", SheetOperation::Rename},
            {"3", SheetOperation::Background}, {"4", SheetOperation::Hide}, {"5", SheetOperation::Unhide},
            {"6", SheetOperation::Delete}, {"9", SheetOperation::Delete},     {"-1", SheetOperation::Delete},
    };
    for (const auto &[stored, expected] : cases) {
        SCOPED_TRACE(stored);
        seed({{QStringLiteral("BatchSheetOP/OpIndex"), QString::fromLatin1(stored)}});
        SettingsStore store(iniPath());
        PanelMemory memory;
        memory.readInputs(store);
        EXPECT_EQ(memory.sheetOperation(), expected);
    }
}

TEST_F(SettingsFileTest, ExitWritesEveryValueAsText)
{
    PanelMemory memory;
    memory.pageIndex = 18;
    memory.activeSheetName = QStringLiteral("汇总");
    memory.sheetOldName = QStringLiteral("Sheet");
    memory.sheetNewName = QStringLiteral("表");
    memory.opIndex = PanelMemory::opIndexOf(SheetOperation::Hide);
    memory.optBatchRenameSheet = 0;
    memory.properties[2] = QStringLiteral("张三");
    memory.properties[8] = QStringLiteral("http://example.org/");
    memory.abstractMask = propertyMask({true, false, true, false, false, false, false, false, true});
    {
        SettingsStore store(iniPath());
        memory.write(store);
    }
    EXPECT_EQ(raw(QStringLiteral("Page/PageIndex")), QStringLiteral("18"));
    EXPECT_EQ(raw(QStringLiteral("BatchSheetOP/OpIndex")), QStringLiteral("4"));
    EXPECT_EQ(raw(QStringLiteral("BatchSheetOP/OptBatchRenameSheet")), QStringLiteral("0"));
    EXPECT_EQ(raw(QStringLiteral("Param/Abstract")), QStringLiteral("261"));
    EXPECT_EQ(raw(QStringLiteral("Param/txtProperty2")), QStringLiteral("张三"));
    EXPECT_EQ(raw(QStringLiteral("Param/txtProperty0")), QString());

    SettingsStore store(iniPath());
    PanelMemory back;
    back.readPage(store);
    back.readInputs(store);
    EXPECT_EQ(back.pageIndex, 18);
    EXPECT_EQ(back.activeSheetName, memory.activeSheetName);
    EXPECT_EQ(back.sheetNewName, memory.sheetNewName);
    EXPECT_EQ(back.sheetOperation(), SheetOperation::Hide);
    EXPECT_EQ(back.optBatchRenameSheet, 0);
    EXPECT_EQ(back.properties, memory.properties);
    for (int i = 0; i < kPropertyCount; ++i)
        EXPECT_EQ(back.propertyChecked(i), i == 0 || i == 2 || i == 8) << i;
}

TEST_F(SettingsFileTest, PageIsNotWrittenWhenNoFeatureIsPressed)
{
    seed({{QStringLiteral("Page/PageIndex"), QStringLiteral("abc")}});
    PanelMemory memory;
    memory.pageIndex = 0;
    SettingsStore store(iniPath());
    memory.write(store);
    EXPECT_EQ(raw(QStringLiteral("Page/PageIndex")), QStringLiteral("abc"));
}

TEST_F(SettingsFileTest, LogPathMustExist)
{
    const QString fallback = m_temp.filePath(QStringLiteral("program/Gridmule.log"));
    const QString existing = m_temp.filePath(QStringLiteral("runs.log"));
    QFile(existing).open(QIODevice::WriteOnly);
    const std::pair<QString, QString> cases[] = {
            {QString(), fallback},
            {QStringLiteral("   "), fallback},
            {m_temp.filePath(QStringLiteral("gone.log")), fallback},
            {existing, existing},
            {m_temp.path(), m_temp.path()}, // a folder counts as existing
    };
    for (const auto &[stored, expected] : cases) {
        SCOPED_TRACE(stored.toStdString());
        EXPECT_EQ(usableLogFile(stored, fallback), expected);
    }
}

TEST_F(SettingsFileTest, ConfirmingOptions)
{
    SettingsStore store(iniPath());
    AppState state;
    state.LogFile = QStringLiteral("/var/log/old.log");

    // A blank path keeps the previous one; logging follows the check box.
    confirmLogOptions(store, state, true, QStringLiteral("  "));
    EXPECT_TRUE(state.isRecordError);
    EXPECT_EQ(state.LogFile, QStringLiteral("/var/log/old.log"));
    store.sync();
    EXPECT_EQ(raw(QStringLiteral("Option/isRecordError")), QStringLiteral("True"));
    EXPECT_EQ(raw(QStringLiteral("Option/LogFile")), QStringLiteral("/var/log/old.log"));

    // Any other path is taken as typed, blanks included.
    confirmLogOptions(store, state, false, QStringLiteral(" /tmp/new.log"));
    EXPECT_FALSE(state.isRecordError);
    EXPECT_EQ(state.LogFile, QStringLiteral(" /tmp/new.log"));
    store.sync();
    EXPECT_EQ(raw(QStringLiteral("Option/isRecordError")), QStringLiteral("False"));
}

TEST_F(SettingsFileTest, StartUpWithoutEngineReadsNothing)
{
    seed({{QStringLiteral("Option/isRecordError"), QStringLiteral("True")}});
    SettingsStore store(iniPath());
    bool probed = false;
    const StartUpResult result = startUp(store, [&] {
        probed = true;
        return std::optional<EngineInfo>();
    }, m_temp.path());
    EXPECT_TRUE(probed);
    EXPECT_FALSE(result.engineFound);
    EXPECT_FALSE(result.state.isRecordError);
}

TEST_F(SettingsFileTest, StartUpGatesFollowTheEngine)
{
    const QString existingLog = m_temp.filePath(QStringLiteral("kept.log"));
    QFile(existingLog).open(QIODevice::WriteOnly);
    seed({{QStringLiteral("Option/isRecordError"), QStringLiteral("True")},
          {QStringLiteral("Option/LogFile"), existingLog},
          {QStringLiteral("Page/PageIndex"), QStringLiteral("18")}});
    SettingsStore store(iniPath());

    struct Case
    {
        const char *name;
        EngineInfo info;
        bool xlsx;
        bool passwords;
    };
    const Case cases[] = {
            {"full engine", {QStringLiteral("LibreOffice"), QStringLiteral("7.4.7.2"), true, 1048576}, true, true},
            {"old file format only", {QStringLiteral("LibreOffice"), QStringLiteral("3.0"), false, 65536}, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const StartUpResult result = startUp(store, [&] { return std::optional<EngineInfo>(c.info); }, m_temp.path());
        ASSERT_TRUE(result.engineFound);
        EXPECT_EQ(result.state.XlsxAvailable, c.xlsx);
        EXPECT_EQ(result.state.passwordsAvailable(), c.passwords);
        EXPECT_TRUE(result.state.isRecordError);
        EXPECT_EQ(result.state.LogFile, existingLog);
        EXPECT_EQ(result.state.helpFile, m_temp.path() + QStringLiteral("/Gridmule.html"));
        EXPECT_EQ(result.memory.pageIndex, 18);
    }
}

TEST_F(SettingsFileTest, StartUpReplacesAVanishedLog)
{
    qputenv("XDG_STATE_HOME", m_temp.filePath(QStringLiteral("state")).toUtf8());
    seed({{QStringLiteral("Option/LogFile"), m_temp.filePath(QStringLiteral("deleted/Gridmule.log"))}});
    SettingsStore store(iniPath());
    const StartUpResult result = startUp(
            store, [] { return std::optional<EngineInfo>(EngineInfo{{}, {}, true, 1048576}); }, m_temp.path() + u'/');
    EXPECT_EQ(result.state.LogFile, m_temp.path() + QStringLiteral("/state/gridmule/Gridmule.log"));
    EXPECT_FALSE(result.state.isRecordError);
}

TEST(LogOptions, DefaultLogLivesInTheUsersStateFolder)
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", "/home/anna");
    const std::pair<const char *, QString> cases[] = {
        {"/srv/state", QStringLiteral("/srv/state/gridmule/Gridmule.log")},
        {"/srv/state/", QStringLiteral("/srv/state/gridmule/Gridmule.log")},
        {"", QStringLiteral("/home/anna/.local/state/gridmule/Gridmule.log")},
        {"relative/state", QStringLiteral("/home/anna/.local/state/gridmule/Gridmule.log")}, // not absolute: ignored
    };
    for (const auto &[value, expected] : cases) {
        SCOPED_TRACE(value);
        qputenv("XDG_STATE_HOME", value);
        EXPECT_EQ(defaultLogFile(), expected);
    }
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(defaultLogFile(), QStringLiteral("/home/anna/.local/state/gridmule/Gridmule.log"));
    qputenv("HOME", home);
    qputenv("XDG_STATE_HOME", state);
}

TEST_F(SettingsFileTest, TheOldProgramFolderDefaultMovesToTheStateFolder)
{
    const QString stateHome = m_temp.filePath(QStringLiteral("state"));
    qputenv("XDG_STATE_HOME", stateHome.toUtf8());
    const QString newDefault = stateHome + QStringLiteral("/gridmule/Gridmule.log");
    const QString program = m_temp.filePath(QStringLiteral("program"));
    QDir().mkpath(program);
    const QString oldDefault = program + QStringLiteral("/Gridmule.log");
    const QString own = m_temp.filePath(QStringLiteral("mine.log"));
    QFile(oldDefault).open(QIODevice::WriteOnly); // both exist, so only the migration tells them apart
    QFile(own).open(QIODevice::WriteOnly);

    const std::pair<QString, QString> cases[] = {
        {oldDefault, newDefault}, {program + QStringLiteral("//Gridmule.log"), newDefault}, // the same path, spelt otherwise
        {own, own}, // the user's own choice stays
        {program, program}, // a folder counts as the user's choice
    };
    for (const auto &[stored, expected] : cases) {
        SCOPED_TRACE(stored.toStdString());
        seed({{QStringLiteral("Option/isRecordError"), QStringLiteral("True")}, {QStringLiteral("Option/LogFile"), stored}});
        SettingsStore store(iniPath());
        const StartUpResult result = startUp(
            store,
            [] {
                return std::optional<EngineInfo>(EngineInfo{{}, {}, true, 1048576});
            },
            program);
        EXPECT_EQ(result.state.LogFile, expected);
        EXPECT_TRUE(result.state.isRecordError);
        // Only the default log has its folder made when the first line is written.
        EXPECT_EQ(result.state.runSettings().createLogFolder, expected == newDefault);
    }
}


// The help page and translations are found beside the program in a build tree and in
// share/gridmule when installed; a program with neither keeps its own folder.
TEST(DataFolder, BuildTreeAndInstalledLayouts)
{
    const QTemporaryDir root;
    const QDir dir(root.path());
    auto touch = [&](const QString &relative) {
        dir.mkpath(QFileInfo(dir.filePath(relative)).path());
        QFile file(dir.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    touch(QStringLiteral("build/Gridmule.html"));
    touch(QStringLiteral("usr/share/gridmule/Gridmule.html"));
    dir.mkpath(QStringLiteral("usr/bin"));
    dir.mkpath(QStringLiteral("bare/bin"));

    EXPECT_EQ(dataFolder(dir.filePath(QStringLiteral("build"))), dir.filePath(QStringLiteral("build/")));
    EXPECT_EQ(dataFolder(dir.filePath(QStringLiteral("usr/bin/"))), dir.filePath(QStringLiteral("usr/share/gridmule/")));
    EXPECT_EQ(dataFolder(dir.filePath(QStringLiteral("bare/bin"))), dir.filePath(QStringLiteral("bare/bin/")));
}

} // namespace
} // namespace gm
