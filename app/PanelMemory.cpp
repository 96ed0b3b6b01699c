#include "app/PanelMemory.h"

#include "app/SettingsStore.h"

namespace gm {

namespace {

const QString kPage = QStringLiteral("Page");
const QString kBatchSheet = QStringLiteral("BatchSheetOP");
const QString kParam = QStringLiteral("Param");

QString propertyKey(int index)
{
    return QStringLiteral("txtProperty") + QString::number(index);
}

} // namespace

SheetOperation PanelMemory::sheetOperation() const
{
    if (opIndex >= 1 && opIndex <= 5)
        return static_cast<SheetOperation>(opIndex);
    return SheetOperation::Delete;
}

void PanelMemory::readPage(const SettingsStore &store)
{
    store.readInt16(kPage, QStringLiteral("PageIndex"), kDefaultPageIndex, pageIndex);
}

void PanelMemory::readInputs(const SettingsStore &store)
{
    activeSheetName = store.read(kBatchSheet, QStringLiteral("ActiveSheetName"));
    sheetOldName = store.read(kBatchSheet, QStringLiteral("SheetOldName"));
    sheetNewName = store.read(kBatchSheet, QStringLiteral("SheetNewName"));
    store.readInt16(kBatchSheet, QStringLiteral("OpIndex"), 0, opIndex);
    store.readInt16(kBatchSheet, QStringLiteral("OptBatchRenameSheet"), 1, optBatchRenameSheet);
    for (int i = 0; i < kPropertyCount; ++i)
        properties[i] = store.read(kParam, propertyKey(i));
    store.readInt32(kParam, QStringLiteral("Abstract"), 0, abstractMask);
}

void PanelMemory::write(SettingsStore &store) const
{
    if (hasPage())
        store.writeNumber(kPage, QStringLiteral("PageIndex"), pageIndex);
    store.write(kBatchSheet, QStringLiteral("ActiveSheetName"), activeSheetName);
    store.write(kBatchSheet, QStringLiteral("SheetOldName"), sheetOldName);
    store.write(kBatchSheet, QStringLiteral("SheetNewName"), sheetNewName);
    store.writeNumber(kBatchSheet, QStringLiteral("OpIndex"), opIndex);
    store.writeNumber(kBatchSheet, QStringLiteral("OptBatchRenameSheet"), optBatchRenameSheet == 1 ? 1 : 0);
    for (int i = 0; i < kPropertyCount; ++i)
        store.write(kParam, propertyKey(i), properties[i]);
    store.writeNumber(kParam, QStringLiteral("Abstract"), abstractMask);
    store.sync();
}

} // namespace gm
