#pragma once

#include "automation/xlsx/SplicedXmlPart.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace gm::xlsx {

// Rewrites the formula elements (f, formula, formula1, formula2, with any prefix) of a
// worksheet's cell data as it streams through a SplicedXmlPart, without a tree. Each formula's
// text, its entity and character references read, goes to `edit`, which appends the new text
// and returns true, or returns false to keep the element's bytes as they are. Everything else
// passes through untouched, so only the formulas that change are written again.
class FormulaTextRewrite : public SplicedXmlPart::Rewrite
{
public:
    using Edit = std::function<bool(QByteArrayView formula, QByteArray &out)>;
    explicit FormulaTextRewrite(Edit edit) : m_edit(std::move(edit)) { }

    void feed(const char *data, qsizetype size, QByteArray &out) override;
    void finish(QByteArray &out) override;

    // The formula's text as XML writes it: "&", "<" and ">" escaped, control characters as
    // character references.
    static void appendEscaped(QByteArrayView text, QByteArray &out);
    // The text of an element's content when it is plain character data; false when it holds
    // markup (CDATA, comments) or a reference that is not one of XML's own.
    static bool unescape(QByteArrayView content, QByteArray &out);

private:
    // Appends the element's new text to `out` and returns true when `edit` changes it.
    bool editElement(QByteArrayView element, QByteArrayView content, QByteArray &out);

    Edit m_edit;
    QByteArray m_buffer; // the stream's unread end: a tag or a formula element cut by a chunk
    QByteArray m_endTag; // of the last formula element read
    QByteArray m_plain;
    QByteArray m_edited;
    QByteArray m_out;
};

} // namespace gm::xlsx
