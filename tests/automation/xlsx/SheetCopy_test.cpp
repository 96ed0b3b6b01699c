// Copying a worksheet of one package into another through the package editor: the copy's
// cells must read the same strings and formats as the source's, the target's other parts stay
// byte for byte, and what the copy cannot carry is refused before anything changes.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/FormulaReferences.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "support/TestSupport.h"
#include "support/WorkbookReader.h"

#include <QRegularExpression>
#include <QSet>

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

using test::parseXml;

QByteArray entry(const QString &path, const QString &name)
{
    return gm::test::zipEntry(path, name);
}

QByteArray raw(pugi::xml_node node)
{
    std::ostringstream out;
    node.print(out, "", pugi::format_raw);
    return QByteArray::fromStdString(out.str());
}

// The sheets of a package in tab order: name and part.
QList<QPair<QString, QString>> sheetsOf(const QString &path)
{
    const auto rels = parseXml(entry(path, QStringLiteral("xl/_rels/workbook.xml.rels")));
    QMap<QString, QString> targets;
    for (pugi::xml_node r : rels->document_element().children())
        targets[QString::fromUtf8(r.attribute("Id").value())] = QString::fromUtf8(r.attribute("Target").value());
    QList<QPair<QString, QString>> result;
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    for (pugi::xml_node s : workbook->document_element().child("sheets").children("sheet"))
        result.append({QString::fromUtf8(s.attribute("name").value()),
            QStringLiteral("xl/") + targets.value(QString::fromUtf8(s.attribute("r:id").value()))});
    return result;
}

QString partOf(const QString &path, const QString &sheet)
{
    for (const auto &[name, part] : sheetsOf(path)) {
        if (name == sheet)
            return part;
    }
    return {};
}

// Every cell of a sheet as its workbook resolves it: the value (a shared string's text
// included), the formula and the full format (font, fill, border, number format code), so
// that two packages with different style and string tables can be compared.
QMap<QString, QString> resolvedCells(const QString &path, const QString &sheet)
{
    const auto xml = parseXml(entry(path, partOf(path, sheet)));
    const QByteArray stringsBytes = entry(path, QStringLiteral("xl/sharedStrings.xml"));
    const auto strings = parseXml(stringsBytes.isEmpty() ? QByteArray("<sst/>") : stringsBytes);
    std::vector<pugi::xml_node> items;
    for (pugi::xml_node si : strings->document_element().children("si"))
        items.push_back(si);
    const auto styles = parseXml(entry(path, QStringLiteral("xl/styles.xml")));
    const pugi::xml_node sheetStyles = styles->document_element();
    auto nth = [](pugi::xml_node parent, const char *name, int index) {
        for (pugi::xml_node child : parent.children(name)) {
            if (index-- == 0)
                return child;
        }
        return pugi::xml_node();
    };
    // The default format is each workbook's own Normal style.
    auto format = [&](int index) -> QByteArray {
        if (index == 0)
            return "default";
        const pugi::xml_node xf = nth(sheetStyles.child("cellXfs"), "xf", index);
        const int numFmt = xf.attribute("numFmtId").as_int();
        QByteArray code = QByteArray::number(numFmt);
        for (pugi::xml_node f : sheetStyles.child("numFmts").children("numFmt")) {
            if (f.attribute("numFmtId").as_int() == numFmt && numFmt >= 164)
                code = f.attribute("formatCode").value();
        }
        return raw(nth(sheetStyles.child("fonts"), "font", xf.attribute("fontId").as_int()))
            + raw(nth(sheetStyles.child("fills"), "fill", xf.attribute("fillId").as_int()))
            + raw(nth(sheetStyles.child("borders"), "border", xf.attribute("borderId").as_int())) + code;
    };
    QMap<QString, QString> cells;
    for (pugi::xml_node row : xml->document_element().child("sheetData").children("row")) {
        for (pugi::xml_node c : row.children("c")) {
            QByteArray value = c.child("v").text().get();
            if (std::string_view(c.attribute("t").value()) == "s")
                value = raw(items.at(size_t(c.child("v").text().as_int())));
            cells[QString::fromUtf8(c.attribute("r").value())] = QString::fromUtf8(
                value + '|' + c.child("f").text().get() + '|' + format(c.attribute("s").as_int()));
        }
    }
    return cells;
}

QByteArray childOf(const QString &path, const QString &sheet, const char *name)
{
    const auto xml = parseXml(entry(path, partOf(path, sheet)));
    // Column formats are compared through the cells; here only widths and flags.
    for (pugi::xml_node col : xml->document_element().child(name).children("col"))
        col.remove_attribute("style");
    return raw(xml->document_element().child(name));
}

class SheetCopyTest : public ::testing::Test
{
protected:
    QString copyOf(const QString &source) { return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path()); }

    QString insert(const QString &target, const QString &source, const QString &sheet)
    {
        auto from = openPackage(source);
        auto workbook = openPackage(target);
        const QString name = workbook->insertWorksheetCopy(*from, sheet);
        workbook->close(true);
        return name;
    }

    QTemporaryDir m_dir;
};

TEST_F(SheetCopyTest, CopiesCellsFormatsStringsMergesAndWidthsBeforeTheFirstWorksheet)
{
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    struct Case
    {
        const char *file;
        const char *sheet;
    };
    const Case cases[] = {{"merge_range02.xlsx", "Sheet1"}, {"poi-WithChartSheet.xlsx", "Sheet1"},
        {"outline01.xlsx", "Outlined Rows"}, {"set_column03.xlsx", "Sheet1"}};
    QStringList expectedOrder{QStringLiteral("First"), QStringLiteral("第二")};
    QStringList expectedNames;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(c.file));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const auto before = test::readRaw(target);
        const auto workbookBefore = parseXml(entry(target, QStringLiteral("xl/workbook.xml")));
        const int activeBefore
            = workbookBefore->document_element().child("bookViews").child("workbookView").attribute("activeTab").as_int(0);
        const QString previousActive = sheetsOf(target)[activeBefore].second;
        const QString sheet = QString::fromUtf8(c.sheet);
        const QString name = insert(target, source, sheet);
        expectedOrder.prepend(name);

        const QMap<QString, QString> copied = resolvedCells(target, name);
        const QMap<QString, QString> original = resolvedCells(source, sheet);
        EXPECT_EQ(copied.keys(), original.keys());
        for (auto it = original.begin(); it != original.end(); ++it)
            EXPECT_EQ(copied.value(it.key()).toStdString(), it.value().toStdString()) << it.key().toStdString();
        for (const char *child : {"mergeCells", "cols", "conditionalFormatting", "dataValidations"})
            EXPECT_EQ(childOf(target, name, child), childOf(source, sheet, child)) << child;
        QStringList order;
        for (const auto &entry : sheetsOf(target))
            order.append(entry.first);
        EXPECT_EQ(order, expectedOrder);

        // The copy is active and the only selected tab; the original worksheets' parts stay.
        const auto workbook = parseXml(entry(target, QStringLiteral("xl/workbook.xml")));
        EXPECT_EQ(workbook->document_element().child("bookViews").child("workbookView").attribute("activeTab").as_int(0), 0);
        EXPECT_TRUE(entry(target, partOf(target, name)).contains("tabSelected=\"1\""));
        const QStringList mayChange{QStringLiteral("xl/workbook.xml"), QStringLiteral("xl/_rels/workbook.xml.rels"),
            QStringLiteral("[Content_Types].xml"), QStringLiteral("xl/styles.xml"), QStringLiteral("xl/sharedStrings.xml"),
            QStringLiteral("docProps/app.xml"), previousActive};
        const auto after = test::readRaw(target);
        EXPECT_EQ(after.order, before.order + QStringList{partOf(target, name)});
        for (const QString &part : before.order) {
            if (!mayChange.contains(part)) {
                EXPECT_EQ(after.entries.at(part).crc, before.entries.at(part).crc) << part.toStdString();
                EXPECT_TRUE(after.entries.at(part).compressed == before.entries.at(part).compressed) << part.toStdString();
            }
        }
    }
    // The second copy of a Sheet1 is named as the spreadsheet program names it.
    EXPECT_EQ(expectedOrder.mid(0, 4),
        QStringList({QStringLiteral("Sheet1 (3)"), QStringLiteral("Outlined Rows"), QStringLiteral("Sheet1 (2)"),
            QStringLiteral("Sheet1")}));
}

