#include "operations/workbook/HeaderFooterOperation.h"

#include "operations/Checks.h"

#include <QFileInfo>

#include <array>
#include <optional>

namespace gm {

Validation validateHeaderFooter(const HeaderFooterInputs &inputs)
{
    if (!QFileInfo(inputs.templatePath).isFile())
        return ValidationFailure{
            QStringLiteral("请选择已设置好页眉页脚的EXCEL文档模板！"), QStringLiteral("txtHeaderFooterTemplate")};
    return std::nullopt;
}

QString withoutPictureCodes(const QString &section)
{
    QString out;
    out.reserve(section.size());
    for (qsizetype i = 0; i < section.size(); ++i) {
        if (section[i] == QLatin1Char('&') && i + 1 < section.size()) {
            const QChar next = section[i + 1];
            if (next == QLatin1Char('G') || next == QLatin1Char('g')) {
                ++i;
                continue;
            }
            out += section[i];
            out += next;
            ++i;
            continue;
        }
        out += section[i];
    }
    return out;
}

RunSummary copyHeaderFooter(const HeaderFooterInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kHeaderFooterEmptyList, [&] { return validateHeaderFooter(inputs); }, failed))
        return stoppedRun();
    return runHeaderFooter(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runHeaderFooter(
    const HeaderFooterInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    constexpr std::array<HeaderFooterSection, 6> sections
        = {HeaderFooterSection::LeftHeader, HeaderFooterSection::CenterHeader, HeaderFooterSection::RightHeader,
            HeaderFooterSection::LeftFooter, HeaderFooterSection::CenterFooter, HeaderFooterSection::RightFooter};

    // The template's sections, read once from its active sheet when the first document
    // needs them; a template that cannot be read fails every document with its error.
    std::optional<std::array<QString, 6>> templateCodes;
    std::optional<EngineError> templateFailure;
    auto readTemplate = [&](FileContext &context) {
        if (templateCodes || templateFailure)
            return;
        try {
            auto workbook = context.engines().open(inputs.templatePath, WorkbookUse::PackageMembers, /*readOnly=*/true);
            auto sheet = workbook->activeSheet();
            std::array<QString, 6> codes;
            for (size_t i = 0; i < sections.size(); ++i)
                codes[i] = withoutPictureCodes(sheet->headerFooter(sections[i]));
            workbook->close(false);
            templateCodes = codes;
        } catch (const EngineError &e) {
            templateFailure = e;
        }
    };

    Operation operation;
    operation.options.actionName = kHeaderFooterAction;
    operation.options.completionMessage = kHeaderFooterDone;
    operation.options.testExistence = true;
    operation.options.readOnly = inputs.makeWritable ? ReadOnlyPolicy::MakeWritable : ReadOnlyPolicy::Skip;
    operation.options.use = WorkbookUse::PackageMembers;
    operation.options.saveMode = SaveMode::CloseSaving;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        readTemplate(context);
        if (templateFailure)
            throw *templateFailure;
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            try {
                auto sheet = workbook.worksheet(position);
                for (size_t i = 0; i < sections.size(); ++i) {
                    if ((i < 3 && !inputs.header) || (i >= 3 && !inputs.footer))
                        continue;
                    try {
                        sheet->setHeaderFooter(sections[i], (*templateCodes)[i]);
                    } catch (const EngineError &e) {
                        context.recordFailure(e);
                    }
                }
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
