#include "ui/MainWindow.h"

#include "doclist/DocumentListModel.h"
#include "doclist/FolderImport.h"
#include "doclist/RecentDocuments.h"
#include "ui/DocumentListView.h"
#include "ui/GuiUserInterface.h"
#include "ui/Icons.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/FolderDialog.h"
#include "ui/dialogs/OptionsDialog.h"
#include "ui/panels/AbstractPanel.h"
#include "ui/panels/BatchCellsPanel.h"
#include "ui/panels/BatchRenamePanel.h"
#include "ui/panels/BatchSheetPanel.h"
#include "ui/panels/ColsRowsPanel.h"
#include "ui/panels/ConvertPanel.h"
#include "ui/panels/HeaderFooterPanel.h"
#include "ui/panels/HyperLinkPanel.h"
#include "ui/panels/LockDocPanel.h"
#include "ui/panels/PrintPanel.h"
#include "ui/panels/ProtectPanel.h"
#include "ui/panels/ReplacePanel.h"
#include "ui/panels/SumPanel.h"
#include "ui/panels/UnitePanel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace gm {

namespace {

// Window lengths are given in twips: 15 twips make one pixel at 96 dots per inch.
constexpr int pixelsFromTwips(int twips)
{
    return twips / 15;
}
constexpr int kPanelAreaHeight = pixelsFromTwips(3000);
constexpr int kListToPanelGap = pixelsFromTwips(100);
constexpr int kLabelHeightChange = pixelsFromTwips(100);
// Toolbar index of the first button of the toolbar's second row (BatchSheet).
constexpr int kSecondRowFirstIndex = 16;

const QString kCLockGateHint = QStringLiteral("本功能只能在安装了Excel XP及以上版本的系统中使用");

} // namespace

struct MainWindow::ToolEntry
{
    const char16_t *key;
    Icon icon;
    ToolStyle style;
    const char16_t *label;
    const char16_t *hint;
};

MainWindow::MainWindow(AppState &state, SettingsStore &store, UserDialogs &dialogs, const PanelMemory &memory,
                       QWidget *parent)
    : QMainWindow(parent)
    , m_state(state)
    , m_store(store)
    , m_dialogs(dialogs)
    , m_documents(std::make_unique<DocumentListModel>())
    , m_recent(std::make_unique<RecentDocuments>())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowTitle);
    setWindowIcon(programIcon(Icon::Application));

    // Status bar: hints and progress on the left, the document count on the right.
    auto *status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    m_statusPanel1 = new QLabel(status);
    m_statusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_progress = new QProgressBar(status);
    m_progress->setObjectName(QStringLiteral("RunProgress"));
    m_progress->setFormat(QStringLiteral("%v / %m"));
    m_progress->setMaximumWidth(160);
    m_progress->hide();
    m_statusPanel2 = new QLabel(kWindowTitle, status);
    m_statusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    m_statusPanel2->setToolTip(kWindowTitle);
    // Stops a run (also Esc while it lasts); the status bar is never disabled by a run.
    m_cancelRun = new QPushButton(QStringLiteral("取消"), status);
    m_cancelRun->setObjectName(QStringLiteral("CmdCancelRun"));
    m_cancelRun->setToolTip(QStringLiteral("停止处理（Esc）：当前文件处理完毕或还原，其余文件不再处理"));
    m_cancelRun->setFocusPolicy(Qt::NoFocus);
    m_cancelRun->hide();
    status->addWidget(m_statusPanel1, 1);
    status->addWidget(m_progress);
    status->addWidget(m_cancelRun);
    status->addPermanentWidget(m_statusPanel2);
    setStatusBar(status);

    m_ui = new GuiUserInterface(this, dialogs, m_statusPanel1, m_progress, this);
    m_runner = new RunController(*m_ui, this);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName(QStringLiteral("CancelRunShortcut"));
    escape->setContext(Qt::WindowShortcut);
    escape->setEnabled(false);
    connect(escape, &QShortcut::activated, m_runner, &RunController::cancel);
    connect(m_cancelRun, &QPushButton::clicked, m_runner, &RunController::cancel);
    connect(m_runner, &RunController::runStarted, this, [this, escape] {
        m_cancelRun->setEnabled(true);
        m_cancelRun->show();
        escape->setEnabled(true);
    });
    connect(m_runner, &RunController::cancelling, this, [this] {
        m_cancelRun->setEnabled(false);
        m_statusPanel1->setText(QStringLiteral("正在取消……"));
    });
    connect(m_runner, &RunController::runFinished, this, [this, escape] {
        m_cancelRun->hide();
        escape->setEnabled(false);
    });
    m_context = std::make_unique<PanelContext>(PanelContext{state, *m_documents, dialogs, *m_ui, *m_runner});

    buildToolbar();
    buildMenus();

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("CentralArea"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kListToPanelGap);
    m_list = new DocumentListView(central);
    m_list->setModel(m_documents.get());
    m_list->viewport()->setMouseTracking(true);
    m_panelArea = new QStackedWidget(central);
    m_panelArea->setObjectName(QStringLiteral("PanelArea"));
    m_panelArea->setFixedHeight(kPanelAreaHeight);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_panelArea);
    setCentralWidget(central);

    connect(m_list, &DocumentListView::deletePressed, this, &MainWindow::RemoveDocument);
    connect(m_list, &DocumentListView::mouseMoved, this, [this] { setHint(QString()); });
    connect(m_list, &DocumentListView::filesDropped, this, [this](const QStringList &paths) {
        m_documents->appendDropped(paths, m_state.XlsxAvailable);
        ShowDocumentCount();
    });

    buildPanels(memory);
    m_runner->setGuardedWidgets({central, m_toolbar, m_toolbarRow2, menuBar()});
    resize(980, 700);
}

