#include "automation/ole/XlsPropertyWorkbook.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/ole/CompoundFile.h"
#include "automation/ole/PropertySetStream.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace gm::ole {

namespace {

const QByteArray summaryStreamName = QByteArrayLiteral("\005SummaryInformation");
const QByteArray documentSummaryStreamName = QByteArrayLiteral("\005DocumentSummaryInformation");
const QString linkBaseName = QStringLiteral("_PID_LINKBASE");
constexpr quint16 defaultCodePage = 1252;

// Where a property lives: its stream, and its id in the stream's first section (0 for the
// hyperlink base, which is named in the User Defined section).
struct Location
{
    bool summary;
    quint32 id;
};

Location locationOf(DocumentProperty property)
{
    switch (property) {
    case DocumentProperty::Title:
        return {true, 2};
    case DocumentProperty::Subject:
        return {true, 3};
    case DocumentProperty::Author:
        return {true, 4};
    case DocumentProperty::Keywords:
        return {true, 5};
    case DocumentProperty::Comments:
        return {true, 6};
    case DocumentProperty::Category:
        return {false, 2};
    case DocumentProperty::Manager:
        return {false, 14};
    case DocumentProperty::Company:
        return {false, 15};
    case DocumentProperty::HyperlinkBase:
        break;
    }
    return {false, 0};
}

[[noreturn]] void notSupported(const char *member)
{
    throw EngineError(ErrorCode::NotSupported, QStringLiteral("%1 of a .xls opened for its document properties").arg(QLatin1String(member)));
}

} // namespace

// One property-set stream of the workbook: as read, and with the values set since.
struct XlsPropertyWorkbook::StreamState
{
    QByteArray name;
    bool present = false;
    QByteArray original;
    std::optional<PropertySetStream> stream; // none when absent or unreadable
    QString error; // why a present stream could not be read

    void requireReadable() const
    {
        if (!error.isEmpty())
            throw EngineError(ErrorCode::Damaged, QString::fromUtf8(name.mid(1)) + QStringLiteral(": ") + error);
    }
};

XlsPropertyWorkbook::XlsPropertyWorkbook(const QString &path) : m_path(QFileInfo(path).absoluteFilePath())
{
    const QByteArray bytes = readWholeFile(m_path);
    if (bytes.isEmpty())
        throw EngineError(ErrorCode::EmptyFile, m_path);
    if (!CompoundFile::isCompoundFile(bytes))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1: no compound file").arg(m_path));
    load(bytes);
}

XlsPropertyWorkbook::~XlsPropertyWorkbook() = default;

void XlsPropertyWorkbook::load(const QByteArray &bytes)
{
    const CompoundEntry root = CompoundFile::read(bytes);
    auto stateOf = [&root](const QByteArray &name) {
        auto state = std::make_unique<StreamState>();
        state->name = name;
        const CompoundEntry *entry = root.child(name);
        if (!entry || entry->isStorage)
            return state;
        state->present = true;
        state->original = entry->data;
        try {
            state->stream.emplace(entry->data);
        } catch (const EngineError &error) {
            state->error = error.detail();
        }
        return state;
    };
    m_summary = stateOf(summaryStreamName);
    m_documentSummary = stateOf(documentSummaryStreamName);
    m_bytes = bytes;
    m_staged = false;
}

void XlsPropertyWorkbook::ensureOpen() const
{
    if (!m_open)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1 is closed").arg(m_path));
}

XlsPropertyWorkbook::StreamState &XlsPropertyWorkbook::streamOf(DocumentProperty property)
{
    return locationOf(property).summary ? *m_summary : *m_documentSummary;
}

QString XlsPropertyWorkbook::name() const
{
    return QFileInfo(m_path).fileName();
}

QString XlsPropertyWorkbook::fullName() const
{
    return m_path;
}

int XlsPropertyWorkbook::worksheetCount()
{
    notSupported("Worksheets");
}

std::unique_ptr<Worksheet> XlsPropertyWorkbook::worksheet(int)
{
    notSupported("Worksheets");
}

std::unique_ptr<Worksheet> XlsPropertyWorkbook::worksheet(const QString &)
{
    notSupported("Worksheets");
}

int XlsPropertyWorkbook::sheetCount()
{
    notSupported("Sheets");
}

std::unique_ptr<Worksheet> XlsPropertyWorkbook::sheet(int)
{
    notSupported("Sheets");
}

