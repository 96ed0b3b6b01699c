#include "automation/KeyFilters.h"

#include <gtest/gtest.h>

namespace gm {
namespace {

const QString columnMessage = QStringLiteral("输入不合法，Excel文件的列以大写英文字母标识！");
const QString rowMessage = QStringLiteral("输入不合法，Excel文件的行以整数标识！");
const QString dialogRowMessage = QStringLiteral("输入不合法，请输入整数行号！");
const QString dialogColumnMessage = QStringLiteral("输入不合法，请输入整数列序号！");

struct KeyCase
{
    KeyFilter filter;
    char16_t typed;
    const char16_t *current;
    bool accept;
    char16_t inserted; // when accepted
    const QString *message; // when rejected: nullptr for a silent drop
};

std::string describe(const KeyCase &c)
{
    return "filter " + std::to_string(static_cast<int>(c.filter)) + ", key " + std::to_string(c.typed)
           + ", field \"" + QString::fromUtf16(c.current).toStdString() + '"';
}

TEST(KeyFilters, DecideOnEachKey)
{
    using F = KeyFilter;
    const KeyCase cases[] = {
        {F::ColumnLetterOrNumber, u'7', u"", true, u'7', nullptr},
        {F::ColumnLetterOrNumber, u'Q', u"A", true, u'Q', nullptr},
        {F::ColumnLetterOrNumber, u'q', u"", true, u'Q', nullptr},
        {F::ColumnLetterOrNumber, u'-', u"", false, 0, nullptr},
        {F::ColumnLetterOrNumber, u' ', u"A", false, 0, nullptr},
        {F::ColumnLetterOrNumber, u'\u00e9', u"", false, 0, nullptr},

        {F::ColumnLetters, u'c', u"", true, u'C', nullptr},
        {F::ColumnLetters, u'Z', u"A", true, u'Z', nullptr},
        {F::ColumnLetters, u'[', u"A", false, 0, &columnMessage},
        {F::ColumnLetters, u'`', u"", false, 0, &columnMessage},
        {F::ColumnLetters, u'1', u"", false, 0, &columnMessage},

        {F::RowNumber, u'0', u"", true, u'0', nullptr},
        {F::RowNumber, u'9', u"12", true, u'9', nullptr},
        {F::RowNumber, u'a', u"1", false, 0, &rowMessage},
        {F::RowNumber, u'.', u"1", false, 0, &rowMessage},
        {F::RowNumber, u'\uff11', u"", false, 0, &rowMessage}, // full-width digit

        {F::Size, u'5', u"", true, u'5', nullptr},
        {F::Size, u'.', u"12", true, u'.', nullptr},
        {F::Size, u'.', u"", true, u'.', nullptr},
        {F::Size, u'.', u"12.7", false, 0, nullptr},
        {F::Size, u'5', u"12.7", true, u'5', nullptr},
        {F::Size, u',', u"12", false, 0, nullptr},
        {F::Size, u'-', u"", false, 0, nullptr},

        {F::CellName, u'f', u"", true, u'F', nullptr},
        {F::CellName, u'F', u"", true, u'F', nullptr},
        {F::CellName, u'5', u"", false, 0, nullptr},
        {F::CellName, u'5', u"F", true, u'5', nullptr},
        {F::CellName, u'$', u"F", false, 0, nullptr},

        {F::DialogRow, u'3', u"", true, u'3', nullptr},
        {F::DialogRow, u'x', u"", false, 0, &dialogRowMessage},
        {F::DialogColumn, u'3', u"", true, u'3', nullptr},
        {F::DialogColumn, u'C', u"", false, 0, &dialogColumnMessage},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(describe(c));
        const KeyDecision d = filterKey(c.filter, QChar(c.typed), QString::fromUtf16(c.current));
        EXPECT_EQ(d.accept, c.accept);
        if (c.accept) {
            EXPECT_EQ(d.replacement, QString(QChar(c.inserted)));
            EXPECT_TRUE(d.message.isEmpty());
        } else {
            EXPECT_EQ(d.message, c.message ? *c.message : QString());
        }
    }
}

TEST(KeyFilters, BackspaceAlwaysPasses)
{
    for (KeyFilter f : {KeyFilter::ColumnLetterOrNumber, KeyFilter::ColumnLetters, KeyFilter::RowNumber,
                        KeyFilter::Size, KeyFilter::CellName, KeyFilter::DialogRow, KeyFilter::DialogColumn}) {
        for (const QString &current : {QString(), QStringLiteral("12.5")}) {
            SCOPED_TRACE(static_cast<int>(f));
            const KeyDecision d = filterKey(f, kBackspace, current);
            EXPECT_TRUE(d.accept);
            EXPECT_TRUE(d.message.isEmpty());
        }
    }
}

TEST(KeyFilters, ColumnLettersField)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"", u""}, {u"c", u"C"}, {u"aB", u"AB"}, {u"abc", u"AB"}, {u"IV", u"IV"},
    };
    for (const auto &[in, out] : cases) {
        SCOPED_TRACE(QString::fromUtf16(in).toStdString());
        EXPECT_EQ(normalizeColumnLettersField(QString::fromUtf16(in)), QString::fromUtf16(out));
    }
}

} // namespace
} // namespace gm