MainWindow::~MainWindow() = default;

void MainWindow::openDocuments(const QStringList &paths)
{
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile())
            files.append(info.absoluteFilePath());
    }
    if (files.isEmpty())
        return;
    m_documents->appendDropped(files, m_state.XlsxAvailable);
    ShowDocumentCount();
}

void MainWindow::buildToolbar()
{
    static const ToolEntry entries[] = {
            {u"AddFile", Icon::AddFile, ToolStyle::Plain, u"添加文档", u"添加文档"},
            {u"AddFolder", Icon::AddFolder, ToolStyle::Plain, u"添加目录", u"添加目录下所有Excel文档"},
            {u"Remove", Icon::Remove, ToolStyle::DropDown, u"移除文档", u"移除文档"},
            {u"RemoveAll", Icon::RemoveAll, ToolStyle::Hidden, u"移除全部", u"移除全部文档"},
            {u"MoveUp", Icon::MoveUp, ToolStyle::Plain, u"上移", u"上移文档"},
            {u"MoveDown", Icon::MoveDown, ToolStyle::Plain, u"下移", u"下移文档"},
            {u"", Icon::AddFile, ToolStyle::Separator, u"", u""},
            {u"Convert", Icon::Convert, ToolStyle::Group, u"类型转换", u"批量类型转换"},
            {u"Header", Icon::Header, ToolStyle::Group, u"页眉页脚", u"批量自定义页眉页脚"},
            {u"BatchRename", Icon::BatchRename, ToolStyle::Group, u"文件改名", u"批量文件改名"},
            {u"Unite", Icon::Unite, ToolStyle::Group, u"文档合并", u"文档合并"},
            {u"StrReplace", Icon::StrReplace, ToolStyle::Group, u"内容替换", u"批量内容替换"},
            {u"CLock", Icon::CLock, ToolStyle::Group, u"设置口令", u"批量设置口令"},
            {u"Protect", Icon::Protect, ToolStyle::Group, u"文档保护", u"批量设置文档保护"},
            {u"HyperLink", Icon::HyperLink, ToolStyle::Group, u"取消超链接", u"批量取消超链接"},
            {u"BatchSheet", Icon::BatchSheet, ToolStyle::Group, u"工作表操作", u"批量工作表操作"},
            {u"Print", Icon::Print, ToolStyle::Group, u"打印", u"批量打印及打印选项设置"},
            {u"Share", Icon::Share, ToolStyle::Group, u"共享", u"批量设置共享工作薄"},
            {u"Cols", Icon::Cols, ToolStyle::Group, u"行列操作", u"批量行列操作"},
            {u"CELLS", Icon::Cells, ToolStyle::Group, u"单元格", u"批量单元格操作"},
            {u"Abstract", Icon::Abstract, ToolStyle::Group, u"设置摘要", u"批量设置属性摘要"},
            {u"SUM", Icon::Sum, ToolStyle::Group, u"统计", u"统计"},
            {u"Imp2Recent", Icon::Recent, ToolStyle::DropDown, u"导入“开始”菜单“文档”", u""},
            {u"", Icon::AddFile, ToolStyle::Separator, u"", u""},
    };

    const auto makeRow = [this](const QString &name) {
        auto *toolbar = new QToolBar(QStringLiteral("Toolbar1"), this);
        toolbar->setObjectName(name);
        toolbar->setMovable(false);
        toolbar->setFloatable(false);
        // No menu to hide a row by accident: the rows cannot be brought back.
        toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
        toolbar->setIconSize(QSize(24, 24));
        toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        toolbar->setMouseTracking(true);
        toolbar->installEventFilter(this);
        addToolBar(Qt::TopToolBarArea, toolbar);
        return toolbar;
    };
    m_toolbar = makeRow(QStringLiteral("Toolbar1"));
    m_toolbarRow2 = makeRow(QStringLiteral("Toolbar1Row2"));
    m_features = new QActionGroup(this);
    m_features->setExclusive(true);

    for (const ToolEntry &entry : entries) {
        QToolBar *toolbar = m_toolActions.size() + 1 < kSecondRowFirstIndex ? m_toolbar : m_toolbarRow2;
        if (entry.style == ToolStyle::Separator) {
            toolbar->addSeparator();
            m_toolActions.append(nullptr);
            continue;
        }
        const QString key = QString::fromUtf16(entry.key);
        const QString label = QString::fromUtf16(entry.label);
        const QString hint = QString::fromUtf16(entry.hint);
        auto *action = new QAction(programIcon(entry.icon), label, this);
        action->setObjectName(key);
        action->setToolTip(hint.isEmpty() ? label : hint);
        m_hints.insert(action, hint);
        m_toolActions.append(action);
        if (entry.style == ToolStyle::Group) {
            action->setCheckable(true);
            m_features->addAction(action);
        }
        connect(action, &QAction::triggered, this, [this, key] { runToolKey(key); });
        toolbar->addAction(action);

        if (entry.style == ToolStyle::Hidden) {
            // Removing all entries is reached through the Remove button's menu.
            action->setVisible(false);
        } else if (entry.style == ToolStyle::DropDown) {
            auto *menu = new QMenu(this);
            if (key == QStringLiteral("Remove")) {
                menu->addAction(programIcon(Icon::RemoveAll), QStringLiteral("移除全部文档"), this,
                                &MainWindow::RemoveAllDocuments)
                        ->setObjectName(QStringLiteral("mnuRemoveAll"));
            } else {
                menu->addAction(programIcon(Icon::Recent), QStringLiteral("导入“开始”菜单“文档”"), this,
                                &MainWindow::ImportDocuments2Recent)
                        ->setObjectName(QStringLiteral("mnuImp2Recent"));
                menu->addAction(programIcon(Icon::ClearRecent), QStringLiteral("清除“开始”菜单“文档”"), this,
                                &MainWindow::clearRecentDocuments)
                        ->setObjectName(QStringLiteral("mnuClsRecent"));
            }
            action->setMenu(menu);
            if (auto *button = qobject_cast<QToolButton *>(toolbar->widgetForAction(action)))
                button->setPopupMode(QToolButton::MenuButtonPopup);
        }
        if (QWidget *button = toolbar->widgetForAction(action))
            button->installEventFilter(this);
    }

    if (!m_state.passwordsAvailable()) {
        QAction *lock = m_toolActions.at(12);
        lock->setEnabled(false);
        lock->setToolTip(kCLockGateHint);
        m_hints.insert(lock, kCLockGateHint);
    }
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction *exit = file->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);
    exit->setObjectName(QStringLiteral("mnuExit"));

    QMenu *view = menuBar()->addMenu(QStringLiteral("查看(&V)"));
    view->setObjectName(QStringLiteral("mnuView"));
    m_buttonLabels = view->addAction(QStringLiteral("按钮标签"));
    m_buttonLabels->setObjectName(QStringLiteral("mnuBtnCaption"));
    m_buttonLabels->setCheckable(true);
    connect(m_buttonLabels, &QAction::toggled, this, &MainWindow::setButtonLabels);

    QMenu *options = menuBar()->addMenu(QStringLiteral("选项(&O)"));
    options->setObjectName(QStringLiteral("mnuOpt"));
    options->addAction(QStringLiteral("选项(&O)"), this, &MainWindow::showOptions)
            ->setObjectName(QStringLiteral("mnuOption"));

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction *helpItem = help->addAction(QStringLiteral("帮助(&H)"), this, &MainWindow::showHelp);
    helpItem->setObjectName(QStringLiteral("mnuHelp1"));
    helpItem->setShortcut(QKeySequence::HelpContents);
    helpItem->setShortcutContext(Qt::WindowShortcut);
    help->addAction(QStringLiteral("关于..."), this, &MainWindow::showAbout)->setObjectName(QStringLiteral("mnuAbout"));
}

