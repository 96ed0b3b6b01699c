#include "ui/UserDialogs.h"

#include "app/AppState.h"
#include "ui/dialogs/FileViewer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QSpacerItem>
#include <QUrl>

namespace gm {

void UserDialogs::inform(QWidget *parent, const QString &text)
{
    message(parent, {QMessageBox::Information, kAppTitle, text, QMessageBox::Ok, QMessageBox::Ok});
}

bool UserDialogs::askYesNo(QWidget *parent, const QString &text, bool defaultNo)
{
    const MessageRequest request{QMessageBox::Question, kAppTitle, text, QMessageBox::Yes | QMessageBox::No,
                           defaultNo ? QMessageBox::No : QMessageBox::Yes};
    return message(parent, request) == QMessageBox::Yes;
}

bool UserDialogs::askOkCancel(QWidget *parent, const QString &text)
{
    const MessageRequest request{QMessageBox::Question, kAppTitle, text, QMessageBox::Ok | QMessageBox::Cancel,
                           QMessageBox::Ok};
    return message(parent, request) == QMessageBox::Ok;
}

QString qtFileFilter(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts.at(i + 1);
        pattern.replace(u';', u' ');
        filters.append(parts.at(i) + QStringLiteral(" (") + pattern + u')');
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {

int messageBoxMinimumWidth(const QWidget &box)
{
    // Room for the title in the title bar's font, and for an icon and three window buttons.
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    return qMax(kMessageBoxMinimumWidth, title.horizontalAdvance(box.windowTitle()) + 160);
}

} // namespace

QMessageBox::StandardButton DesktopDialogs::message(QWidget *parent, const MessageRequest &request)
{
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
    // The buttons speak the language of the rest of the program.
    const std::pair<QMessageBox::StandardButton, const char16_t *> captions[] = {
            {QMessageBox::Ok, u"确定"}, {QMessageBox::Cancel, u"取消"}, {QMessageBox::Yes, u"是(&Y)"},
            {QMessageBox::No, u"否(&N)"}};
    for (const auto &[which, caption] : captions) {
        if (QAbstractButton *button = box.button(which))
            button->setText(QString::fromUtf16(caption));
    }
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    if (request.buttons.testFlag(QMessageBox::Cancel))
        box.setEscapeButton(QMessageBox::Cancel);
    else if (request.buttons.testFlag(QMessageBox::No))
        box.setEscapeButton(QMessageBox::No);
    // A box sizes itself to its text; a short text would leave too little room for the
    // title beside the window buttons. A box takes no minimum width, but its layout does.
    if (auto *layout = qobject_cast<QGridLayout *>(box.layout())) {
        layout->addItem(new QSpacerItem(messageBoxMinimumWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                        layout->rowCount(), 0, 1, layout->columnCount());
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

namespace {

void prepare(QFileDialog &dialog, const FileDialogRequest &request)
{
    dialog.setWindowTitle(request.title);
    dialog.setNameFilter(qtFileFilter(request.filter));
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    if (!request.presetName.isEmpty())
        dialog.selectFile(request.presetName);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
}

} // namespace

QStringList DesktopDialogs::openFileNames(QWidget *parent, const FileDialogRequest &request)
{
    QFileDialog dialog(parent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files = dialog.selectedFiles();
    for (QString &file : files)
        file = QDir::toNativeSeparators(file);
    return files;
}

QString DesktopDialogs::openFileName(QWidget *parent, const FileDialogRequest &request)
{
    QFileDialog dialog(parent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString DesktopDialogs::saveFileName(QWidget *parent, const FileDialogRequest &request, bool confirmOverwrite)
{
    QFileDialog dialog(parent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString DesktopDialogs::browseForFolder(QWidget *parent, const QString &prompt)
{
    QString folder = QFileDialog::getExistingDirectory(parent, prompt);
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return QDir::toNativeSeparators(folder);
}

namespace {

QtMessageHandler previousHandler = nullptr;

// Qt reports a desktop without a launcher on the console; the program tells the user itself.
void dropLauncherWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg
        && (message.startsWith(QStringLiteral("Unable to detect a"))
            || message.contains(QStringLiteral("does not support QPlatformServices")))) {
        return;
    }
    previousHandler(type, context, message);
}

bool launchQuietly(const QUrl &url)
{
    previousHandler = qInstallMessageHandler(dropLauncherWarnings);
    const bool launched = QDesktopServices::openUrl(url);
    qInstallMessageHandler(previousHandler);
    return launched;
}

} // namespace

DesktopDialogs::DesktopDialogs()
    : m_launch(launchQuietly)
{
}

DesktopDialogs::DesktopDialogs(Launcher launcher)
    : m_launch(std::move(launcher))
{
}

void DesktopDialogs::openUrl(QWidget *parent, const QString &fileOrUrl)
{
    const bool isAddress =
            fileOrUrl.contains(QStringLiteral("://")) || fileOrUrl.startsWith(QStringLiteral("mailto:"));
    if (isAddress) {
        if (!m_launch(QUrl(fileOrUrl)))
            inform(parent, QStringLiteral("没有找到可以打开该地址的程序：\n") + fileOrUrl);
        return;
    }
    if (!QFileInfo(fileOrUrl).isFile()) {
        inform(parent, QStringLiteral("找不到文件：\n") + fileOrUrl);
        return;
    }
    if (m_launch(QUrl::fromLocalFile(fileOrUrl)))
        return;
    if (!FileViewer::open(fileOrUrl, parent))
        inform(parent, QStringLiteral("无法读取文件：\n") + fileOrUrl);
}

} // namespace gm