std::unique_ptr<Worksheet> XlsPropertyWorkbook::sheet(const QString &)
{
    notSupported("Sheets");
}

std::unique_ptr<Worksheet> XlsPropertyWorkbook::activeSheet()
{
    notSupported("ActiveSheet");
}

QString XlsPropertyWorkbook::builtinProperty(DocumentProperty property)
{
    ensureOpen();
    const StreamState &state = streamOf(property);
    state.requireReadable();
    if (!state.stream)
        return {};
    const Location location = locationOf(property);
    if (property == DocumentProperty::HyperlinkBase) {
        const PropertySection *section = state.stream->section(userDefinedPropertiesId);
        if (!section)
            return {};
        const std::optional<quint32> id = section->idOfName(linkBaseName);
        return id ? section->text(*id) : QString();
    }
    const PropertySection *section = state.stream->section(location.summary ? summaryInformationId : documentSummaryInformationId);
    return section ? section->text(location.id) : QString();
}

void XlsPropertyWorkbook::setBuiltinProperty(DocumentProperty property, const QString &value)
{
    ensureOpen();
    StreamState &state = streamOf(property);
    state.requireReadable();
    const Location location = locationOf(property);
    // Changes go to a copy first, so that a value that cannot be written leaves no trace.
    PropertySetStream stream = state.stream ? *state.stream : PropertySetStream();
    if (location.summary) {
        stream.ensureSection(summaryInformationId, defaultCodePage).setText(location.id, value);
    } else if (property != DocumentProperty::HyperlinkBase) {
        stream.ensureSection(documentSummaryInformationId, defaultCodePage).setText(location.id, value);
    } else {
        // The User Defined section comes second, after a Document Summary Information
        // section; a new one takes that section's code page.
        const quint16 codePage = stream.ensureSection(documentSummaryInformationId, defaultCodePage).codePage();
        PropertySection &userDefined = stream.ensureSection(userDefinedPropertiesId, codePage);
        const std::optional<quint32> id = userDefined.idOfName(linkBaseName);
        userDefined.setUnicodeBlob(id ? *id : userDefined.addName(linkBaseName), value);
    }
    state.stream = std::move(stream);
    m_staged = true;
}

void XlsPropertyWorkbook::save()
{
    ensureOpen();
    const QString target = QFileInfo(m_path).canonicalFilePath();
    if (target.isEmpty())
        throw EngineError(ErrorCode::FileNotFound, m_path);
    if (!isOwnerWritable(target))
        throw EngineError(ErrorCode::ReadOnlyFile, m_path);
    if (!m_staged)
        return;
    const QByteArray current = readWholeFile(target);
    if (current != m_bytes)
        throw EngineError(ErrorCode::InUse, QStringLiteral("%1 changed on disk since it was opened").arg(m_path));

    CompoundEntry root = CompoundFile::read(current);
    bool changed = false;
    for (const StreamState *state : {m_summary.get(), m_documentSummary.get()}) {
        if (!state->stream || !state->stream->isModified())
            continue;
        const QByteArray bytes = state->stream->toBytes();
        if (state->present && bytes == state->original)
            continue;
        CompoundEntry *entry = root.child(state->name);
        if (!entry) {
            root.children.push_back(CompoundEntry{state->name, false, {}, {}, {}});
            entry = &root.children.back();
        }
        entry->data = bytes;
        changed = true;
    }
    if (!changed) {
        m_staged = false;
        return;
    }

    const QByteArray written = CompoundFile::write(root);
    const QString temporary = temporarySiblingPath(target, QLatin1Char('.') + QFileInfo(target).suffix());
    writeNewFile(temporary, written);
    // The new file must read back as exactly the intended tree before it replaces the old.
    QString difference;
    try {
        difference = CompoundFile::difference(root, CompoundFile::readFile(temporary));
    } catch (const EngineError &error) {
        difference = error.detail();
    }
    if (!difference.isEmpty()) {
        QFile::remove(temporary);
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("the new compound file does not read back: %1").arg(difference));
    }
    replaceWithTemporary(temporary, target);
    load(written);
}

void XlsPropertyWorkbook::saveAs(const QString &, int)
{
    notSupported("SaveAs");
}

void XlsPropertyWorkbook::close(bool saveChanges)
{
    if (!m_open)
        return;
    if (saveChanges)
        save();
    m_open = false;
}

std::unique_ptr<Workbook> openXlsProperties(const QString &path)
{
    return std::make_unique<XlsPropertyWorkbook>(path);
}

} // namespace gm::ole
