#include "automation/PdfPages.h"

namespace gm {

namespace {

bool isDelimiter(char c)
{
    return c == '/' || c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}' || c == '%';
}

bool isWhite(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

} // namespace

int pdfPageCount(const QByteArray &pdf)
{
    // "/Type" then optional white space then the name "/Page" ended by white space or a
    // delimiter: "/Pages" (the page tree's nodes) is a different name.
    static const QByteArray kType("/Type");
    int pages = 0;
    qsizetype at = 0;
    while ((at = pdf.indexOf(kType, at)) >= 0) {
        at += kType.size();
        qsizetype p = at;
        while (p < pdf.size() && isWhite(pdf[p]))
            ++p;
        if (!pdf.mid(p, 5).startsWith("/Page"))
            continue;
        p += 5;
        if (p == pdf.size() || isWhite(pdf[p]) || isDelimiter(pdf[p]))
            ++pages;
    }
    return pages;
}

} // namespace gm
