// The name rule and the position rule of the sheet operations.

#include "operations/sheets/SheetOperations.h"
#include "operations/sheets/SheetSelection.h"

#include <gtest/gtest.h>

using namespace gm;

TEST(SheetSelection, NameRuleComparesWithoutCaseAndWithoutTrimming)
{
    struct Case
    {
        int kind;
        const char16_t *name;
        const char16_t *text;
        bool expected;
    };
    const Case cases[] = {
        {0, u"Sheet1", u"sheet1", true},
        {0, u"Sheet1", u"SHEET1", true},
        {0, u"Sheet1", u"Sheet", false},
        {0, u"Sheet1", u"Sheet1 ", false},
        {0, u" Sheet1", u"Sheet1", false},
        {1, u"Sheet1", u"Sheet", true},
        {1, u"sheet2", u"Sheet", true},
        {1, u"Data", u"Sheet", false},
        {1, u"数据表一", u"表", true},
        {1, u"Sheet1", u"1", true},
        {2, u"Sheet1", u"Sheet1", false},
        {2, u"SHEET1", u"Sheet1", false},
        {2, u"Sheet2", u"Sheet1", true},
        {3, u"My Sheet", u" ", false},
        {3, u"MySheet", u" ", true},
        {3, u"Sheet2", u"2", false},
        {3, u"Straße", u"STRASSE", true},
        {4, u"Sheet1", u"Sheet1", false},
        {-1, u"Sheet1", u"Sheet1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.name).toStdString() + " / " + QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(MatchSheetName(c.kind, QString::fromUtf16(c.name), QString::fromUtf16(c.text)), c.expected)
            << "kind " << c.kind;
    }
}

TEST(SheetSelection, PositionIsASigned16BitWholeNumber)
{
    const std::pair<const char *, std::optional<qint16>> cases[] = {
        {"1", 1},
        {"12", 12},
        {"0", 0},
        {" 3 ", 3},
        {"32767", 32767},
        {"32768", std::nullopt},
        {"-1", -1},
        {"", std::nullopt},
        {"1.5", std::nullopt},
        {"a", std::nullopt},
        {"１", std::nullopt},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(sheetPositionOf(QString::fromUtf8(text)), expected);
    }
}

TEST(SheetSelection, InputChecksGiveTheMessageAndTheControlToFocus)
{
    struct Case
    {
        const char *what;
        Validation result;
        const char16_t *message; // null: passes
        const char *control;
    };
    const Case cases[] = {
        {"delete by empty name", validateDeleteSheets({{}, true, 0, {}, QStringLiteral("1")}), u"请输入工作表的名称！",
            "txtDelSheet"},
        {"delete by blank name", validateDeleteSheets({{}, true, 0, QStringLiteral(" "), {}}), nullptr, ""},
        {"delete by empty position", validateDeleteSheets({{}, false, 0, QStringLiteral("x"), {}}), u"请输入工作表的序号！",
            "CmbDelsheetPosition"},
        {"hide by empty name", validateHideSheets({{}, true, 2, {}, {}}), u"请输入工作表的名称！", "txtHideSheet"},
        {"hide by empty position", validateHideSheets({{}, false, 0, {}, {}}), u"请输入工作表的序号！", "CmbHideSheetPosition"},
        {"unhide all", validateUnhideSheets({{}, true, 0, {}}), nullptr, ""},
        {"unhide by empty name", validateUnhideSheets({{}, false, 0, {}}), u"请输入工作表的名称！", "txtDisplaySheet"},
        {"replace blanks", validateRenameSheets({{}, 0, QStringLiteral("  "), QStringLiteral("x"), {}}),
            u"请输入工作表名称中需替换的内容！", "txtSheetOldName"},
        {"replace with nothing", validateRenameSheets({{}, 0, QStringLiteral(" a"), {}, {}}), nullptr, ""},
        {"active name blank", validateRenameSheets({{}, 1, QStringLiteral("a"), {}, QStringLiteral(" ")}),
            u"请输入要批量设置的活动工作表名称！", "txtSheetName"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.message) {
            EXPECT_FALSE(c.result);
            continue;
        }
        ASSERT_TRUE(c.result);
        EXPECT_EQ(c.result->message, QString::fromUtf16(c.message));
        EXPECT_EQ(c.result->control, QString::fromUtf8(c.control));
    }
}
