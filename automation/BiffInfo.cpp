#include "automation/BiffInfo.h"

#include <QFile>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

namespace gm {

namespace {

template<typename T> struct GPtr
{
    T *p = nullptr;
    ~GPtr()
    {
        if (p)
            g_object_unref(p);
    }
};

quint16 le16(const guint8 *d)
{
    return static_cast<quint16>(d[0] | (d[1] << 8));
}

} // namespace

int biffActiveSheet(const QString &path)
{
    gsf_init();
    GPtr<GsfInput> input{gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr)};
    if (!input.p)
        return -1;
    GPtr<GsfInfile> ole{GSF_INFILE(gsf_infile_msole_new(input.p, nullptr))};
    if (!ole.p)
        return -1;
    GPtr<GsfInput> stream{gsf_infile_child_by_name(ole.p, "Workbook")};
    if (!stream.p)
        stream.p = gsf_infile_child_by_name(ole.p, "Book");
    if (!stream.p)
        return -1;

    // Walk the records of the workbook globals up to their EOF record.
    constexpr quint16 kWindow1 = 0x003D, kEof = 0x000A, kFilePass = 0x002F;
    int records = 0;
    while (gsf_input_remaining(stream.p) >= 4 && records++ < 100000) {
        const guint8 *header = gsf_input_read(stream.p, 4, nullptr);
        if (!header)
            return -1;
        const quint16 id = le16(header);
        const quint16 length = le16(header + 2);
        if (id == kEof || id == kFilePass)
            return -1;
        if (length == 0)
            continue;
        const guint8 *data = gsf_input_read(stream.p, length, nullptr);
        if (!data)
            return -1;
        if (id == kWindow1 && length >= 12)
            return le16(data + 10);
    }
    return -1;
}

} // namespace gm
