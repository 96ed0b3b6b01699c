#include "automation/xls/SaveGuard.h"

#include "automation/EngineError.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <cmath>
#include <type_traits>

namespace gm::xls {

namespace {

QStringList differencesOf(const WorkbookContent &before, const WorkbookContent &after, const ExpectedChanges &expected);

const QString kArrow = QStringLiteral(" \u2192 ");
const QLatin1String kVbaStorage("_VBA_PROJECT_CUR");
// The writer's description of the file type ("Microsoft Excel 97-Tabelle"), which every
// program that saves the file writes anew; it holds nothing of the user's.
const QString kCompObj = QStringLiteral("\001CompObj");

bool sameNumber(double a, double b)
{
    if (a == b)
        return true;
    // Results the engine calculates again may differ in the last bits of a double.
    return std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b));
}

bool sameCell(const CellContent &a, const CellContent &b)
{
    if (a.type != b.type || a.formula != b.formula)
        return false;
    switch (a.type) {
    case CellContent::Type::Blank:
        return true;
    case CellContent::Type::Number:
        return sameNumber(a.number, b.number);
    case CellContent::Type::Text:
        return a.text == b.text;
    case CellContent::Type::Boolean:
    case CellContent::Type::Error:
        return a.code == b.code;
    }
    return false;
}

QString stateText(int state)
{
    switch (state) {
    case 0:
        return QStringLiteral("visible");
    case 1:
        return QStringLiteral("hidden");
    default:
        return QStringLiteral("very hidden");
    }
}

QString scopeText(const WorkbookContent &book, int scope)
{
    if (scope == 0)
        return QStringLiteral("workbook");
    return scope <= book.sheets.size() ? book.sheets[scope - 1].name : QStringLiteral("sheet %1").arg(scope);
}

void compareCells(
    const SheetContent &before, const SheetContent &after, int position, const ExpectedChanges &expected, QStringList &out)
{
    static const CellContent blank;
    auto b = before.cells.cbegin();
    auto a = after.cells.cbegin();
    while (b != before.cells.cend() || a != after.cells.cend()) {
        quint32 key;
        const CellContent *was = &blank;
        const CellContent *now = &blank;
        if (a == after.cells.cend() || (b != before.cells.cend() && b->first < a->first)) {
            key = b->first;
            was = &(b++)->second;
        } else if (b == before.cells.cend() || a->first < b->first) {
            key = a->first;
            now = &(a++)->second;
        } else {
            key = b->first;
            was = &(b++)->second;
            now = &(a++)->second;
        }
        if (sameCell(*was, *now) || expected.allowsCell(position, key))
            continue;
        // A formula that may give another result on every calculation.
        if (was->formula && now->formula && (was->isVolatile || now->isVolatile))
            continue;
        // After deleted rows or columns a formula may read other cells than before.
        if (was->formula && now->formula && !expected.deletedLines.isEmpty())
            continue;
        out << QStringLiteral("%1!%2: %3%4%5")
                   .arg(before.name, cellName(int(key >> 16), int(key & 0xFFFF)), was->display(), kArrow, now->display());
    }
}

// Whether a name's definition refers to a sheet that lost rows or columns ("#2!", "#1:#3!").
bool refersToShiftedSheet(const QString &definition, const ExpectedChanges &expected)
{
    if (expected.deletedLines.isEmpty())
        return false;
    static const QRegularExpression sheets(QStringLiteral("#(\\d+)(?::#(\\d+))?!"));
    for (const QRegularExpressionMatch &match : sheets.globalMatch(definition)) {
        const int first = match.captured(1).toInt();
        const int last = match.hasCaptured(2) ? match.captured(2).toInt() : first;
        for (const ExpectedChanges::LineDeletion &deletion : expected.deletedLines)
            if (deletion.sheet >= first && deletion.sheet <= last)
                return true;
    }
    return false;
}

// The cells of a sheet where they stand once the lines are deleted; cells of deleted lines go.
void applyLineDeletion(CellMap &cells, const ExpectedChanges::LineDeletion &deletion)
{
    CellMap moved;
    const int end = deletion.first + deletion.count;
    for (auto &[key, cell] : cells) {
        int row = int(key >> 16), column = int(key & 0xFFFF);
        int &line = deletion.rows ? row : column;
        if (line >= deletion.first && line < end)
            continue;
        if (line >= end)
            line -= deletion.count;
        moved.emplace(cellKey(row, column), std::move(cell));
    }
    cells = std::move(moved);
}

