#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Document passwords: one open or modify password set on every listed workbook, written
// into the file itself (.xlsx: the encrypted package or the file-sharing element; .xls: the
// encrypted workbook stream or the FILESHARING record).

enum class PasswordKind {
    Open, // OptPassword
    Modify, // OptWritePassowrd
};

struct PasswordInputs
{
    QStringList entries;
    PasswordKind kind = PasswordKind::Open;
    QString password; // txtPassword1
    QString confirmation; // txtPassword2
    bool makeWritable = false; // OptCLockWrite (else OptCLockSkip)
};

inline const QString kPasswordEmptyList = QStringLiteral("没有需要处理的文档！");
inline const QString kPasswordMismatch = QStringLiteral("两次输入的口令不一致，请重新输入！");
inline const QString kPasswordAction = QStringLiteral("设置口令");
inline const QString kOpenPasswordDone = QStringLiteral("访问（打开）密码设置完成！");
inline const QString kModifyPasswordDone = QStringLiteral("修改密码设置完成！");

// The mismatch of the two boxes (letter case counts, nothing trimmed), with the focus on
// txtPassword1. The window empties both boxes when it shows it.
Validation validatePasswords(const PasswordInputs &inputs);
// An empty password: the command ends without a message and without a run.
bool passwordWanted(const PasswordInputs &inputs);

// Check list, Validate (showing the message through ui), the silent stop on an empty password,
// then the run. The window calls the checks itself on the GUI thread and runPasswords on a worker.
RunSummary setPasswords(const PasswordInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runPasswords(
    const PasswordInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
