#include "operations/cells/ReplaceOperation.h"

#include "automation/EngineError.h"
#include "automation/Notation.h"
#include "operations/Checks.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace gm {

namespace {

constexpr qint64 kLastVisitedColumn = 1000;
constexpr int kEmptyCellsEndingARow = 100;

QString withoutLineBreaks(QString text)
{
    // Most texts have none: looking is cheaper than removing.
    if (!std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; }))
        return text;
    text.remove(u'\n');
    text.remove(u'\r');
    return text;
}

bool onlyLineBreaks(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
}

// Whether no other UTF-16 unit folds to the same as `c`, so that a case-blind match holds `c`
// itself. Characters beyond the basic plane fold within their own planes, as surrogate
// pairs, which never compare equal to a unit outside the surrogates.
bool foldsAlone(QChar c)
{
    static const std::vector<unsigned char> sharers = [] {
        std::vector<unsigned char> counts(0x10000);
        for (char32_t u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u < 0xE000)
                continue;
            unsigned char &count = counts[QChar::toCaseFolded(u)];
            count = count < 2 ? count + 1 : 2;
        }
        return counts;
    }();
    return !c.isSurrogate() && sharers[QChar::toCaseFolded(char32_t(c.unicode()))] == 1;
}

// A character that every text matching `find` holds as written, when there is one: a
// cheap search for it passes most cells over.
std::optional<QChar> anchorOf(const QString &find, Qt::CaseSensitivity sensitivity)
{
    for (QChar c : find) {
        if (!c.isSurrogate() && (sensitivity == Qt::CaseSensitive || foldsAlone(c)))
            return c;
    }
    return std::nullopt;
}

Qt::CaseSensitivity sensitivityOf(const ReplaceInputs &inputs)
{
    return inputs.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

// The text looked for, as cells are compared with it.
QString findText(const ReplaceInputs &inputs)
{
    return inputs.ignoreLineBreaks ? withoutLineBreaks(inputs.find) : inputs.find;
}

// A column limit as a whole number: letters become their column number, digits stay.
std::optional<int> columnLimit(const QString &text)
{
    return toInteger16(NormalizeColumnRef(text.trimmed().toUpper()));
}

} // namespace

Validation validateReplace(const ReplaceInputs &inputs)
{
    if (inputs.find.isEmpty())
        return ValidationFailure{kReplaceNoText, QStringLiteral("txtStr1")};
    if (inputs.limitColumns) {
        if (inputs.columnFrom.trimmed().isEmpty())
            return ValidationFailure{kReplaceBadColumns, QStringLiteral("cmbReplaceScopeC1")};
        if (inputs.columnTo.trimmed().isEmpty())
            return ValidationFailure{kReplaceBadColumns, QStringLiteral("cmbReplaceScopeC2")};
        if (!columnLimit(inputs.columnFrom))
            return ValidationFailure{kReplaceBadColumns, QStringLiteral("cmbReplaceScopeC1")};
        if (!columnLimit(inputs.columnTo))
            return ValidationFailure{kReplaceBadColumns, QStringLiteral("cmbReplaceScopeC2")};
    }
    if (inputs.limitRows) {
        if (!IsInteger(inputs.rowFrom))
            return ValidationFailure{kReplaceBadRows, QStringLiteral("txtReplaceScopeR1")};
        if (!IsInteger(inputs.rowTo))
            return ValidationFailure{kReplaceBadRows, QStringLiteral("txtReplaceScopeR2")};
    }
    return std::nullopt;
}

std::optional<CellBounds> replaceScope(const ReplaceInputs &inputs, const CellBounds &used)
{
    CellBounds scope = used;
    scope.lastColumn = std::min(scope.lastColumn, kLastVisitedColumn);
    if (inputs.limitColumns) {
        const int a = columnLimit(inputs.columnFrom).value_or(0);
        const int b = columnLimit(inputs.columnTo).value_or(0);
        scope.firstColumn = std::max<qint64>(scope.firstColumn, std::min(a, b));
        scope.lastColumn = std::min<qint64>(scope.lastColumn, std::max(a, b));
    }
    if (inputs.limitRows) {
        const int a = toInteger16(inputs.rowFrom).value_or(0);
        const int b = toInteger16(inputs.rowTo).value_or(0);
        scope.firstRow = std::max<qint64>(scope.firstRow, std::min(a, b));
        scope.lastRow = std::min<qint64>(scope.lastRow, std::max(a, b));
    }
    if (scope.firstRow > scope.lastRow || scope.firstColumn > scope.lastColumn)
        return std::nullopt;
    return scope;
}