struct NameKey
{
    QString name;
    int scope;
    bool operator<(const NameKey &other) const { return scope != other.scope ? scope < other.scope : name < other.name; }
};

QMap<NameKey, QList<const DefinedName *>> namesByKey(const WorkbookContent &book)
{
    QMap<NameKey, QList<const DefinedName *>> map;
    for (const DefinedName &name : book.names)
        map[{name.name.toCaseFolded(), name.scope}] << &name;
    return map;
}

void compareNames(const WorkbookContent &before, const WorkbookContent &after, const ExpectedChanges &expected, QStringList &out)
{
    const auto was = namesByKey(before);
    const auto now = namesByKey(after);
    auto label = [&](const DefinedName &name, const WorkbookContent &book) {
        return QStringLiteral("%1 (%2)").arg(name.name, scopeText(book, name.scope));
    };
    for (auto it = was.cbegin(); it != was.cend(); ++it) {
        const DefinedName &first = *it.value().first();
        if (expected.allowsName(first.name, first.scope))
            continue;
        const auto other = now.constFind(it.key());
        if (other == now.cend()) {
            out << QStringLiteral("name lost: ") + label(first, before);
            continue;
        }
        const QList<const DefinedName *> &mine = it.value();
        const QList<const DefinedName *> &theirs = other.value();
        if (mine.size() == theirs.size() && refersToShiftedSheet(first.definition, expected)
            && std::equal(mine.cbegin(), mine.cend(), theirs.cbegin(), [](const DefinedName *a, const DefinedName *b) {
                   return a->hidden == b->hidden && a->name == b->name;
               }))
            continue;
        bool same = mine.size() == theirs.size();
        for (qsizetype k = 0; same && k < mine.size(); ++k)
            same = mine[k]->definition == theirs[k]->definition && mine[k]->hidden == theirs[k]->hidden
                && mine[k]->name == theirs[k]->name;
        if (!same) {
            const DefinedName &then = *theirs.first();
            QString change = QStringLiteral("name changed: ") + label(first, before);
            if (first.hidden != then.hidden)
                change += first.hidden ? QStringLiteral(", no longer hidden") : QStringLiteral(", now hidden");
            if (first.name != then.name)
                change += QStringLiteral(", spelt ") + then.name;
            if (first.definition != then.definition)
                change += QStringLiteral(", refers to ") + first.definition + kArrow + then.definition;
            out << change;
        }
    }
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const DefinedName &first = *it.value().first();
        if (!was.contains(it.key()) && !expected.allowsName(first.name, first.scope))
            out << QStringLiteral("name added: ") + label(first, after);
    }
}

void compareEntries(
    const WorkbookContent &before, const WorkbookContent &after, const ExpectedChanges &expected, QStringList &out)
{
    if (before.hasVbaProject()) {
        if (!after.hasVbaProject())
            out << QStringLiteral("VBA project lost");
        else if (before.vbaDigest() != after.vbaDigest())
            out << QStringLiteral("VBA project changed");
    }
    QHash<QString, const StorageEntry *> now;
    for (const StorageEntry &entry : after.entries)
        now.insert(entry.path, &entry);
    QStringList lostStorages; // what lies inside one of them is not listed again
    for (const StorageEntry &entry : before.entries) {
        if (entry.path.compare(before.workbookStream, Qt::CaseInsensitive) == 0
            || entry.path.startsWith(kVbaStorage, Qt::CaseInsensitive))
            continue;
        if (std::any_of(lostStorages.cbegin(), lostStorages.cend(), [&](const QString &s) { return entry.path.startsWith(s); }))
            continue;
        const StorageEntry *other = now.value(entry.path);
        const QString shown
            = QString(entry.path).replace(QChar(5), QStringLiteral("\\005")).replace(QChar(1), QStringLiteral("\\001"));
        if (!other || other->isStorage != entry.isStorage) {
            out << (entry.isStorage ? QStringLiteral("storage lost: ") : QStringLiteral("stream lost: ")) + shown;
            if (entry.isStorage)
                lostStorages << entry.path + QLatin1Char('/');
        } else if (!entry.isStorage && other->digest != entry.digest && !expected.allowsStream(entry.path)
            && entry.path != kCompObj)
            out << QStringLiteral("stream changed: ") + shown;
    }
}