// The package holds together: every internal relationship reaches a part, every part has a
// content type, table ids and names are unique, and no two VML drawings share an id block.
void expectConsistentPackage(const QString &path)
{
    const QStringList names = gm::test::zipEntryNames(path);
    QSet<QString> parts;
    for (const QString &name : names)
        parts.insert(name.toCaseFolded());
    const auto types = parseXml(entry(path, QStringLiteral("[Content_Types].xml")));
    QSet<QString> defaults, overrides;
    for (pugi::xml_node node : types->document_element().children()) {
        if (std::string_view(node.name()) == "Default")
            defaults.insert(QString::fromUtf8(node.attribute("Extension").value()).toCaseFolded());
        else
            overrides.insert(QString::fromUtf8(node.attribute("PartName").value()).mid(1).toCaseFolded());
    }
    QSet<int> tableIds;
    QSet<QString> tableNames;
    QList<int> blocks;
    for (const QString &name : names) {
        if (name.endsWith(u'/'))
            continue;
        const QString extension = name.mid(name.lastIndexOf(u'.') + 1).toCaseFolded();
        EXPECT_TRUE(overrides.contains(name.toCaseFolded()) || defaults.contains(extension) || name == u"[Content_Types].xml")
            << "no content type: " << name.toStdString();
        if (name.endsWith(QLatin1String(".rels"))) {
            const QString owner
                = name.left(name.indexOf(QLatin1String("_rels/"))) + name.mid(name.lastIndexOf(u'/') + 1).chopped(5);
            const QString folder = owner.left(owner.lastIndexOf(u'/') + 1);
            for (pugi::xml_node r : parseXml(entry(path, name))->document_element().children()) {
                if (std::string_view(r.attribute("TargetMode").value()) == "External")
                    continue;
                QString target = QString::fromUtf8(r.attribute("Target").value());
                target = target.startsWith(u'/') ? target.mid(1) : QDir::cleanPath(folder + target);
                EXPECT_TRUE(parts.contains(target.toCaseFolded())) << name.toStdString() << " -> " << target.toStdString();
            }
        } else if (name.startsWith(QLatin1String("xl/tables/"))) {
            const pugi::xml_node table = parseXml(entry(path, name))->document_element();
            EXPECT_FALSE(tableIds.contains(table.attribute("id").as_int())) << name.toStdString();
            tableIds.insert(table.attribute("id").as_int());
            const QString tableName = QString::fromUtf8(table.attribute("displayName").value()).toCaseFolded();
            EXPECT_FALSE(tableNames.contains(tableName)) << tableName.toStdString();
            tableNames.insert(tableName);
        } else if (name.endsWith(QLatin1String(".vml"))) {
            static const QRegularExpression idmap(QStringLiteral("data=\"([0-9]+)\""));
            const QRegularExpressionMatch m = idmap.match(QString::fromUtf8(entry(path, name)));
            EXPECT_TRUE(m.hasMatch()) << name.toStdString();
            EXPECT_FALSE(blocks.contains(m.captured(1).toInt())) << name.toStdString();
            blocks.append(m.captured(1).toInt());
        }
    }
}

TEST_F(SheetCopyTest, CarriesDrawingsChartsTablesCommentsAndLinksTwiceIntoOneWorkbook)
{
    struct Case
    {
        const char *file;
        const char *sheet;
        const char *part; // a part the copy must bring, found under this folder
    };
    const Case cases[] = {{"image01.xlsx", "Sheet1", "xl/media/"}, {"table02.xlsx", "Sheet1", "xl/tables/"},
        {"comment01.xlsx", "Sheet1", "xl/comments"}, {"poi-45540_classic_Header.xlsx", "Top Six Functions", "xl/charts/"},
        {"hyperlink01.xlsx", "Sheet1", "xl/worksheets/_rels/"}, {"header_image01.xlsx", "Sheet1", "xl/media/"},
        {"poi-SimpleScatterChart.xlsx", "Sheet1", "xl/charts/"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(c.file));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
        const QString sheet = QString::fromUtf8(c.sheet);
        const QStringList before = gm::test::zipEntryNames(target);
        const QString first = insert(target, source, sheet);
        const QString second = insert(target, source, sheet);
        EXPECT_EQ(first, sheet);
        EXPECT_EQ(second, sheet + QStringLiteral(" (2)"));
        expectConsistentPackage(target);
        QStringList added = gm::test::zipEntryNames(target);
        added.removeIf([&](const QString &n) { return before.contains(n); });
        EXPECT_GE(
            std::count_if(added.begin(), added.end(), [&](const QString &n) { return n.startsWith(QLatin1String(c.part)); }), 2)
            << added.join(u' ').toStdString();

        // Charts of the second copy show that copy's ranges.
        for (const QString &name : added) {
            if (!name.startsWith(QLatin1String("xl/charts/chart")))
                continue;
            const QByteArray chart = entry(target, name);
            const auto names = [&](const QString &sheetName) { return chart.contains(formula::qualifier(sheetName).toUtf8()); };
            EXPECT_TRUE(names(first) || names(second)) << name.toStdString();
            EXPECT_FALSE(names(first) && names(second)) << name.toStdString();
        }

        // An independent reader sees both copies with the source's cells, merged ranges and
        // column widths, pictures and charts.
        const gm::test::ReaderResult original = gm::test::readWithOpenpyxl(source);
        const gm::test::ReaderResult result = gm::test::readWithOpenpyxl(target);
        if (!result.available)
            GTEST_SKIP() << "Python with openpyxl not available";
        ASSERT_TRUE(result.error.isEmpty()) << result.error.toStdString();
        const gm::test::ReaderSheet *expected = original.sheet(sheet);
        ASSERT_NE(expected, nullptr);
        ASSERT_GE(result.sheets.size(), 4u);
        EXPECT_EQ(result.sheets[0].name, second);
        EXPECT_EQ(result.sheets[1].name, first);
        for (const QString &copy : {first, second}) {
            const gm::test::ReaderSheet *got = result.sheet(copy);
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->cells, expected->cells);
            EXPECT_EQ(got->merged, expected->merged);
            EXPECT_EQ(got->widths, expected->widths);
            EXPECT_EQ(got->images, expected->images);
            EXPECT_EQ(got->charts, expected->charts);
        }
    }
}

