#include "ui/dialogs/OptionsDialog.h"

#include "app/AppState.h"
#include "app/EngineJobsOption.h"
#include "app/LogOptions.h"
#include "app/StartUp.h"
#include "ui/Controls.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace gm {

using namespace controls;

OptionsDialog::OptionsDialog(AppState &state, SettingsStore &store, UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_state(state)
    , m_store(store)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(kAppTitle + QStringLiteral(" - 选项"));
    setModal(true);

    auto *frame = new QGroupBox(QStringLiteral("异常处理结果输出"), this);
    frame->setObjectName(QStringLiteral("Frame5"));
    m_log = check(QStringLiteral("ChkLog"), QStringLiteral("批量处量时如出现异常，将异常处理结果输出到以下日志："),
                  frame, state.isRecordError);
    m_logFile = edit(QStringLiteral("txtLog"), frame, state.LogFile);
    m_logFile->setMinimumWidth(360);
    auto *choose = chooser(QStringLiteral("Command3"), frame);
    auto *frameLayout = grid(frame);
    frameLayout->addWidget(m_log, 0, 0, 1, 2);
    frameLayout->addWidget(m_logFile, 1, 0);
    frameLayout->addWidget(choose, 1, 1);

    // Engine work (conversions, .xls changes, merge sources) runs on this many engines at once.
    auto *engines = new QGroupBox(QStringLiteral("并行处理"), this);
    engines->setObjectName(QStringLiteral("FrameJobs"));
    m_jobs = new QSpinBox(engines);
    m_jobs->setObjectName(QStringLiteral("SpinJobs"));
    m_jobs->setRange(1, kMaxEngineJobs);
    m_jobs->setValue(state.jobs);
    auto *enginesLayout = grid(engines);
    enginesLayout->addWidget(label(QStringLiteral("同时处理的文档数（引擎数）："), engines), 0, 0);
    enginesLayout->addWidget(m_jobs, 0, 1);

    auto *ok = button(QStringLiteral("CmdOK"), QStringLiteral("确定"), this);
    auto *cancel = button(QStringLiteral("CmdCancel"), QStringLiteral("取消"), this);
    ok->setDefault(true);
    auto *layout = grid(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setVerticalSpacing(8);
    layout->addWidget(frame, 0, 0);
    layout->addWidget(engines, 1, 0);
    auto *buttons = row();
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 2, 0);

    connect(choose, &QPushButton::clicked, this, &OptionsDialog::chooseLogFile);
    connect(ok, &QPushButton::clicked, this, &OptionsDialog::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void OptionsDialog::chooseLogFile()
{
    FileDialogRequest request;
    request.title = QStringLiteral("处理日志");
    request.filter = QStringLiteral("处理日志(*.log)|*.log");
    request.presetName = QStringLiteral("Gridmule.log");
    request.folder = programFolder();
    const QString chosen = m_dialogs.saveFileName(this, request, false);
    if (!chosen.trimmed().isEmpty())
        m_logFile->setText(chosen);
}

void OptionsDialog::confirm()
{
    confirmLogOptions(m_store, m_state, m_log->isChecked(), m_logFile->text());
    confirmEngineJobs(m_store, m_state, m_jobs->value());
    accept();
}

} // namespace gm
