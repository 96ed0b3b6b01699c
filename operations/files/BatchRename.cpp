#include "operations/files/BatchRename.h"

#include "automation/PathHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <optional>
#include <system_error>

namespace gm {

namespace {

const QString kForbidden = QStringLiteral("\\/:*?\"<>|");

bool holdsForbidden(const QString &text)
{
    for (QChar c : text) {
        if (kForbidden.contains(c) || c.unicode() < 0x20)
            return true;
    }
    return false;
}

// A whole number as typed (blanks around it allowed) within the given bounds.
std::optional<int> wholeNumber(const QString &text, int lowest, int highest)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

QString changeCase(const QString &text, CaseChange change)
{
    switch (change) {
    case CaseChange::Upper:
        return text.toUpper();
    case CaseChange::Lower:
        return text.toLower();
    case CaseChange::Unchanged:
        break;
    }
    return text;
}

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// The file system as the run sees it. A dry run keeps the renames it would make in memory, so
// that later entries meet the names earlier ones would have taken or freed.
class RenameFileSystem
{
public:
    explicit RenameFileSystem(bool dryRun) : m_dryRun(dryRun) { }

    bool exists(const QString &path) const
    {
        if (m_created.contains(path))
            return true;
        if (m_removed.contains(path))
            return false;
        return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    }

    // True when both paths name the same file (a case-only rename on a file system that
    // ignores letter case).
    bool sameFile(const QString &a, const QString &b) const
    {
        if (m_dryRun && (m_created.contains(a) || m_created.contains(b) || m_removed.contains(a) || m_removed.contains(b)))
            return false;
        std::error_code error;
        return std::filesystem::equivalent(nativePath(a), nativePath(b), error) && !error;
    }