// The formulas of a sheet as written: cell -> formula text.
QMap<QString, QString> formulasOf(const QString &path, const QString &sheet)
{
    QMap<QString, QString> formulas;
    const auto xml = parseXml(entry(path, partOf(path, sheet)));
    for (pugi::xml_node row : xml->document_element().child("sheetData").children("row")) {
        for (pugi::xml_node c : row.children("c")) {
            if (c.child("f"))
                formulas[QString::fromUtf8(c.attribute("r").value())] = QString::fromUtf8(c.child("f").text().get());
        }
    }
    return formulas;
}

// The workbook-level names of a package: name -> text.
QMap<QString, QString> workbookNamesOf(const QString &path)
{
    QMap<QString, QString> names;
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    for (pugi::xml_node name : workbook->document_element().child("definedNames").children("definedName")) {
        if (!name.attribute("localSheetId"))
            names[QString::fromUtf8(name.attribute("name").value())] = QString::fromUtf8(name.text().get());
    }
    return names;
}

// A copy of `source` written at `path` with one text of one part replaced.
QString variantOf(const QString &source, const QString &path, const QString &part, const QByteArray &from, const QByteArray &to)
{
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source)) {
        QByteArray bytes = gm::test::zipEntry(source, name);
        if (name == part) {
            EXPECT_TRUE(bytes.contains(from)) << from.toStdString();
            bytes.replace(from, to);
        }
        entries.append({name, bytes});
    }
    gm::test::writeZip(path, entries);
    return path;
}

// A workbook's links in the order of their numbers: the file each names, the sheets it
// lists and its cached cells ("Sheet!A1" -> "type|value").
struct LinkView
{
    QString target;
    QStringList sheets;
    QMap<QString, QString> cells;
};

std::vector<LinkView> linksOf(const QString &path)
{
    const auto rels = parseXml(entry(path, QStringLiteral("xl/_rels/workbook.xml.rels")));
    QMap<QString, QString> targets;
    for (pugi::xml_node r : rels->document_element().children())
        targets[QString::fromUtf8(r.attribute("Id").value())] = QString::fromUtf8(r.attribute("Target").value());
    std::vector<LinkView> links;
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    for (pugi::xml_node reference : workbook->document_element().child("externalReferences").children("externalReference")) {
        const QString part = QStringLiteral("xl/") + targets.value(QString::fromUtf8(reference.attribute("r:id").value()));
        LinkView link;
        const QString relsPart = QStringLiteral("xl/externalLinks/_rels/") + part.mid(part.lastIndexOf(u'/') + 1) + QStringLiteral(".rels");
        const auto linkRels = parseXml(entry(path, relsPart));
        const pugi::xml_node target = linkRels->document_element().child("Relationship");
        EXPECT_STREQ(target.attribute("TargetMode").value(), "External");
        EXPECT_TRUE(std::string_view(target.attribute("Type").value()).ends_with("/externalLinkPath"));
        link.target = QString::fromUtf8(target.attribute("Target").value());
        const auto xml = parseXml(entry(path, part));
        const pugi::xml_node book = xml->document_element().child("externalBook");
        EXPECT_STREQ(book.attribute("r:id").value(), target.attribute("Id").value());
        for (pugi::xml_node name : book.child("sheetNames").children("sheetName"))
            link.sheets.append(QString::fromUtf8(name.attribute("val").value()));
        for (pugi::xml_node data : book.child("sheetDataSet").children("sheetData")) {
            const QString sheet = link.sheets.value(data.attribute("sheetId").as_int(-1));
            for (pugi::xml_node row : data.children("row")) {
                for (pugi::xml_node cell : row.children("cell"))
                    link.cells[sheet + u'!' + QString::fromUtf8(cell.attribute("r").value())]
                        = QString::fromUtf8(cell.attribute("t").value()) + u'|' + QString::fromUtf8(cell.child("v").text().get());
            }
        }
        links.push_back(link);
    }
    return links;
}

QString contentTypeOf(const QString &path, const QString &part)
{
    const auto types = parseXml(entry(path, QStringLiteral("[Content_Types].xml")));
    for (pugi::xml_node node : types->document_element().children("Override")) {
        if (QString::fromUtf8(node.attribute("PartName").value()) == u'/' + part)
            return QString::fromUtf8(node.attribute("ContentType").value());
    }
    return {};
}

