#include "GuiTestSupport.h"

#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/CellDialog.h"
#include "ui/dialogs/FolderDialog.h"
#include "ui/dialogs/OptionsDialog.h"
#include "ui/panels/FeaturePanel.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <climits>

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
    void resizeTo(int width)
    {
        m_window->resize(width, m_window->height());
        QApplication::processEvents();
    }
    static QRect placed(QWidget *child, QWidget *within)
    {
        return QRect(child->mapTo(within, QPoint(0, 0)), child->size());
    }
    // Every toolbar button of the window is shown whole inside it; none waits behind "»".
    void expectAllToolButtonsShown()
    {
        for (QToolBar *toolbar : m_window->findChildren<QToolBar *>()) {
            if (auto *more = toolbar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
                EXPECT_FALSE(more->isVisible()) << toolbar->objectName().toStdString();
            }
        }
        for (const char *key : {"AddFile", "AddFolder", "Remove", "MoveUp", "MoveDown", "Convert", "Header",
                                "BatchRename", "Unite", "StrReplace", "CLock", "Protect", "HyperLink", "BatchSheet",
                                "Print", "Share", "Cols", "CELLS", "Abstract", "SUM", "Imp2Recent"}) {
            SCOPED_TRACE(key);
            QWidget *button = m_window->toolButton(action(QString::fromLatin1(key)));
            ASSERT_NE(button, nullptr);
            EXPECT_TRUE(button->isVisible());
            EXPECT_TRUE(m_window->rect().contains(placed(button, m_window.get())));
        }
    }
    int rowTop(const char *toolbar) const { return find<QToolBar>(QString::fromLatin1(toolbar))->y(); }

    // For every shown label that introduces a field (its text ends in "："), the distance from
    // the end of its text to the nearest field right of it on the same line.
    static QMap<QString, int> labelGaps(QWidget *panel)
    {
        QList<QWidget *> fields;
        for (QWidget *child : panel->findChildren<QWidget *>()) {
            const bool field = qobject_cast<QComboBox *>(child) || qobject_cast<QAbstractSpinBox *>(child)
                    || qobject_cast<QAbstractItemView *>(child)
                    || (qobject_cast<QLineEdit *>(child) && !qobject_cast<QComboBox *>(child->parentWidget())
                        && !qobject_cast<QAbstractSpinBox *>(child->parentWidget()));
            if (field && child->isVisibleTo(panel))
                fields.append(child);
        }
        QMap<QString, int> gaps;
        for (QLabel *label : panel->findChildren<QLabel *>()) {
            if (!label->isVisibleTo(panel) || !label->text().endsWith(u'：'))
                continue;
            const QRect at = placed(label, panel);
            const int textEnd = at.left() + label->fontMetrics().horizontalAdvance(label->text());
            int nearest = INT_MAX;
            for (QWidget *field : std::as_const(fields)) {
                const QRect fieldAt = placed(field, panel);
                if (fieldAt.left() >= textEnd && qAbs(fieldAt.center().y() - at.center().y()) <= at.height() / 2 + 4)
                    nearest = qMin(nearest, fieldAt.left() - textEnd);
            }
            if (nearest != INT_MAX)
                gaps.insert(label->text(), nearest);
        }
        return gaps;
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

// With button labels on, every toolbar button fits the 980-pixel window (on two rows); a
// window wide enough takes them on one row, as it does without labels.
TEST_F(LayoutTest, ToolbarButtonsAllFit)
{
    MainWindow &window = start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    resizeTo(980);
    {
        SCOPED_TRACE("icons only");
        expectAllToolButtonsShown();
        EXPECT_EQ(rowTop("Toolbar1Row2"), rowTop("Toolbar1"));
    }

    action(QStringLiteral("mnuBtnCaption"))->trigger();
    QApplication::processEvents();
    {
        SCOPED_TRACE("labels at 980");
        EXPECT_EQ(window.width(), 980);
        expectAllToolButtonsShown();
        EXPECT_GT(rowTop("Toolbar1Row2"), rowTop("Toolbar1"));
        // The document list starts below the second row.
        EXPECT_GE(find<QWidget>(QStringLiteral("LstFile"))->mapTo(&window, QPoint(0, 0)).y(),
                  rowTop("Toolbar1Row2") + find<QToolBar>(QStringLiteral("Toolbar1Row2"))->height());
        saveShot(&window, QStringLiteral("toolbar-labels-980"));
    }
    resizeTo(1900);
    {
        SCOPED_TRACE("labels at 1900");
        expectAllToolButtonsShown();
        EXPECT_EQ(rowTop("Toolbar1Row2"), rowTop("Toolbar1"));
    }
    action(QStringLiteral("mnuBtnCaption"))->trigger();
    resizeTo(980);
    expectAllToolButtonsShown();
    EXPECT_EQ(rowTop("Toolbar1Row2"), rowTop("Toolbar1"));
}

// A field stays beside the label that introduces it when the window grows.
TEST_F(LayoutTest, FieldsStayBesideTheirLabels)
{
    MainWindow &window = start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    struct View
    {
        const char *key;
        const char *option; // an option button that brings a sub-panel into view, or null
    };
    const View views[] = {
            {"Convert", nullptr},      {"Header", nullptr},   {"BatchRename", "Option1"},
            {"BatchRename", "Option3"}, {"BatchRename", "Option2"}, {"Unite", nullptr},
            {"StrReplace", nullptr},   {"CLock", nullptr},    {"Protect", nullptr},
            {"HyperLink", nullptr},    {"Print", nullptr},    {"Cols", nullptr},
            {"CELLS", nullptr},        {"Abstract", nullptr}, {"SUM", nullptr},
            {"BatchSheet", "OptDelSheet"},        {"BatchSheet", "OptInsertSheet"},
            {"BatchSheet", "OptSheetRename"},     {"BatchSheet", "OptSheetBackground"},
            {"BatchSheet", "OptBatchHideSheet"},  {"BatchSheet", "OptSheetShow"},
    };
    int compared = 0;
    for (const View &view : views) {
        SCOPED_TRACE(std::string(view.key) + " " + (view.option ? view.option : ""));
        action(QString::fromLatin1(view.key))->trigger();
        if (view.option) {
            auto *option = find<QRadioButton>(QString::fromLatin1(view.option));
            ASSERT_NE(option, nullptr);
            option->click();
        }
        QWidget *panel = window.currentPanel();
        ASSERT_NE(panel, nullptr);
        resizeTo(980);
        const QMap<QString, int> narrow = labelGaps(panel);
        resizeTo(1900);
        const QMap<QString, int> wide = labelGaps(panel);
        saveShot(&window, QStringLiteral("wide-") + QString::fromLatin1(view.key)
                                  + (view.option ? QString::fromLatin1(view.option) : QString()));
        for (auto it = narrow.cbegin(); it != narrow.cend(); ++it) {
            SCOPED_TRACE(it.key().toStdString());
            ASSERT_TRUE(wide.contains(it.key()));
            EXPECT_LE(wide.value(it.key()) - it.value(), 4) << "narrow " << it.value() << ", wide " << wide.value(it.key());
            ++compared;
        }
    }
    EXPECT_GT(compared, 12);
}

// Permissions are marked with check boxes; a click anywhere on one flips it once.
TEST_F(LayoutTest, PermissionsAreCheckBoxes)
{
    MainWindow &window = start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    action(QStringLiteral("Protect"))->trigger();
    QApplication::processEvents();
    auto *list = find<QListWidget>(QStringLiteral("List1"));
    ASSERT_EQ(list->count(), 11);
    for (int i = 0; i < list->count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(list->item(i)->flags().testFlag(Qt::ItemIsUserCheckable));
        EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked);
    }
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);

    QListWidgetItem *sort = list->item(8);
    const QRect at = list->visualItemRect(sort);
    const std::pair<QPoint, const char *> clicks[] = {{QPoint(at.left() + 8, at.center().y()), "on the box"},
                                                      {at.center(), "on the text"}};
    for (const auto &[point, where] : clicks) {
        SCOPED_TRACE(where);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
        EXPECT_EQ(sort->checkState(), Qt::Checked);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
        EXPECT_EQ(sort->checkState(), Qt::Unchecked);
    }
    saveShot(&window, QStringLiteral("protect-permissions"));
}

// The smallest message boxes still show their whole title.
TEST_F(LayoutTest, SmallMessageBoxesKeepTheirTitle)
{
    guiApp();
    DesktopDialogs dialogs;
    for (const QString &text : {QStringLiteral("导入完成！"), QStringLiteral("是")}) {
        SCOPED_TRACE(text.toStdString());
        int width = 0;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            width = box->width();
            saveShot(box, QStringLiteral("message-box"));
            box->done(QMessageBox::Ok);
        });
        dialogs.inform(nullptr, text);
        EXPECT_GE(width, kMessageBoxMinimumWidth);
    }
}

} // namespace
} // namespace gm::test