std::vector<Worksheet::CellWrite> replacementsFor(
    const ReplaceInputs &inputs, const CellBounds &bounds, const std::vector<QString> &texts)
{
    const Qt::CaseSensitivity sensitivity = sensitivityOf(inputs);
    const QString find = findText(inputs);
    const std::optional<QChar> anchor = anchorOf(find, sensitivity);
    std::vector<Worksheet::CellWrite> writes;
    const qint64 columns = bounds.columnCount();
    for (qint64 row = 0; row < bounds.rowCount(); ++row) {
        int empty = 0;
        for (qint64 column = 0; column < columns; ++column) {
            const QString &shown = texts[size_t(row * columns + column)];
            if (anchor && !shown.contains(*anchor, Qt::CaseSensitive)) {
                const bool blank = shown.isEmpty() || (inputs.ignoreLineBreaks && onlyLineBreaks(shown));
                empty = blank ? empty + 1 : 0;
                if (empty > kEmptyCellsEndingARow)
                    break;
                continue;
            }
            const QString text = inputs.ignoreLineBreaks ? withoutLineBreaks(shown) : shown;
            empty = text.isEmpty() ? empty + 1 : 0;
            if (empty > kEmptyCellsEndingARow)
                break;
            // Letters fold one to one, so a text of another length (or a shorter one) cannot
            // match: most cells are passed over without comparing them.
            if (inputs.contains ? text.size() < find.size() : text.size() != find.size())
                continue;
            const qint64 r = bounds.firstRow + row;
            const qint64 c = bounds.firstColumn + column;
            if (!inputs.contains) {
                if (text.compare(find, sensitivity) == 0)
                    writes.push_back({r, c, inputs.replacement});
            } else if (!find.isEmpty() && text.contains(find, sensitivity)) {
                writes.push_back({r, c, QString(text).replace(find, inputs.replacement, sensitivity)});
            }
        }
    }
    return writes;
}

RunSummary replaceContent(const ReplaceInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kReplaceEmptyList, [&] { return validateReplace(inputs); }, failed))
        return stoppedRun();
    return runReplaceContent(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runReplaceContent(
    const ReplaceInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    operation.options.actionName = kReplaceAction;
    operation.options.emptyListMessage = kReplaceEmptyList;
    operation.options.completionMessage = kReplaceDone;
    operation.options.testExistence = true;
    operation.options.readOnly = ReadOnlyPolicy::MakeWritable;
    // An .xls is changed in its records where the replacements allow, else by the engine, and
    // checked cell by cell before it replaces the original.
    operation.options.use = WorkbookUse::CellValues;
    operation.options.saveMode = SaveMode::CloseSaving;
    // The change asks nothing and keeps nothing between files: several engines may work at once.
    operation.changeOnWorkers = true;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            std::unique_ptr<Worksheet> sheet = workbook.worksheet(position);
            try {
                const std::optional<CellBounds> used = sheet->usedRange();
                const std::optional<CellBounds> scope = used ? replaceScope(inputs, *used) : std::nullopt;
                if (!scope)
                    continue;
                // Cells that cannot match need not be rendered: only texts holding the anchor
                // are compared.
                const std::optional<QChar> anchor = anchorOf(findText(inputs), sensitivityOf(inputs));
                const std::vector<QString> texts = anchor ? sheet->displayedTextsSeeking(*scope, *anchor) : sheet->displayedTexts(*scope);
                const std::vector<Worksheet::CellWrite> writes = replacementsFor(inputs, *scope, texts);
                if (!writes.empty())
                    sheet->setCellValues(writes);
            } catch (const EngineError &e) {
                // A backend that cannot read or write cells leaves the file as it was.
                if (e.code() == ErrorCode::NotSupported || e.code() == ErrorCode::XlsCellsNeedEngine)
                    throw;
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