TEST_F(SheetCopyTest, ReferencesToOtherSourceSheetsBecomeLinksHoldingTheSourceValues)
{
    const QString source = copyOf(gm::test::fixture(QStringLiteral("linked_sheets.xlsx")));
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    EXPECT_EQ(insert(target, source, QStringLiteral("Calc")), QStringLiteral("Calc"));
    EXPECT_EQ(insert(target, source, QStringLiteral("Calc")), QStringLiteral("Calc (2)"));

    // Each copy reads the source's other sheets through link 1 and itself as itself.
    for (const QString &copy : {QStringLiteral("Calc"), QStringLiteral("Calc (2)")}) {
        SCOPED_TRACE(copy.toStdString());
        const QMap<QString, QString> expected{{QStringLiteral("A1"), QStringLiteral("[1]Data!A1*2")},
            {QStringLiteral("B1"), QStringLiteral("SUM([1]Data!$A$1:$A$4)")},
            {QStringLiteral("A2"), QStringLiteral("'[1]Other Sheet'!A1+") + formula::qualifier(copy) + QStringLiteral("A1")},
            {QStringLiteral("B2"), QStringLiteral("[1]Data!B2&\"-\"&'[1]Other Sheet'!B1")},
            {QStringLiteral("A3"), QStringLiteral("SUM([1]Data!A:A)")}, {QStringLiteral("B3"), QStringLiteral("Rate*2")},
            {QStringLiteral("A4"), QStringLiteral("IF([1]Data!A5,1,0)")},
            {QStringLiteral("B4"), QStringLiteral("ISERROR([1]Data!B5)")}};
        EXPECT_EQ(formulasOf(target, copy), expected);
    }
    // The sheet's own name follows it, reading the source file too.
    const auto workbook = parseXml(entry(target, QStringLiteral("xl/workbook.xml")));
    QStringList rates;
    for (pugi::xml_node name : workbook->document_element().child("definedNames").children("definedName")) {
        if (std::string_view(name.attribute("name").value()) == "Rate")
            rates.append(QString::fromUtf8(name.attribute("localSheetId").value()) + u'=' + QString::fromUtf8(name.text().get()));
    }
    EXPECT_EQ(rates, QStringList({QStringLiteral("1=[1]Data!$A$2"), QStringLiteral("0=[1]Data!$A$2")}));

    // One link, used by both copies, names the source file and holds the values of exactly
    // the cells the formulas read (Data!B1 is read by none), typed as the source has them.
    const std::vector<LinkView> links = linksOf(target);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].target, QUrl::fromLocalFile(QFileInfo(source).absoluteFilePath()).toString());
    EXPECT_EQ(links[0].sheets, QStringList({QStringLiteral("Data"), QStringLiteral("Other Sheet")}));
    const QMap<QString, QString> cached{{QStringLiteral("Data!A1"), QStringLiteral("|10")},
        {QStringLiteral("Data!A2"), QStringLiteral("|20")}, {QStringLiteral("Data!A3"), QStringLiteral("|30")},
        {QStringLiteral("Data!A4"), QStringLiteral("|40")}, {QStringLiteral("Data!A5"), QStringLiteral("b|1")},
        {QStringLiteral("Data!B2"), QStringLiteral("str|south")}, {QStringLiteral("Data!B5"), QStringLiteral("e|#DIV/0!")},
        {QStringLiteral("Other Sheet!A1"), QStringLiteral("|7.5")},
        {QStringLiteral("Other Sheet!B1"), QStringLiteral("str|label")}};
    EXPECT_EQ(links[0].cells, cached);
    EXPECT_EQ(contentTypeOf(target, QStringLiteral("xl/externalLinks/externalLink1.xml")),
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.externalLink+xml"));
    expectConsistentPackage(target);

    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(target);
    if (!read.available)
        GTEST_SKIP() << "Python with openpyxl not available";
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_NE(read.sheet(QStringLiteral("Calc")), nullptr);
    EXPECT_EQ(read.sheet(QStringLiteral("Calc"))->cells.value(QStringLiteral("B1")).toString(),
        QStringLiteral("=SUM([1]Data!$A$1:$A$4)"));
}

TEST_F(SheetCopyTest, SheetsCopiedTogetherReferToEachOtherAndLinkOnlyToSheetsLeftBehind)
{
    const QString source = copyOf(gm::test::fixture(QStringLiteral("linked_sheets.xlsx")));
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    insert(target, source, QStringLiteral("Calc"));
    {
        auto from = openPackage(source);
        auto workbook = openPackage(target);
        std::optional<EngineError> refused;
        const QStringList names = workbook->insertWorksheetCopies(
            *from, {QStringLiteral("Other Sheet"), QStringLiteral("Calc")}, QString(), &refused);
        EXPECT_EQ(names, QStringList({QStringLiteral("Other Sheet"), QStringLiteral("Calc (2)")}));
        EXPECT_FALSE(refused.has_value());
        workbook->close(true);
    }
    QStringList order;
    for (const auto &sheet : sheetsOf(target))
        order.append(sheet.first);
    EXPECT_EQ(order, QStringList({QStringLiteral("Other Sheet"), QStringLiteral("Calc (2)"), QStringLiteral("Calc"),
                         QStringLiteral("First"), QStringLiteral("第二")}));
    const QMap<QString, QString> formulas = formulasOf(target, QStringLiteral("Calc (2)"));
    EXPECT_EQ(formulas.value(QStringLiteral("A2")), QStringLiteral("'Other Sheet'!A1+'Calc (2)'!A1"));
    EXPECT_EQ(formulas.value(QStringLiteral("B2")), QStringLiteral("[1]Data!B2&\"-\"&'Other Sheet'!B1"));
    const std::vector<LinkView> links = linksOf(target);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].sheets, QStringList({QStringLiteral("Data"), QStringLiteral("Other Sheet")}));
    expectConsistentPackage(target);

    // Calc's SUM(Total) reads a workbook-level name of its workbook: into a target without
    // that name the name comes along, reading the copy of Data.
    const QString references = copyOf(gm::test::fixture(QStringLiteral("sheet_references.xlsx")));
    const QString second = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    {
        const QString withoutTotal = gm::test::copyInto(second, m_dir.path(), QStringLiteral("without_total.xlsx"));
        auto from = openPackage(references);
        auto workbook = openPackage(withoutTotal);
        std::optional<EngineError> refused;
        const QStringList names = workbook->insertWorksheetCopies(
            *from, {QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("Calc")}, QString(), &refused);
        EXPECT_EQ(names, QStringList({QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("Calc")}));
        EXPECT_FALSE(refused.has_value());
        workbook->close(true);
        EXPECT_EQ(workbookNamesOf(withoutTotal).value(QStringLiteral("Total")), QStringLiteral("Data!$A$1:$A$5"));
        expectConsistentPackage(withoutTotal);
    }
    // A target with a name Total of its own: the copy reads the target's. Copied together,
    // Calc's 3-D span over Data and Other spans their copies and its reference to Other's own
    // name reads the copy's; only It's, left behind, is linked.
    {
        QList<std::pair<QString, QByteArray>> entries;
        for (const QString &name : gm::test::zipEntryNames(second)) {
            QByteArray bytes = gm::test::zipEntry(second, name);
            if (name == u"xl/workbook.xml") {
                ASSERT_TRUE(bytes.contains("</sheets>"));
                bytes.replace("</sheets>", "</sheets><definedNames><definedName name=\"Total\">First!$A$1</definedName></definedNames>");
            }
            entries.append({name, bytes});
        }
        gm::test::writeZip(second, entries);
    }
    {
        auto from = openPackage(references);
        auto workbook = openPackage(second);
        std::optional<EngineError> refused;
        const QStringList names = workbook->insertWorksheetCopies(
            *from, {QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("Calc")}, QString(), &refused);
        EXPECT_EQ(names, QStringList({QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("Calc")}));
        EXPECT_FALSE(refused.has_value());
        workbook->close(true);
    }
    const QMap<QString, QString> calc = formulasOf(second, QStringLiteral("Calc"));
    EXPECT_TRUE(calc.values().contains(QStringLiteral("SUM(Data:Other!A1)")));
    EXPECT_TRUE(calc.values().contains(QStringLiteral("Other!Local")));
    const std::vector<LinkView> secondLinks = linksOf(second);
    ASSERT_EQ(secondLinks.size(), 1u);
    EXPECT_EQ(secondLinks[0].sheets, QStringList({QStringLiteral("It's")}));
    const QMap<QString, QString> targetsOwn{{QStringLiteral("Total"), QStringLiteral("First!$A$1")}};
    EXPECT_EQ(workbookNamesOf(second), targetsOwn);
    expectConsistentPackage(second);
}

