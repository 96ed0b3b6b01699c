#include "operations/workbook/HeaderFooterOperation.h"

#include "operations/Checks.h"

#include "automation/Preflight.h"

#include <QFileInfo>

#include <array>
#include <optional>

namespace gm {

namespace {
const QString kTemplateControl = QStringLiteral("txtHeaderFooterTemplate");
}

QString headerFooterTemplateProblem(const QString &description)
{
    return QStringLiteral("页眉页脚模板无法使用：") + description + kHeaderFooterNoTemplate;
}

Validation validateHeaderFooter(const HeaderFooterInputs &inputs)
{
    if (!QFileInfo(inputs.templatePath).isFile())
        return ValidationFailure{kHeaderFooterNoTemplate, kTemplateControl};
    try {
        preflightWorkbook(inputs.templatePath, /*forWriting=*/false);
    } catch (const EngineError &e) {
        return ValidationFailure{headerFooterTemplateProblem(e.description()), kTemplateControl};
    }
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

    BatchFrame frame(ui, settings, std::move(engineFactory));

    // The template's sections, read once from its active sheet before any document is opened.
    // A template that cannot be read is one problem of the run, not one of every document.
    std::array<QString, 6> templateCodes;
    QString templateFailure;
    ui.setBusy(true);
    try {
        auto workbook = frame.engines().open(inputs.templatePath, WorkbookUse::PackageMembers, /*readOnly=*/true);
        auto sheet = workbook->activeSheet();
        for (size_t i = 0; i < sections.size(); ++i)
            templateCodes[i] = withoutPictureCodes(sheet->headerFooter(sections[i]));
        workbook->close(false);
    } catch (const EngineError &e) {
        templateFailure = e.description();
    } catch (const std::exception &) {
        templateFailure = EngineError::describe(ErrorCode::Unexpected);
    }
    ui.setBusy(false);
    if (!templateFailure.isEmpty()) {
        frame.engines().quit();
        ui.inform(headerFooterTemplateProblem(templateFailure));
        return stoppedRun();
    }

    Operation operation;
    operation.options.actionName = kHeaderFooterAction;
    operation.options.completionMessage = kHeaderFooterDone;
    operation.options.testExistence = true;
    operation.options.readOnly = inputs.makeWritable ? ReadOnlyPolicy::MakeWritable : ReadOnlyPolicy::Skip;
    operation.options.use = WorkbookUse::PackageMembers;
    operation.options.saveMode = SaveMode::CloseSaving;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            try {
                auto sheet = workbook.worksheet(position);
                for (size_t i = 0; i < sections.size(); ++i) {
                    if ((i < 3 && !inputs.header) || (i >= 3 && !inputs.footer))
                        continue;
                    try {
                        sheet->setHeaderFooter(sections[i], templateCodes[i]);
                    } catch (const EngineError &e) {
                        context.recordFailure(e);
                    }
                }
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    return frame.run(inputs.entries, operation);
}

} // namespace gm