void MainWindow::buildPanels(const PanelMemory &memory)
{
    // Shown while no feature button is pressed.
    auto *blank = new QWidget(m_panelArea);
    blank->setObjectName(QStringLiteral("NoPanel"));
    m_panelArea->addWidget(blank);

    PanelContext &context = *m_context;
    auto *replace = new ReplacePanel(context);
    m_renamePanel = new BatchRenamePanel(context);
    m_convertPanel = new ConvertPanel(context);
    auto *lock = new LockDocPanel(context);
    auto *unite = new UnitePanel(context);
    m_protectPanel = new ProtectPanel(context);
    auto *hyperlink = new HyperLinkPanel(context);
    m_sheetPanel = new BatchSheetPanel(context);
    auto *cells = new BatchCellsPanel(context);
    auto *headerFooter = new HeaderFooterPanel(context, *hyperlink);
    auto *print = new PrintPanel(context);
    auto *colsRows = new ColsRowsPanel(context);
    m_abstractPanel = new AbstractPanel(context);
    auto *sum = new SumPanel(context);

    const QList<QPair<QString, FeaturePanel *>> byKey{
            {QStringLiteral("StrReplace"), replace},     {QStringLiteral("BatchRename"), m_renamePanel},
            {QStringLiteral("Convert"), m_convertPanel}, {QStringLiteral("CLock"), lock},
            {QStringLiteral("Unite"), unite},            {QStringLiteral("Protect"), m_protectPanel},
            {QStringLiteral("HyperLink"), hyperlink},    {QStringLiteral("Share"), hyperlink},
            {QStringLiteral("BatchSheet"), m_sheetPanel}, {QStringLiteral("CELLS"), cells},
            {QStringLiteral("Header"), headerFooter},    {QStringLiteral("Print"), print},
            {QStringLiteral("Cols"), colsRows},          {QStringLiteral("Abstract"), m_abstractPanel},
            {QStringLiteral("SUM"), sum},
    };
    for (const auto &[key, panel] : byKey) {
        m_panelsByKey.insert(key, panel);
        if (m_panelArea->indexOf(panel) < 0)
            m_panelArea->addWidget(panel);
    }
    m_panelArea->setCurrentWidget(blank);

    // The remaining start-up steps that concern the window's controls, in their order.
    m_protectPanel->applyVersionGate(m_state.passwordsAvailable());
    m_renamePanel->showFirstBox();
    unifyCommandSizes();
    if (memory.hasPage())
        pressToolbarButton(memory.pageIndex);
    m_sheetPanel->applyDefaults();
    m_sheetPanel->restore(memory);
    m_abstractPanel->restore(memory);
    m_convertPanel->fillTargets(m_state.XlsxAvailable);
}