// The workbook and the expected changes as they read once the deleted sheets are gone: later
// sheets, name scopes and sheet references in name definitions ("#5") move down, references
// to a deleted sheet read "#REF".
void removeSheets(WorkbookContent &book, QList<int> deleted, std::function<int(int)> &moved)
{
    std::sort(deleted.begin(), deleted.end());
    moved = [deleted](int position) {
        return deleted.contains(position)
            ? -1
            : position - int(std::count_if(deleted.cbegin(), deleted.cend(), [&](int d) { return d < position; }));
    };
    for (qsizetype i = deleted.size() - 1; i >= 0; --i) {
        if (deleted[i] >= 1 && deleted[i] <= book.sheets.size())
            book.sheets.removeAt(deleted[i] - 1);
    }
    static const QRegularExpression sheetNumber(QStringLiteral("#(\\d+)"));
    QList<DefinedName> names;
    for (DefinedName name : std::as_const(book.names)) {
        if (name.scope != 0 && (name.scope = moved(name.scope)) < 0)
            continue;
        QString definition;
        qsizetype last = 0;
        for (const QRegularExpressionMatch &match : sheetNumber.globalMatch(name.definition)) {
            // Sheets of other workbooks ("[path]#3") keep their numbers.
            const qsizetype token = name.definition.lastIndexOf(u' ', match.capturedStart()) + 1;
            if (name.definition.mid(token, match.capturedStart() - token).contains(u']'))
                continue;
            const int position = moved(match.captured(1).toInt());
            definition += name.definition.mid(last, match.capturedStart() - last)
                + (position < 0 ? QStringLiteral("#REF") : QStringLiteral("#%1").arg(position));
            last = match.capturedEnd();
        }
        name.definition = definition + name.definition.mid(last);
        names.append(name);
    }
    book.names = names;
}

void withoutDeletedSheets(WorkbookContent &book, ExpectedChanges &expected)
{
    std::function<int(int)> moved;
    removeSheets(book, expected.deletedSheets, moved);
    auto movedMap = [&](const auto &map) {
        std::remove_cvref_t<decltype(map)> result;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (moved(it.key()) > 0)
                result.insert(moved(it.key()), it.value());
        }
        return result;
    };
    expected.sheetNames = movedMap(expected.sheetNames);
    expected.sheetStates = movedMap(expected.sheetStates);
    QList<ExpectedChanges::Name> expectedNames;
    for (ExpectedChanges::Name name : std::as_const(expected.names)) {
        if (name.scope == 0 || (name.scope = moved(name.scope)) > 0)
            expectedNames.append(name);
    }
    expected.names = expectedNames;
    QList<ExpectedChanges::Cells> cells;
    for (ExpectedChanges::Cells block : std::as_const(expected.cells)) {
        if ((block.sheet = moved(block.sheet)) > 0)
            cells.append(block);
    }
    expected.cells = cells;
    QSet<quint64> written;
    for (const quint64 cell : std::as_const(expected.writtenCells)) {
        if (const int sheet = moved(int(cell >> 32)); sheet > 0)
            written.insert(quint64(sheet) << 32 | (cell & 0xFFFFFFFFu));
    }
    expected.writtenCells = written;
    QList<ExpectedChanges::LineDeletion> lines;
    for (ExpectedChanges::LineDeletion deletion : std::as_const(expected.deletedLines)) {
        if ((deletion.sheet = moved(deletion.sheet)) > 0)
            lines.append(deletion);
    }
    expected.deletedLines = lines;
    expected.deletedSheets.clear();
}

} // namespace

void ExpectedChanges::addCell(int sheet, int row, int column)
{
    writtenCells.insert(quint64(sheet) << 32 | cellKey(row, column));
}

void ExpectedChanges::addName(const QString &name, int scope)
{
    if (!allowsName(name, scope))
        names << Name{name, scope};
}

bool ExpectedChanges::allowsName(const QString &name, int scope) const
{
    return std::any_of(names.cbegin(), names.cend(),
        [&](const Name &n) { return n.scope == scope && n.name.compare(name, Qt::CaseInsensitive) == 0; });
}

