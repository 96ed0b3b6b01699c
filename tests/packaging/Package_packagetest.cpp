#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::test {
namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun run(const QString &program, const QStringList &args, const QStringList &extraEnvironment = {}, int seconds = 300)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : extraEnvironment)
        environment.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(environment);
    process.start(program, args);
    ToolRun result;
    if (!process.waitForFinished(seconds * 1000)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("timed out");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// The width of a PNG image from its header, or 0 when the file is not a PNG.
int pngWidth(const QString &path)
{
    const QByteArray bytes = readAll(path);
    if (bytes.size() < 24 || !bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + 16;
    return (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// The commands of gridmule-cli and the options of each, from its own help.
QMap<QString, QStringList> cliCommands(const QString &cli)
{
    QMap<QString, QStringList> commands;
    const ToolRun overall = run(cli, {QStringLiteral("--help")});
    const QString block = overall.out.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    for (const QString &line : block.split(u'\n', Qt::SkipEmptyParts)) {
        const QString name = line.trimmed().section(u' ', 0, 0);
        const ToolRun one = run(cli, {name, QStringLiteral("--help")});
        QStringList options;
        const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z0-9-]*"));
        for (auto it = option.globalMatch(one.out); it.hasNext();)
            options << it.next().captured();
        options.removeDuplicates();
        commands.insert(name, options);
    }
    return commands;
}

// The package that the package_build test made with cpack, unpacked into a throw-away root
// for each test.
class PackageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
            GTEST_SKIP() << "dpkg-deb is not installed";
        const QDir out(QStringLiteral(GRIDMULE_PACKAGE_DIR));
        const QStringList debs = out.entryList({QStringLiteral("*.deb")});
        ASSERT_EQ(debs.size(), 1) << "cpack made no package in " << out.path().toStdString();
        m_deb = out.filePath(debs.first());
        m_root = m_work.filePath(QStringLiteral("root"));
        const ToolRun unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
        ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err.toStdString();
    }
    QString installed(const QString &relative) const { return m_root + u'/' + relative; }

    QTemporaryDir m_work;
    QString m_deb, m_root;
};

TEST_F(PackageTest, ControlFieldsAndLintian)
{
    const ToolRun fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Package"),
                                                        QStringLiteral("Version"), QStringLiteral("Depends")});
    ASSERT_EQ(fields.exitCode, 0) << fields.err.toStdString();
    EXPECT_TRUE(fields.out.contains(QStringLiteral("Package: gridmule\n")));
    EXPECT_TRUE(fields.out.contains(QStringLiteral("Version: " GRIDMULE_VERSION)));
    // What the program needs besides its libraries: the engine and the fonts; the libraries
    // come from dpkg-shlibdeps.
    for (const char *dependency : {"libreoffice-calc-nogui", "fonts-noto-cjk", "fonts-crosextra-carlito", "libqt6core6",
                                   "libqt6widgets6", "libqt6svg6", "libzip4", "libdeflate0", "libpugixml1v5", "libgsf-1-114"}) {
        EXPECT_TRUE(fields.out.contains(QString::fromLatin1(dependency))) << dependency << "\n" << fields.out.toStdString();
    }

    if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty())
        GTEST_SKIP() << "lintian is not installed";
    const ToolRun lint = run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"), m_deb});
    EXPECT_EQ(lint.exitCode, 0) << lint.out.toStdString() << lint.err.toStdString();
}

TEST_F(PackageTest, InstalledProgramsRunAndConvert)
{
    const QString cli = installed(QStringLiteral("usr/bin/gridmule-cli"));
    // Installed programs search the engine's folder only, never the build tree.
    const ToolRun dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), cli});
    EXPECT_TRUE(dynamic.out.contains(QStringLiteral("[/usr/lib/libreoffice/program]"))) << dynamic.out.toStdString();
    const ToolRun version = run(cli, {QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("gridmule-cli " GRIDMULE_VERSION));
    const ToolRun window = run(installed(QStringLiteral("usr/bin/gridmule")), {QStringLiteral("--version")},
                           {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    EXPECT_EQ(window.exitCode, 0) << window.err.toStdString();
    EXPECT_TRUE(window.out.contains(QStringLiteral(GRIDMULE_VERSION))) << window.out.toStdString();

    // A real conversion by the installed binary, which has no search path into the build tree.
    const QString in = m_work.filePath(QStringLiteral("in"));
    QDir().mkpath(in);
    const QString source = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), in);
    const ToolRun convert = run(cli, {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"),
                                  QStringLiteral("--out"), m_work.filePath(QStringLiteral("csv")), source});
    EXPECT_EQ(convert.exitCode, 0) << convert.out.toStdString() << convert.err.toStdString();
    EXPECT_TRUE(QFile::exists(m_work.filePath(QStringLiteral("csv/sheets_second_active.csv")))) << convert.out.toStdString();
}

