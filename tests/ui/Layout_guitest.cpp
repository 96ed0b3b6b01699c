#include "GuiTestSupport.h"

#include "ui/AboutDialog.h"
#include "ui/CellDialog.h"
#include "ui/FeaturePanel.h"
#include "ui/FolderDialog.h"
#include "ui/OptionsDialog.h"

#include <QStackedWidget>
#include <QTest>

namespace gm::test {
namespace {

// Every panel fits the fixed panel area: no control lies outside its panel. With
// GRIDMULE_SCREENSHOT_DIR set, the window is also saved once per panel for a look by eye.
class LayoutTest : public WindowTest
{
protected:
    // Every visible control of widget lies inside it.
    static void expectInside(QWidget *widget)
    {
        const QRect bounds = widget->rect();
        for (QWidget *child : widget->findChildren<QWidget *>()) {
            if (!child->isVisibleTo(widget) || child->isWindow())
                continue;
            const QRect placed(child->mapTo(widget, QPoint(0, 0)), child->size());
            EXPECT_TRUE(bounds.contains(placed)) << child->objectName().toStdString() << " of "
                                                 << child->metaObject()->className();
        }
    }
    static void saveShot(QWidget *widget, const QString &name)
    {
        const QString folder = qEnvironmentVariable("GRIDMULE_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            widget->grab().save(folder + u'/' + name + QStringLiteral(".png"));
    }
};

TEST_F(LayoutTest, PanelsFitTheirArea)
{
    MainWindow &window = start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *area = find<QStackedWidget>(QStringLiteral("PanelArea"));
    EXPECT_EQ(area->height(), 200);

    const QStringList keys{QStringLiteral("Convert"), QStringLiteral("Header"), QStringLiteral("BatchRename"),
                           QStringLiteral("Unite"), QStringLiteral("StrReplace"), QStringLiteral("CLock"),
                           QStringLiteral("Protect"), QStringLiteral("HyperLink"), QStringLiteral("BatchSheet"),
                           QStringLiteral("Print"), QStringLiteral("Cols"), QStringLiteral("CELLS"),
                           QStringLiteral("Abstract"), QStringLiteral("SUM")};
    for (const QString &key : keys) {
        SCOPED_TRACE(key.toStdString());
        action(key)->trigger();
        QWidget *panel = window.currentPanel();
        ASSERT_NE(panel, nullptr);
        QApplication::processEvents();
        EXPECT_LE(panel->minimumSizeHint().height(), area->height());
        EXPECT_LE(panel->minimumSizeHint().width(), area->width());
        expectInside(panel);
        saveShot(&window, QStringLiteral("panel-") + key);
    }

    action(QStringLiteral("mnuBtnCaption"))->trigger();
    QApplication::processEvents();
    saveShot(&window, QStringLiteral("window-labels"));
}

TEST_F(LayoutTest, DialogsShowAllTheirControls)
{
    MainWindow &window = start();
    FolderDialog folder(m_dialogs, &window);
    OptionsDialog options(m_state, *m_store, m_dialogs, &window);
    AboutDialog about(m_dialogs, m_state.helpFile, &window);
    CellDialog cell(m_dialogs, &window);
    for (QDialog *dialog : {static_cast<QDialog *>(&folder), static_cast<QDialog *>(&options),
                            static_cast<QDialog *>(&about), static_cast<QDialog *>(&cell)}) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        expectInside(dialog);
        saveShot(dialog, QStringLiteral("dialog-") + dialog->objectName());
        dialog->hide();
    }
}

} // namespace
} // namespace gm::test