TEST_F(SheetCopyTest, NamesAndSpansOfSheetsLeftBehindReadTheSourceFile)
{
    // sheet_references' Calc reads Other's own name (D1: Other!Local), a 3-D span over Data
    // and Other (A3) and the workbook-level name Total (A6), which here reads the name Part
    // and Calc itself; Part reads the hidden sheet, which no formula reads, and itself
    // through Cycle.
    const QString fixture = gm::test::fixture(QStringLiteral("sheet_references.xlsx"));
    const QString source = variantOf(fixture, m_dir.filePath(QStringLiteral("names.xlsx")), QStringLiteral("xl/workbook.xml"),
        "<definedName name=\"Total\">Data!$A$1:$A$5</definedName>",
        "<definedName name=\"Total\">SUM(Part,Calc!$A$1)</definedName><definedName name=\"Part\">Hidden!$A$1+Cycle"
        "</definedName><definedName name=\"Cycle\">Part</definedName>");
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    ASSERT_EQ(insert(target, source, QStringLiteral("Calc")), QStringLiteral("Calc"));
    ASSERT_EQ(insert(target, source, QStringLiteral("Calc")), QStringLiteral("Calc (2)"));

    const QMap<QString, QString> formulas = formulasOf(target, QStringLiteral("Calc (2)"));
    EXPECT_EQ(formulas.value(QStringLiteral("D1")), QStringLiteral("[1]Other!$A$1"));
    EXPECT_EQ(formulas.value(QStringLiteral("A3")), QStringLiteral("SUM([1]Data!A1,[1]Other!A1)"));
    EXPECT_EQ(formulas.value(QStringLiteral("A5")), QStringLiteral("'[1]It''s'!A1+[1]Other!A1"));
    EXPECT_EQ(formulas.value(QStringLiteral("A6")), QStringLiteral("SUM(Total)"));
    // The names came once, with the first copy, and read it; the second copy reads them too.
    const QMap<QString, QString> names{{QStringLiteral("Total"), QStringLiteral("SUM(Part,Calc!$A$1)")},
        {QStringLiteral("Part"), QStringLiteral("[1]Hidden!$A$1+Cycle")}, {QStringLiteral("Cycle"), QStringLiteral("Part")}};
    EXPECT_EQ(workbookNamesOf(target), names);
    // One link to the source, its sheets in the source's order, holding what the names
    // read too.
    const std::vector<LinkView> links = linksOf(target);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].sheets,
        QStringList({QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("It's"), QStringLiteral("Hidden")}));
    EXPECT_EQ(links[0].cells.value(QStringLiteral("Hidden!A1")), QStringLiteral("|5"));
    expectConsistentPackage(target);

    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(target);
    if (read.available) {
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        ASSERT_NE(read.sheet(QStringLiteral("Calc (2)")), nullptr);
        EXPECT_EQ(read.sheet(QStringLiteral("Calc (2)"))->cells.value(QStringLiteral("A3")).toString(),
            QStringLiteral("=SUM([1]Data!A1,[1]Other!A1)"));
    }

    // Other's name standing for a cell relative to where it is used cannot be read through
    // the link: the copy is refused and the target stays as it was.
    const QString relative = variantOf(fixture, m_dir.filePath(QStringLiteral("relative.xlsx")), QStringLiteral("xl/workbook.xml"),
        "localSheetId=\"1\">Other!$A$1<", "localSheetId=\"1\">Other!A1<");
    const QByteArray before = gm::test::readAll(target);
    auto from = openPackage(relative);
    auto workbook = openPackage(target);
    try {
        workbook->insertWorksheetCopy(*from, QStringLiteral("Calc"));
        ADD_FAILURE() << "no refusal";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::SheetCopyUnsupported);
        EXPECT_TRUE(e.detail().contains(QStringLiteral("Other!Local"))) << e.detail().toStdString();
    }
    workbook->close(true);
    EXPECT_EQ(gm::test::readAll(target), before);
}

TEST_F(SheetCopyTest, ChartsOfOtherSheetsDataReadThemThroughTheLink)
{
    const QString corpus = gm::test::corpusFile(QStringLiteral("xlsx/poi-123233_charts.xlsx"));
    if (corpus.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString source = copyOf(corpus);
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    const QStringList before = gm::test::zipEntryNames(target);
    insert(target, source, QStringLiteral("Page1_1"));
    expectConsistentPackage(target);
    const std::vector<LinkView> links = linksOf(target);
    ASSERT_EQ(links.size(), 1u);
    int charts = 0;
    int cachedInRanges = 0;
    for (const QString &name : gm::test::zipEntryNames(target)) {
        if (before.contains(name) || !name.startsWith(QLatin1String("xl/charts/chart")))
            continue;
        ++charts;
        const auto chart = parseXml(entry(target, name));
        // Every series range leads into the source; the values it shows are in the link.
        std::vector<pugi::xml_node> pending{chart->document_element()};
        int ranges = 0;
        while (!pending.empty()) {
            pugi::xml_node node = pending.back();
            pending.pop_back();
            for (pugi::xml_node child : node.children()) {
                if (std::string_view(child.name()) == "c:f") {
                    ++ranges;
                    const QString text = QString::fromUtf8(child.text().get());
                    const std::vector<formula::SheetPrefix> prefixes = formula::sheetPrefixes(text);
                    ASSERT_FALSE(prefixes.empty()) << text.toStdString();
                    for (const formula::SheetPrefix &prefix : prefixes) {
                        EXPECT_TRUE(prefix.external) << text.toStdString();
                        EXPECT_TRUE(links[0].sheets.contains(prefix.first)) << text.toStdString();
                        const std::optional<formula::Area> area
                            = formula::parseArea(QStringView(text).mid(prefix.start + prefix.length, prefix.operandLength));
                        ASSERT_TRUE(area.has_value());
                        for (const QString &key : links[0].cells.keys()) {
                            const std::optional<formula::Area> cell = formula::parseArea(key.mid(key.indexOf(u'!') + 1));
                            if (key.startsWith(prefix.first + u'!') && cell && area->contains(cell->firstRow, cell->firstColumn))
                                ++cachedInRanges;
                        }
                    }
                } else if (child.type() == pugi::node_element) {
                    pending.push_back(child);
                }
            }
        }
        EXPECT_GT(ranges, 0) << name.toStdString();
    }
    EXPECT_GT(charts, 0);
    EXPECT_GT(cachedInRanges, 0);
    // Values stay as the source writes them; the empty corner cell A1 is not cached.
    EXPECT_EQ(links[0].cells.value(QStringLiteral("data_Page1_1_1!B2")), QStringLiteral("|1589036664.030000"));
    EXPECT_FALSE(links[0].cells.contains(QStringLiteral("data_Page1_1_1!A1")));
}

TEST_F(SheetCopyTest, RefusesWhatTheCopyCannotCarryAndLeavesTheTargetUntouched)
{
    struct Case
    {
        const char *file;
        const char *sheet;
        ErrorCode expected;
    };
    const Case cases[] = {
        {"hide02.xlsx", "Sheet2", ErrorCode::SheetCopyUnsupported}, // very hidden
        {"merge_range02.xlsx", "NoSuchSheet", ErrorCode::SheetNotFound},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = QString::fromUtf8(c.file);
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + file);
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
        const QByteArray before = gm::test::readAll(target);
        auto from = openPackage(source);
        auto workbook = openPackage(target);
        try {
            workbook->insertWorksheetCopy(*from, QString::fromUtf8(c.sheet));
            ADD_FAILURE() << "no refusal";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.expected);
        }
        workbook->close(true);
        EXPECT_EQ(gm::test::readAll(target), before);
    }
}

