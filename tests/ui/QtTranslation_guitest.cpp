#include "GuiTestSupport.h"

#include "ui/QtTranslation.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTranslator>

#include <memory>

namespace gm::test {
namespace {

class QtTranslationTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { guiApp(); }
    void TearDown() override
    {
        // The other tests see Qt's texts as they were.
        if (m_translator)
            QCoreApplication::removeTranslator(m_translator);
        delete m_translator;
    }
    QTranslator *m_translator = nullptr;
};

// Qt's file dialog and the context menu of a text field speak Chinese like the window.
TEST_F(QtTranslationTest, QtDialogsAndMenusAreChinese)
{
    // An empty data folder: Qt's own translations folder is the fallback.
    const QTemporaryDir data;
    m_translator = installQtTranslation(guiApp(), data.path() + u'/');
    ASSERT_NE(m_translator, nullptr) << "Qt's translations are missing: run scripts/setup.sh";

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const std::pair<const char *, const char *> labels[] = {{"lookInLabel", "查找范围："}, {"fileTypeLabel", "文件类型："}};
    for (const auto &[name, text] : labels) {
        SCOPED_TRACE(name);
        auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(text));
    }

    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (const QAction *entry : menu->actions()) {
        if (!entry->isSeparator())
            texts.append(entry->text().section(u'\t', 0, 0));
    }
    ASSERT_FALSE(texts.isEmpty());
    for (const QString &english : {QStringLiteral("&Undo"), QStringLiteral("&Copy"), QStringLiteral("Select All")})
        EXPECT_FALSE(texts.contains(english)) << texts.join(u' ').toStdString();
    EXPECT_TRUE(texts.constLast().contains(QStringLiteral("全选"))) << texts.join(u' ').toStdString();
}

} // namespace
} // namespace gm::test
