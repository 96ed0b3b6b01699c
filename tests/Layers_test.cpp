// The layers hold: the engine layer knows nothing of the application, the core knows no
// widgets, and only the LibreOffice backend sees UNO. Checked on the sources themselves, so
// that a stray include fails here rather than in review.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

const QString kSourceRoot = QDir::cleanPath(QStringLiteral(GRIDMULE_TEST_DATA "/../.."));

// "file: include" for every #include line of the folder's sources that starts with one of
// the prefixes.
QStringList includesOf(const QString &folder, const QStringList &prefixes, const QString &except = {})
{
    static const QRegularExpression include(
        QStringLiteral(R"(^\s*#\s*include\s*["<]([^">]+)[">])"), QRegularExpression::MultilineOption);
    QStringList found;
    QDirIterator it(
        kSourceRoot + u'/' + folder, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(kSourceRoot).relativeFilePath(path);
        if (!except.isEmpty() && relative.startsWith(except))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = include.globalMatch(text); match.hasNext();) {
            const QString name = match.next().captured(1);
            for (const QString &prefix : prefixes)
                if (name.startsWith(prefix))
                    found << relative + QStringLiteral(": ") + name;
        }
    }
    return found;
}

TEST(Layers, NoFolderReachesAboveItsLayer)
{
    const QStringList widgets = {QStringLiteral("ui/"), QStringLiteral("QtWidgets"), QStringLiteral("QWidget"),
        QStringLiteral("QApplication"), QStringLiteral("QMessageBox")};
    const QStringList uno = {QStringLiteral("com/sun/star/"), QStringLiteral("cppu"), QStringLiteral("rtl/"),
        QStringLiteral("osl/"), QStringLiteral("uno/")};
    struct Rule
    {
        const char *folder;
        QStringList forbidden;
        const char *except;
    };
    const Rule rules[] = {
        {"automation",
            QStringList{QStringLiteral("app/"), QStringLiteral("doclist/"), QStringLiteral("operations/"), QStringLiteral("cli/")}
                + widgets,
            ""},
        {"automation", uno, "automation/lo/"},
        {"app", widgets + uno, ""},
        {"doclist", widgets + uno, ""},
        {"operations", widgets + uno, ""},
        {"cli", widgets + uno, ""},
    };
    ASSERT_TRUE(QFile::exists(kSourceRoot + QStringLiteral("/automation/BatchFrame.cpp"))) << kSourceRoot.toStdString();
    for (const Rule &rule : rules) {
        SCOPED_TRACE(rule.folder);
        const QStringList found = includesOf(QString::fromLatin1(rule.folder), rule.forbidden, QString::fromLatin1(rule.except));
        EXPECT_TRUE(found.isEmpty()) << found.join(u'\n').toStdString();
    }
}

} // namespace