TEST_F(SheetCopyTest, DynamicArraysAndPicturesInCellsBringTheirMetadataIntoTheTargetsParts)
{
    // The target already has a metadata part of another kind (a picture in a cell); the two
    // dynamic array sheets share one record, which the target gains once; another picture
    // in a cell adds its value, reusing the structure, with its own picture.
    const QString dynamic1 = gm::test::corpusFile(QStringLiteral("xlsx/dynamic_array01.xlsx"));
    const QString dynamic2 = gm::test::corpusFile(QStringLiteral("xlsx/dynamic_array02.xlsx"));
    const QString pictures = gm::test::corpusFile(QStringLiteral("xlsx/embed_image01.xlsx"));
    if (dynamic1.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString target = copyOf(pictures);
    ASSERT_EQ(insert(target, dynamic1, QStringLiteral("Sheet1")), QStringLiteral("Sheet1 (2)"));
    ASSERT_EQ(insert(target, dynamic2, QStringLiteral("Sheet1")), QStringLiteral("Sheet1 (3)"));
    ASSERT_EQ(insert(target, gm::test::corpusFile(QStringLiteral("xlsx/embed_image02.xlsx")), QStringLiteral("Sheet1")),
        QStringLiteral("Sheet1 (4)"));
    expectConsistentPackage(target);
    EXPECT_TRUE(entry(target, partOf(target, QStringLiteral("Sheet1 (4)"))).contains("vm=\"2\""));
    EXPECT_EQ(raw(parseXml(entry(target, QStringLiteral("xl/richData/rdrichvalue.xml")))->document_element()),
        QByteArray("<rvData xmlns=\"http://schemas.microsoft.com/office/spreadsheetml/2017/richdata\" count=\"2\"><rv "
                   "s=\"0\"><v>0</v><v>5</v></rv><rv s=\"0\"><v>1</v><v>5</v></rv></rvData>"));
    EXPECT_EQ(parseXml(entry(target, QStringLiteral("xl/richData/rdrichvaluestructure.xml")))
                  ->document_element()
                  .attribute("count")
                  .as_int(),
        1);
    const QByteArray pictureLinks = entry(target, QStringLiteral("xl/richData/_rels/richValueRel.xml.rels"));
    EXPECT_TRUE(pictureLinks.contains("Target=\"../media/image2.png\"")) << pictureLinks.toStdString();
    EXPECT_EQ(entry(target, QStringLiteral("xl/media/image2.png")),
        entry(gm::test::corpusFile(QStringLiteral("xlsx/embed_image02.xlsx")), QStringLiteral("xl/media/image1.png")));

    const auto metadata = parseXml(entry(target, QStringLiteral("xl/metadata.xml")));
    const pugi::xml_node root = metadata->document_element();
    EXPECT_EQ(test::childNames(root), QStringList({QStringLiteral("metadataTypes"), QStringLiteral("futureMetadata"),
                                    QStringLiteral("futureMetadata"), QStringLiteral("cellMetadata"),
                                    QStringLiteral("valueMetadata")}));
    QStringList types;
    for (pugi::xml_node type : root.child("metadataTypes").children("metadataType"))
        types << QString::fromUtf8(type.attribute("name").value());
    EXPECT_EQ(types, QStringList({QStringLiteral("XLRICHVALUE"), QStringLiteral("XLDAPR")}));
    EXPECT_EQ(root.child("metadataTypes").attribute("count").as_int(), 2);
    EXPECT_STREQ(root.attribute("xmlns:xda").value(), "http://schemas.microsoft.com/office/spreadsheetml/2017/dynamicarray");
    const pugi::xml_node spill = root.find_child_by_attribute("futureMetadata", "name", "XLDAPR");
    EXPECT_EQ(spill.attribute("count").as_int(), 1);
    EXPECT_TRUE(raw(spill).contains("<xda:dynamicArrayProperties fDynamic=\"1\""));
    EXPECT_EQ(raw(root.child("cellMetadata")), QByteArray("<cellMetadata count=\"1\"><bk><rc t=\"2\" v=\"0\"/></bk></cellMetadata>"));
    // The picture's own records are as they were.
    EXPECT_EQ(raw(root.child("valueMetadata")),
        QByteArray("<valueMetadata count=\"2\"><bk><rc t=\"1\" v=\"0\"/></bk><bk><rc t=\"1\" v=\"1\"/></bk></valueMetadata>"));
    EXPECT_TRUE(entry(target, partOf(target, QStringLiteral("Sheet1 (2)"))).contains("<c r=\"A1\" cm=\"1\">"));
    EXPECT_TRUE(entry(target, partOf(target, QStringLiteral("Sheet1 (3)"))).contains("<c r=\"B1\" cm=\"1\">"));
    // A target without a metadata part gets one. This one declares the relationships prefix
    // on each sheet element, as some writers do: so does the copy's.
    const QByteArray rootDeclared = "<sheets><sheet name=\"First\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"第二\" "
                                    "sheetId=\"2\" r:id=\"rId2\"/>";
    const QByteArray sheetDeclared = "<sheets><sheet xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                     "relationships\" name=\"First\" sheetId=\"1\" r:id=\"rId1\"/><sheet xmlns:r=\"http://"
                                     "schemas.openxmlformats.org/officeDocument/2006/relationships\" name=\"第二\" sheetId=\"2\" "
                                     "r:id=\"rId2\"/>";
    QString plain = variantOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")),
        m_dir.filePath(QStringLiteral("declared.xlsx")), QStringLiteral("xl/workbook.xml"), rootDeclared, sheetDeclared);
    plain = variantOf(plain, m_dir.filePath(QStringLiteral("plain.xlsx")), QStringLiteral("xl/workbook.xml"),
        " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><bookViews>", "><bookViews>");
    insert(plain, dynamic2, QStringLiteral("Sheet1"));
    expectConsistentPackage(plain);
    EXPECT_EQ(raw(parseXml(entry(plain, QStringLiteral("xl/metadata.xml")))->document_element().child("cellMetadata")),
        QByteArray("<cellMetadata count=\"1\"><bk><rc t=\"1\" v=\"0\"/></bk></cellMetadata>"));
    const gm::test::ReaderResult plainRead = gm::test::readWithOpenpyxl(plain);
    if (plainRead.available) {
        EXPECT_TRUE(plainRead.error.isEmpty()) << plainRead.error.toStdString();
    }

    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(target);
    if (read.available) {
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        ASSERT_NE(read.sheet(QStringLiteral("Sheet1 (3)")), nullptr);
        EXPECT_EQ(read.sheet(QStringLiteral("Sheet1 (3)"))->cells.value(QStringLiteral("B1")).toString(),
            QStringLiteral("=_xlfn.UNIQUE(A1)"));
    }
}