void MainWindow::unifyCommandSizes()
{
    auto *rename = m_renamePanel->findChild<QPushButton *>(QStringLiteral("CmdRename"));
    QSize size = rename->sizeHint();
    size.setWidth(qMax(size.width(), 96));
    size.setHeight(qMax(size.height(), 28));
    const QStringList names{
            QStringLiteral("CmdRename"),       QStringLiteral("CmdReplace"),     QStringLiteral("BtnConvert"),
            QStringLiteral("CmdHyperLink"),    QStringLiteral("CmdDelSheet"),    QStringLiteral("CmdRenameSheet"),
            QStringLiteral("CmdInsSheet"),     QStringLiteral("CmdSheetBackgroud"), QStringLiteral("CmdLockDoc"),
            QStringLiteral("CmdProtect"),      QStringLiteral("CmdUnite"),       QStringLiteral("CmdHeaderFooter"),
            QStringLiteral("BtnPrint"),        QStringLiteral("CmdPrintArea"),   QStringLiteral("CmdBatchColsAndRows"),
            QStringLiteral("CmdBatchCells"),   QStringLiteral("CmdBatchHideSheet"), QStringLiteral("CmdDisplaySheet"),
            QStringLiteral("CmdSetAbstract"),  QStringLiteral("CmdSum"),
    };
    for (const QString &name : names) {
        if (auto *button = m_panelArea->findChild<QPushButton *>(name))
            button->setFixedSize(size);
    }
}

