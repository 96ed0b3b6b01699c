#pragma once

#include "automation/BatchFrame.h"

#include <QString>
#include <QStringList>

#include <array>

namespace gm {

// Document properties: each ticked value is written unchanged into the same built-in
// property of every listed workbook, which is then saved.

constexpr int kPropertyCount = 9;

// The property of pair i of the panel (ChkProperty(i) / txtProperty(i)).
DocumentProperty propertyOfPair(int index);

struct PropertiesInputs
{
    QStringList entries;
    std::array<bool, kPropertyCount> checked{};
    std::array<QString, kPropertyCount> values;
};

inline const QString kPropertiesEmptyList = QStringLiteral("没有需要设置“属性-摘要”的文档！");
inline const QString kPropertiesAction = QStringLiteral("摘要设置");
inline const QString kPropertiesDone = QStringLiteral("属性：摘要设置完成！");

// The settings mask of the ticked boxes (bit i for pair i) and back.
int propertyMask(const std::array<bool, kPropertyCount> &checked);
std::array<bool, kPropertyCount> propertyChecks(int mask);

// Check list, then the run. The window calls Check list itself on the GUI thread and
// runProperties on a worker.
RunSummary setProperties(
    const PropertiesInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});
RunSummary runProperties(
    const PropertiesInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