TEST_F(SheetCopyTest, PivotTablesBringTheirCachesReadingTheCopiedDataOrTheSourceFile)
{
    // Sheet6 and Sheet5 each hold a pivot table whose cache reads Sheet1.
    const QString source = gm::test::corpusFile(QStringLiteral("xlsx/poi-WithChartSheet.xlsx"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const auto cacheSources = [&](const QString &path) {
        QStringList found;
        const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
        const auto rels = parseXml(entry(path, QStringLiteral("xl/_rels/workbook.xml.rels")));
        for (pugi::xml_node cache : workbook->document_element().child("pivotCaches").children("pivotCache")) {
            const QString part = QStringLiteral("xl/")
                + QString::fromUtf8(rels->document_element()
                                        .find_child_by_attribute("Id", cache.attribute("r:id").value())
                                        .attribute("Target")
                                        .value());
            const auto definition = parseXml(entry(path, part));
            const pugi::xml_node range = definition->document_element().child("cacheSource").child("worksheetSource");
            QString text = QString::fromUtf8(cache.attribute("cacheId").value()) + u':'
                + QString::fromUtf8(range.attribute("sheet").value());
            if (range.attribute("r:id")) {
                const QString relsPart = part.left(part.lastIndexOf(u'/')) + QStringLiteral("/_rels/")
                    + part.mid(part.lastIndexOf(u'/') + 1) + QStringLiteral(".rels");
                const auto cacheRels = parseXml(entry(path, relsPart));
                text += u'@' + QFileInfo(QUrl(QString::fromUtf8(cacheRels->document_element()
                                                         .find_child_by_attribute("Id", range.attribute("r:id").value())
                                                         .attribute("Target")
                                                         .value()))
                                   .toLocalFile())
                                   .fileName();
            }
            found << text;
        }
        return found;
    };
    const auto pivotCacheIds = [&](const QString &path) {
        QStringList ids;
        for (const QString &name : gm::test::zipEntryNames(path)) {
            if (name.startsWith(QLatin1String("xl/pivotTables/pivotTable")) && name.endsWith(QLatin1String(".xml")))
                ids << QString::fromUtf8(parseXml(entry(path, name))->document_element().attribute("cacheId").value());
        }
        ids.sort();
        return ids;
    };

    // Alone: the cache reads Sheet1 in the source file.
    const QString target = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    insert(target, source, QStringLiteral("Sheet6"));
    insert(target, source, QStringLiteral("Sheet5"));
    expectConsistentPackage(target);
    EXPECT_EQ(cacheSources(target),
        QStringList({QStringLiteral("0:Sheet1@poi-WithChartSheet.xlsx"), QStringLiteral("1:Sheet1@poi-WithChartSheet.xlsx")}));
    EXPECT_EQ(pivotCacheIds(target), QStringList({QStringLiteral("0"), QStringLiteral("1")}));

    // With its data, into a workbook that has Sheet1 already: the cache reads the copy.
    const QString merged = copyOf(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    insert(merged, source, QStringLiteral("Sheet6"));
    {
        auto from = openPackage(source);
        auto workbook = openPackage(merged);
        std::optional<EngineError> refused;
        const QStringList names = workbook->insertWorksheetCopies(
            *from, {QStringLiteral("Sheet1"), QStringLiteral("Sheet6")}, QString(), &refused);
        EXPECT_EQ(names, QStringList({QStringLiteral("Sheet1"), QStringLiteral("Sheet6 (2)")}));
        EXPECT_FALSE(refused.has_value());
        workbook->close(true);
    }
    expectConsistentPackage(merged);
    EXPECT_EQ(cacheSources(merged), QStringList({QStringLiteral("0:Sheet1@poi-WithChartSheet.xlsx"), QStringLiteral("1:Sheet1")}));
    EXPECT_EQ(pivotCacheIds(merged), QStringList({QStringLiteral("0"), QStringLiteral("1")}));

    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(merged);
    if (read.available) {
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        ASSERT_NE(read.sheet(QStringLiteral("Sheet6 (2)")), nullptr);
        EXPECT_EQ(read.sheet(QStringLiteral("Sheet6 (2)"))->cells.value(QStringLiteral("B6")).toString(), QStringLiteral("889017"));
    }
}

TEST_F(SheetCopyTest, ReferencesIntoOtherWorkbooksKeepTheirFileThroughTheTargetsLinks)
{
    // "first" and "second" are the same workbook in two files. A sheet copied from "first"
    // into "middle" reads it through middle's link 1.
    const QString linked = gm::test::fixture(QStringLiteral("linked_sheets.xlsx"));
    const QString first = gm::test::copyInto(linked, m_dir.path(), QStringLiteral("first.xlsx"));
    const QString second = gm::test::copyInto(linked, m_dir.path(), QStringLiteral("second.xlsx"));
    const QString plain = gm::test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    const QString middle = gm::test::copyInto(plain, m_dir.path(), QStringLiteral("middle.xlsx"));
    ASSERT_EQ(insert(middle, first, QStringLiteral("Calc")), QStringLiteral("Calc"));
    const std::vector<LinkView> middleLinks = linksOf(middle);
    ASSERT_EQ(middleLinks.size(), 1u);

    struct Case
    {
        const char *name;
        const QString *earlier; // the file the target already links to, through its link 1
        QString linkNumber; // the number the copy's references read through
        size_t links; // the target's links afterwards
    };
    const Case cases[] = {
        {"a link to another file", &second, QStringLiteral("2"), 2}, {"a link to the same file", &first, QStringLiteral("1"), 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = gm::test::copyInto(plain, m_dir.path(), QString::fromUtf8(c.name) + QStringLiteral(".xlsx"));
        // The target's own link reads Data!A1 and the Other Sheet alone.
        ASSERT_EQ(insert(target, *c.earlier, QStringLiteral("Calc")), QStringLiteral("Calc"));
        const std::vector<LinkView> before = linksOf(target);
        ASSERT_EQ(before.size(), 1u);
        EXPECT_EQ(insert(target, middle, QStringLiteral("Calc")), QStringLiteral("Calc (2)"));

        // The copy's formulas and its own name read the first file as they did in middle.
        const QString n = u'[' + c.linkNumber + u']';
        QMap<QString, QString> expected = formulasOf(middle, QStringLiteral("Calc"));
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            it.value().replace(QStringLiteral("[1]"), n);
            it.value().replace(QStringLiteral("Calc!"), QStringLiteral("'Calc (2)'!"));
        }
        EXPECT_EQ(formulasOf(target, QStringLiteral("Calc (2)")), expected);
        EXPECT_EQ(formulasOf(target, QStringLiteral("Calc"))[QStringLiteral("A1")], QStringLiteral("[1]Data!A1*2"));
        const auto workbook = parseXml(entry(target, QStringLiteral("xl/workbook.xml")));
        QStringList rates;
        for (pugi::xml_node name : workbook->document_element().child("definedNames").children("definedName")) {
            if (std::string_view(name.attribute("name").value()) == "Rate")
                rates.append(QString::fromUtf8(name.text().get()));
        }
        EXPECT_TRUE(rates.contains(n + QStringLiteral("Data!$A$2"))) << rates.join(u' ').toStdString();

        // The link to the first file lists its sheets and holds the values middle's link
        // holds; the target's own link keeps its values.
        const std::vector<LinkView> links = linksOf(target);
        ASSERT_EQ(links.size(), c.links);
        const LinkView &read = links[size_t(c.linkNumber.toInt() - 1)];
        EXPECT_EQ(read.target, middleLinks[0].target);
        EXPECT_EQ(read.sheets, middleLinks[0].sheets);
        EXPECT_EQ(read.cells, middleLinks[0].cells);
        EXPECT_EQ(links[0].target, before[0].target);
        expectConsistentPackage(target);

        const gm::test::ReaderResult openpyxl = gm::test::readWithOpenpyxl(target);
        if (!openpyxl.available)
            continue;
        ASSERT_TRUE(openpyxl.error.isEmpty()) << openpyxl.error.toStdString();
        ASSERT_NE(openpyxl.sheet(QStringLiteral("Calc (2)")), nullptr);
        EXPECT_EQ(openpyxl.sheet(QStringLiteral("Calc (2)"))->cells.value(QStringLiteral("B1")).toString(),
            QStringLiteral("=SUM(") + n + QStringLiteral("Data!$A$1:$A$4)"));
    }
}

TEST_F(SheetCopyTest, ThreeDimensionalSpansStayWhenEverySpannedSheetIsCopiedInOrder)
{
    // linked_sheets with Calc!A9 = SUM('Data:Other Sheet'!A1).
    const QString linked = gm::test::fixture(QStringLiteral("linked_sheets.xlsx"));
    const QString source = m_dir.filePath(QStringLiteral("spans.xlsx"));
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(linked)) {
        QByteArray bytes = gm::test::zipEntry(linked, name);
        if (name == QStringLiteral("xl/worksheets/sheet3.xml"))
            bytes.replace("</sheetData>",
                "<row r=\"9\"><c r=\"A9\"><f>SUM('Data:Other Sheet'!A1)</f></c></row>"
                "<row r=\"10\"><c r=\"A10\"><f>SUM(('Data:Other Sheet'!A1))</f></c></row></sheetData>");
        entries.append({name, bytes});
    }
    gm::test::writeZip(source, entries);
    ASSERT_EQ(
        formulasOf(source, QStringLiteral("Calc")).value(QStringLiteral("A9")), QStringLiteral("SUM('Data:Other Sheet'!A1)"));

    const QString data = QStringLiteral("Data"), other = QStringLiteral("Other Sheet"), calc = QStringLiteral("Calc");
    struct Case
    {
        const char *name;
        bool dataTaken; // the target already has a sheet named Data
        QStringList sheets; // copied together, in this order
        QString span; // Calc's A9 in the target
        QString inParentheses; // Calc's A10
    };
    // Spans over sheets not all copied in order read the source: one reference per sheet
    // as arguments of SUM, the span itself where a sheet list would read otherwise.
    const QString listed = QStringLiteral("SUM([1]Data!A1,'[1]Other Sheet'!A1)");
    const QString spanned = QStringLiteral("SUM(('[1]Data:Other Sheet'!A1))");
    const Case cases[] = {
        {"all in order", false, {data, other, calc}, QStringLiteral("SUM('Data:Other Sheet'!A1)"),
            QStringLiteral("SUM(('Data:Other Sheet'!A1))")},
        {"a renamed end", true, {data, other, calc}, QStringLiteral("SUM('Data (2):Other Sheet'!A1)"),
            QStringLiteral("SUM(('Data (2):Other Sheet'!A1))")},
        {"reversed", false, {other, data, calc}, listed, spanned},
        {"one end left behind", false, {data, calc}, listed, spanned},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), m_dir.path(),
            QString::fromUtf8(c.name) + QStringLiteral(".xlsx"));
        if (c.dataTaken)
            insert(target, source, data);
        const QByteArray before = gm::test::readAll(target);
        QStringList names;
        std::optional<EngineError> refused;
        {
            auto from = openPackage(source);
            auto workbook = openPackage(target);
            names = workbook->insertWorksheetCopies(*from, c.sheets, QString(), &refused);
            workbook->close(true);
        }
        EXPECT_FALSE(refused.has_value());
        EXPECT_NE(gm::test::readAll(target), before);
        EXPECT_EQ(formulasOf(target, names.last()).value(QStringLiteral("A9")), c.span);
        EXPECT_EQ(formulasOf(target, names.last()).value(QStringLiteral("A10")), c.inParentheses);
        if (c.span == listed) {
            const std::vector<LinkView> links = linksOf(target);
            ASSERT_EQ(links.size(), 1u);
            EXPECT_EQ(links[0].sheets, QStringList({data, other}));
        }
        expectConsistentPackage(target);
        const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(target);
        if (!read.available)
            continue;
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        EXPECT_EQ(read.sheet(names.last())->cells.value(QStringLiteral("A9")).toString(), u'=' + c.span);
    }
}

} // namespace
} // namespace gm::xlsx