void MainWindow::runToolKey(const QString &key)
{
    if (key == QStringLiteral("AddFile"))
        AddDocuments();
    else if (key == QStringLiteral("AddFolder"))
        AddFolderDocuments();
    else if (key == QStringLiteral("Remove"))
        RemoveDocument();
    else if (key == QStringLiteral("RemoveAll"))
        RemoveAllDocuments();
    else if (key == QStringLiteral("MoveUp"))
        ArrangeItem(int(ArrangeDirection::Up));
    else if (key == QStringLiteral("MoveDown"))
        ArrangeItem(int(ArrangeDirection::Down));
    else if (key == QStringLiteral("Imp2Recent"))
        ImportDocuments2Recent();
    else
        showPanelForKey(key);
}

void MainWindow::showPanelForKey(const QString &key)
{
    if (FeaturePanel *panel = m_panelsByKey.value(key))
        fraPosition(panel);
}

void MainWindow::fraPosition(QWidget *panel)
{
    m_panelArea->setCurrentWidget(panel);
}

QWidget *MainWindow::currentPanel() const
{
    QWidget *current = m_panelArea->currentWidget();
    return qobject_cast<FeaturePanel *>(current) ? current : nullptr;
}

void MainWindow::pressToolbarButton(int index)
{
    if (index < kFirstFeatureIndex || index > kLastFeatureIndex)
        return;
    QAction *action = m_toolActions.value(index - 1);
    if (!action)
        return;
    action->setChecked(true);
    showPanelForKey(action->objectName());
}

int MainWindow::pressedFeatureIndex() const
{
    for (int index = kFirstFeatureIndex; index <= kLastFeatureIndex; ++index) {
        QAction *action = m_toolActions.value(index - 1);
        if (action && action->isChecked())
            return index;
    }
    return 0;
}

void MainWindow::ShowDocumentCount()
{
    m_statusPanel2->setText(documentCountText(m_documents->count()));
}

void MainWindow::AddDocuments()
{
    FileDialogRequest request;
    request.title = QStringLiteral("新增");
    request.filter = m_state.XlsxAvailable ? QStringLiteral("Microsft Excel文件(*.xls;*.xlsx)|*.xls;*.xlsx")
                                        : QStringLiteral("Microsft Excel文件(*.xls)|*.xls");
    const QStringList chosen = m_dialogs.openFileNames(this, request);
    if (chosen.isEmpty())
        return;
    for (const QString &path : chosen)
        m_documents->appendUnique(path);
    ShowDocumentCount();
}

void MainWindow::AddFolderDocuments()
{
    FolderDialog::Choice choice;
    {
        FolderDialog dialog(m_dialogs, this);
        dialog.exec();
        choice = dialog.choice();
    }
    if (choice.folder.isEmpty())
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    importFolder(*m_documents, choice.folder, choice.includeSubfolders, m_state.XlsxAvailable, [&] {
        // Let the list be seen growing during a long scan.
        if (sinceRepaint.elapsed() > 200) {
            m_list->viewport()->repaint();
            sinceRepaint.restart();
        }
    });
    QApplication::restoreOverrideCursor();
    ShowDocumentCount();
}