    // Renames without ever replacing an existing file; an error text on failure.
    QString rename(const QString &from, const QString &to, bool caseOnly)
    {
        if (m_dryRun) {
            if (!exists(from))
                return QStringLiteral("文件不存在");
            m_removed.insert(from);
            m_created.remove(from);
            m_created.insert(to);
            m_removed.remove(to);
            return {};
        }
        if (!caseOnly) {
            QFile file(from);
            if (!file.rename(to))
                return file.errorString();
            return {};
        }
        // The target is the file itself under other letter case: go through a free name in
        // the same folder so the rename never meets an existing name.
        const QString step = GetParentPath(from) + QStringLiteral(".~gridmule-rename-")
                + QUuid::createUuid().toString(QUuid::WithoutBraces) + GetExtension(from);
        QFile file(from);
        if (!file.rename(step))
            return file.errorString();
        QFile moved(step);
        if (!moved.rename(to)) {
            const QString reason = moved.errorString();
            QFile::rename(step, from);
            return reason;
        }
        return {};
    }

private:
    bool m_dryRun;
    QSet<QString> m_created;
    QSet<QString> m_removed;
};

bool usableMainName(const QString &mainName)
{
    return !mainName.isEmpty() && mainName.trimmed() != QStringLiteral(".") && mainName.trimmed() != QStringLiteral("..")
            && !mainName.trimmed().isEmpty() && !holdsForbidden(mainName);
}

QString refusal(const QString &oldPath, const QString &message)
{
    return oldPath + QStringLiteral("\n\n") + message;
}

} // namespace

QString renamedMainName(const QString &mainName, const RenameInputs &inputs, int position, int count)
{
    switch (inputs.kind) {
    case RenameKind::Replace: {
        QString result;
        qsizetype from = 0;
        while (true) {
            const qsizetype found = mainName.indexOf(inputs.search, from, Qt::CaseInsensitive);
            if (found < 0)
                break;
            result += mainName.mid(from, found - from) + inputs.replacement;
            from = found + inputs.search.size();
            if (!inputs.replaceAll)
                break;
        }
        return result + mainName.mid(from);
    }
    case RenameKind::Insert:
        if (position > mainName.size())
            return QString();
        return mainName.left(position) + inputs.insertText + mainName.mid(position);
    case RenameKind::Delete:
        if (position >= mainName.size())
            return mainName;
        return mainName.left(position) + mainName.mid(qsizetype(position) + count);
    case RenameKind::Case:
        break;
    }
    return mainName;
}

RenameRun renameDocuments(const RenameInputs &inputs, UserInterface &ui, bool dryRun)
{
    RenameRun run;
    if (inputs.entries.isEmpty()) {
        ui.inform(kRenameEmptyList);
        return run;
    }

    int position = 0;
    int count = 0;
    switch (inputs.kind) {
    case RenameKind::Replace:
        if (holdsForbidden(inputs.replacement)) {
            ui.inform(kRenameForbiddenCharacters);
            return run;
        }
        if (inputs.search.isEmpty()) {
            ui.inform(kRenameNoSearchText);
            run.searchTextMissing = true;
            return run;
        }
        break;
    case RenameKind::Insert: {
        if (inputs.insertText.isEmpty())
            return run;
        const auto typed = wholeNumber(inputs.insertPosition, 0, 32767);
        if (!typed) {
            ui.inform(kRenameBadInsertPosition);
            return run;
        }
        position = *typed;
        break;
    }
    case RenameKind::Delete: {
        const auto typedCount = wholeNumber(inputs.deleteCount, -32768, 32767);
        if (!typedCount) {
            ui.inform(kRenameBadDeleteCount);
            return run;
        }
        if (*typedCount < 1)
            return run;
        const auto typedPosition = wholeNumber(inputs.deletePosition, 0, 32767);
        if (!typedPosition) {
            ui.inform(kRenameBadDeletePosition);
            return run;
        }
        position = *typedPosition;
        count = *typedCount;
        break;
    }
    case RenameKind::Case:
        if (inputs.mainNameCase == CaseChange::Unchanged && inputs.extensionCase == CaseChange::Unchanged)
            return run;
        break;
    }

    RenameFileSystem files(dryRun);
    const int total = int(inputs.entries.size());
    for (int row = 0; row < total; ++row) {
        RenameResult result;
        result.row = row;
        result.oldPath = inputs.entries.at(row);
        const QString &oldPath = result.oldPath;
        const QString folder = GetParentPath(oldPath);
        const QString fileName = oldPath.mid(folder.size());
        const qsizetype dot = fileName.lastIndexOf(u'.');
        const QString mainName = dot < 0 ? fileName : fileName.left(dot);
        const QString extension = dot < 0 ? QString() : fileName.mid(dot);

        QString newMainName = mainName;
        QString newExtension = extension;
        if (inputs.kind == RenameKind::Case) {
            newMainName = changeCase(mainName, inputs.mainNameCase);
            newExtension = changeCase(extension, inputs.extensionCase);
        } else {
            newMainName = renamedMainName(mainName, inputs, position, count);
            if (newMainName.isNull()) {
                result.outcome = RenameOutcome::Skipped;
                result.newPath = oldPath;
                run.files << result;
                continue;
            }
        }
        result.newPath = folder + newMainName + newExtension;
        const QString &newPath = result.newPath;

        if (newPath == oldPath
                || (inputs.kind != RenameKind::Case && newPath.compare(oldPath, Qt::CaseInsensitive) == 0)) {
            result.outcome = RenameOutcome::Unchanged;
        } else if (!usableMainName(newMainName)) {
            result.outcome = RenameOutcome::Refused;
            result.reason = refusal(oldPath, kRenameBadName);
        } else {
            // The same file under other letter case may already "exist" on a file system that
            // ignores case; any other existing file is never replaced.
            const bool caseOnly = newPath.compare(oldPath, Qt::CaseInsensitive) == 0 && files.exists(newPath)
                    && files.sameFile(oldPath, newPath);
            if (files.exists(newPath) && !caseOnly) {
                result.outcome = RenameOutcome::Refused;
                result.reason = refusal(oldPath, kRenameClash);
            } else if (const QString failure = files.rename(oldPath, newPath, caseOnly); !failure.isEmpty()) {
                result.outcome = RenameOutcome::Refused;
                result.reason = refusal(oldPath, kRenameFailed.arg(failure));
            } else {
                result.outcome = RenameOutcome::Renamed;
            }
        }
        if (result.outcome == RenameOutcome::Refused)
            ui.inform(result.reason);
        run.files << result;
    }
    run.completed = true;
    ui.inform(kRenameDone);
    return run;
}

} // namespace gm