TEST_F(PackageTest, DesktopIntegrationFiles)
{
    // Help page and Qt's Chinese texts where the installed program looks for them.
    for (const char *file : {"usr/share/gridmule/Gridmule.html", "usr/share/gridmule/translations/qtbase_zh_CN.qm",
                             "usr/share/doc/gridmule/copyright", "usr/share/doc/gridmule/changelog.gz",
                             "usr/share/icons/hicolor/scalable/apps/org.gridmule.Gridmule.svg"}) {
        EXPECT_TRUE(QFile::exists(installed(QString::fromLatin1(file)))) << file;
    }
    for (int size : {16, 32, 48, 256}) {
        EXPECT_EQ(pngWidth(installed(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/org.gridmule.Gridmule.png").arg(size))),
                  size);
    }

    const QString desktop = installed(QStringLiteral("usr/share/applications/org.gridmule.Gridmule.desktop"));
    const QString text = QString::fromUtf8(readAll(desktop));
    // Both workbook types open with the program, which takes the files as its document list.
    EXPECT_TRUE(text.contains(QStringLiteral("application/vnd.ms-excel;")));
    EXPECT_TRUE(text.contains(QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet;")));
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=gridmule %F")));
    EXPECT_TRUE(text.contains(QStringLiteral("Name[zh_CN]=")));
    if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty()) {
        const ToolRun valid = run(QStringLiteral("desktop-file-validate"), {desktop});
        EXPECT_EQ(valid.exitCode, 0) << valid.out.toStdString() << valid.err.toStdString();
        EXPECT_TRUE(valid.out.trimmed().isEmpty()) << valid.out.toStdString();
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("appstreamcli")).isEmpty()) {
        const ToolRun valid = run(QStringLiteral("appstreamcli"),
                              {QStringLiteral("validate"), QStringLiteral("--no-net"),
                               installed(QStringLiteral("usr/share/metainfo/org.gridmule.Gridmule.metainfo.xml"))});
        EXPECT_EQ(valid.exitCode, 0) << valid.out.toStdString() << valid.err.toStdString();
    }
}

// The manual page names every command and option the program's own help has, and the
// completion offers them.
TEST_F(PackageTest, ManualPagesAndCompletionCoverEveryCommand)
{
    const QString cli = installed(QStringLiteral("usr/bin/gridmule-cli"));
    const QMap<QString, QStringList> commands = cliCommands(cli);
    ASSERT_GE(commands.size(), 9);

    const ToolRun page = run(QStringLiteral("man"), {QStringLiteral("-l"), installed(QStringLiteral("usr/share/man/man1/gridmule-cli.1.gz"))},
                         {QStringLiteral("MANWIDTH=100"), QStringLiteral("MAN_KEEP_FORMATTING=")});
    ASSERT_EQ(page.exitCode, 0) << page.err.toStdString();
    const QString text = QString(page.out).remove(QRegularExpression(QStringLiteral(".\b")));
    for (auto it = commands.cbegin(); it != commands.cend(); ++it) {
        EXPECT_TRUE(text.contains(QStringLiteral("\n   ") + it.key() + u'\n')) << it.key().toStdString();
        for (const QString &option : it.value())
            EXPECT_TRUE(text.contains(option)) << it.key().toStdString() << ' ' << option.toStdString();
    }
    EXPECT_TRUE(text.contains(QStringLiteral("EXIT STATUS")));
    EXPECT_TRUE(text.contains(QStringLiteral("EXAMPLES")));
    const ToolRun windowPage = run(QStringLiteral("man"), {QStringLiteral("-l"), installed(QStringLiteral("usr/share/man/man1/gridmule.1.gz"))});
    EXPECT_EQ(windowPage.exitCode, 0);
    EXPECT_TRUE(windowPage.out.contains(QStringLiteral("FILE"))) << windowPage.out.toStdString();

    const QString completion = installed(QStringLiteral("usr/share/bash-completion/completions/gridmule-cli"));
    auto complete = [&](const QStringList &words) {
        const QString script = QStringLiteral("source '%1'; COMP_WORDS=(%2); COMP_CWORD=%3; _gridmule_cli; echo \"${COMPREPLY[*]}\"")
                                   .arg(completion, words.join(u' '))
                                   .arg(words.size() - 1);
        return run(QStringLiteral("bash"), {QStringLiteral("-c"), script}).out.trimmed().split(u' ', Qt::SkipEmptyParts);
    };
    EXPECT_EQ(complete({QStringLiteral("gridmule-cli"), QStringLiteral("con")}), QStringList{QStringLiteral("convert")});
    EXPECT_EQ(complete({QStringLiteral("gridmule-cli"), QStringLiteral("sheets"), QStringLiteral("h")}),
              QStringList{QStringLiteral("hide")});
    EXPECT_EQ(complete({QStringLiteral("gridmule-cli"), QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("xl")}),
              (QStringList{QStringLiteral("xlsx"), QStringLiteral("xls")}));
    for (auto it = commands.cbegin(); it != commands.cend(); ++it) {
        const QStringList offered = complete({QStringLiteral("gridmule-cli"), it.key(), QStringLiteral("--")});
        ASSERT_FALSE(offered.isEmpty()) << it.key().toStdString();
        for (const QString &option : it.value())
            EXPECT_TRUE(offered.contains(option)) << it.key().toStdString() << ' ' << option.toStdString();
    }
}

} // namespace
} // namespace gm::test