void MainWindow::RemoveDocument()
{
    m_documents->removeSelected(*m_list->selectionModel());
    ShowDocumentCount();
}

void MainWindow::RemoveAllDocuments()
{
    m_documents->clear();
    ShowDocumentCount();
}

void MainWindow::ArrangeItem(int direction)
{
    m_documents->ArrangeItem(*m_list->selectionModel(), direction);
}

void MainWindow::ImportDocuments2Recent()
{
    if (m_documents->count() == 0) {
        m_dialogs.inform(this, QStringLiteral("没有需要导入“开始”菜单“文档”项中的文档！"));
        return;
    }
    if (!m_dialogs.askYesNo(this, QStringLiteral("确定要将文档批量导入“开始”菜单“文档”项中吗？")))
        return;
    m_recent->add(m_documents->entries());
    m_dialogs.inform(this, QStringLiteral("导入完成！"));
}

void MainWindow::clearRecentDocuments()
{
    if (!m_dialogs.askYesNo(this, QStringLiteral("确定要将“开始”菜单“文档”文件夹清空吗？")))
        return;
    m_recent->clear();
    m_dialogs.inform(this, QStringLiteral("“开始”菜单“文档”文件夹清空！"));
}

void MainWindow::setButtonLabels(bool on)
{
    if (m_buttonLabels->isChecked() != on) {
        m_buttonLabels->setChecked(on); // comes back here through toggled
        return;
    }
    for (QToolBar *toolbar : {m_toolbar, m_toolbarRow2})
        toolbar->setToolButtonStyle(on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    arrangeToolbarRows();
    resize(width(), height() + (on ? kLabelHeightChange : -kLabelHeightChange));
}

void MainWindow::arrangeToolbarRows()
{
    const int needed = m_toolbar->sizeHint().width() + m_toolbarRow2->sizeHint().width();
    const bool twoRows = needed > width();
    if (twoRows == toolBarBreak(m_toolbarRow2))
        return;
    if (twoRows)
        insertToolBarBreak(m_toolbarRow2);
    else
        removeToolBarBreak(m_toolbarRow2);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    arrangeToolbarRows();
}

QWidget *MainWindow::toolButton(QAction *action) const
{
    if (QWidget *button = m_toolbar->widgetForAction(action))
        return button;
    return m_toolbarRow2->widgetForAction(action);
}

void MainWindow::showOptions()
{
    OptionsDialog dialog(m_state, m_store, m_dialogs, this);
    dialog.exec();
}

void MainWindow::showAbout()
{
    AboutDialog dialog(m_dialogs, m_state.helpFile, this);
    dialog.exec();
}

void MainWindow::showHelp()
{
    m_dialogs.openUrl(this, m_state.helpFile);
}

PanelMemory MainWindow::collectMemory() const
{
    PanelMemory memory;
    memory.pageIndex = pressedFeatureIndex();
    m_sheetPanel->collect(memory);
    m_abstractPanel->collect(memory);
    return memory;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A run cannot be cancelled: the window stays until it has ended.
    if (m_runner->isRunning()) {
        event->ignore();
        return;
    }
    collectMemory().write(m_store);
    event->accept();
}

void MainWindow::setHint(const QString &hint)
{
    if (m_runner->isRunning())
        return;
    if (m_statusPanel1->text() != hint)
        m_statusPanel1->setText(hint);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        if (watched == m_toolbar || watched == m_toolbarRow2) {
            auto *toolbar = static_cast<QToolBar *>(watched);
            if (event->type() == QEvent::MouseMove) {
                const QPoint position = static_cast<QMouseEvent *>(event)->position().toPoint();
                QAction *action = toolbar->actionAt(position);
                setHint(action ? m_hints.value(action) : QString());
            }
        } else {
            for (auto it = m_hints.cbegin(); it != m_hints.cend(); ++it) {
                if (toolButton(it.key()) == watched) {
                    setHint(it.value());
                    break;
                }
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace gm