bool ExpectedChanges::allowsCell(int sheet, quint32 key) const
{
    if (writtenCells.contains(quint64(sheet) << 32 | key))
        return true;
    const int row = int(key >> 16), column = int(key & 0xFFFF);
    return std::any_of(cells.cbegin(), cells.cend(), [&](const Cells &c) {
        return c.sheet == sheet && row >= c.firstRow && row <= c.lastRow && column >= c.firstColumn && column <= c.lastColumn;
    });
}

bool ExpectedChanges::allowsStream(const QString &path) const
{
    return streams.contains(path, Qt::CaseInsensitive);
}

QStringList contentDifferences(const WorkbookContent &original, const WorkbookContent &after, const ExpectedChanges &changes)
{
    if (!changes.deletedSheets.isEmpty()) {
        WorkbookContent before = original;
        ExpectedChanges expected = changes;
        withoutDeletedSheets(before, expected);
        return contentDifferences(before, after, expected);
    }
    if (!changes.insertedSheets.isEmpty()) {
        // The copies and the names that came with them are set aside; the rest must read as
        // before at the positions it had.
        WorkbookContent without = after;
        ExpectedChanges expected = changes;
        std::function<int(int)> moved;
        removeSheets(without, changes.insertedSheets, moved);
        expected.insertedSheets.clear();
        return contentDifferences(original, without, expected);
    }
    if (!changes.deletedLines.isEmpty()) {
        WorkbookContent before = original;
        for (const ExpectedChanges::LineDeletion &deletion : changes.deletedLines) {
            if (deletion.sheet >= 1 && deletion.sheet <= before.sheets.size())
                applyLineDeletion(before.sheets[deletion.sheet - 1].cells, deletion);
        }
        return differencesOf(before, after, changes);
    }
    return differencesOf(original, after, changes);
}

namespace {

QStringList differencesOf(const WorkbookContent &before, const WorkbookContent &after, const ExpectedChanges &expected)
{
    QStringList sheets, cells, names, entries;
    const qsizetype count = std::max(before.sheets.size(), after.sheets.size());
    for (qsizetype i = 0; i < count; ++i) {
        const int position = int(i) + 1;
        if (i >= after.sheets.size()) {
            sheets << QStringLiteral("sheet lost: ") + before.sheets[i].name;
            continue;
        }
        if (i >= before.sheets.size()) {
            sheets << QStringLiteral("sheet added: ") + after.sheets[i].name;
            continue;
        }
        const SheetContent &was = before.sheets[i];
        const SheetContent &now = after.sheets[i];
        const QString wanted = expected.sheetNames.value(position, was.name);
        if (now.name != wanted && now.name != was.name)
            sheets << QStringLiteral("sheet renamed: ") + was.name + kArrow + now.name;
        else if (now.name != wanted)
            sheets << QStringLiteral("sheet not renamed: ") + was.name;
        if (now.state != expected.sheetStates.value(position, was.state))
            sheets << QStringLiteral("sheet %1: %2%3%4").arg(was.name, stateText(was.state), kArrow, stateText(now.state));
        if (now.type != was.type)
            sheets << QStringLiteral("sheet %1: kind %2%3%4").arg(was.name).arg(was.type).arg(kArrow).arg(now.type);
        compareCells(was, now, position, expected, cells);
    }
    compareNames(before, after, expected, names);
    compareEntries(before, after, expected, entries);
    return sheets + cells + names + entries;
}

} // namespace

QString describeDifferences(const QStringList &differences, int shown)
{
    QStringList lines = differences.mid(0, shown);
    if (differences.size() > shown)
        lines << QStringLiteral("%1 more").arg(differences.size() - shown);
    return lines.join(QStringLiteral("; "));
}

void checkSaveKeepsContent(const QString &original, const QString &written, const ExpectedChanges &expected)
{
    auto read = [](const QString &path, const QString &which) {
        try {
            return readXlsContent(path);
        } catch (const EngineError &e) {
            throw EngineError(ErrorCode::WouldLoseContent,
                QStringLiteral("%1 cannot be read for comparison: %2 %3").arg(which, e.description(), e.detail()));
        }
    };
    const WorkbookContent before = read(original, QStringLiteral("original"));
    const WorkbookContent after = read(written, QStringLiteral("saved copy"));
    const QStringList differences = contentDifferences(before, after, expected);
    if (!differences.isEmpty())
        throw EngineError(ErrorCode::WouldLoseContent, describeDifferences(differences));
}

} // namespace gm::xls
