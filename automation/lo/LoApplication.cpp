#include "automation/lo/LoApplication.h"

#include "automation/EngineError.h"
#include "automation/lo/LoEngine.h"
#include "automation/lo/LoWorkbook.h"
#include "automation/lo/UnoSupport.h"
#include "automation/xls/BiffInfo.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <mutex>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

namespace {

// Answers every request of a load with "abort", so that no prompt can ever wait for a user,
// and remembers what was asked to tell the failure apart.
class AbortingHandler : public cppu::WeakImplHelper1<task::XInteractionHandler>
{
public:
    void SAL_CALL handle(const Reference<task::XInteractionRequest> &request) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(toQ(request->getRequest().getValueTypeName()));
        }
        const auto continuations = request->getContinuations();
        for (const auto &continuation : continuations) {
            Reference<task::XInteractionAbort> abort(continuation, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

    bool asked(const char *fragment)
    {
        std::lock_guard lock(m_mutex);
        for (const QString &r : std::as_const(m_requests))
            if (r.contains(QLatin1String(fragment)))
                return true;
        return false;
    }

private:
    std::mutex m_mutex;
    QStringList m_requests;
};

bool filterAccepted(const QString &filter, WorkbookKind kind)
{
    if (kind == WorkbookKind::Xls)
        return filter == QStringLiteral("MS Excel 97") || filter == QStringLiteral("MS Excel 95")
            || filter == QStringLiteral("MS Excel 5.0/95");
    return filter == QStringLiteral("Calc MS Excel 2007 XML") || filter == QStringLiteral("Calc MS Excel 2007 VBA XML");
}

// The engine asks about, or opens read-only, a document whose lock file it cannot write
// beside it: either another program holds the workbook, or the disk has no room left.
ErrorCode lockRefusal(const QString &path)
{
    constexpr qint64 lockFileRoom = 64 * 1024;
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < lockFileRoom)
        return ErrorCode::DiskFull;
    return ErrorCode::InUse;
}

ErrorCode loadFailure(AbortingHandler &handler, const QString &path)
{
    if (handler.asked("PasswordRequest"))
        return ErrorCode::PasswordRequired;
    if (handler.asked("BrokenPackageRequest"))
        return ErrorCode::Damaged;
    if (handler.asked("NoSuchFilterRequest") || handler.asked("FilterOptionsRequest"))
        return ErrorCode::NotAWorkbook;
    if (handler.asked("Locked") || handler.asked("LockFile") || handler.asked("OwnLock"))
        return lockRefusal(path);
    return ErrorCode::Damaged;
}

} // namespace

LoApplication::LoApplication(const QString &programDir, EngineLimits limits)
    : m_engine(std::make_shared<LoEngine>(programDir, limits))
{ }

LoApplication::~LoApplication()
{
    m_engine->terminate();
}

EngineInfo LoApplication::info()
{
    return m_engine->info();
}

pid_t LoApplication::enginePid() const
{
    return m_engine->pid();
}

bool LoApplication::startedFromFinishedProfile() const
{
    return m_engine->startedFromFinishedProfile();
}

QStringList LoApplication::engineSockets() const
{
    return m_engine->socketPaths();
}

bool LoApplication::isAlive() const
{
    return m_engine->isAlive();
}

void LoApplication::abort()
{
    m_engine->kill();
}

void LoApplication::quit()
{
    m_engine->terminate();
}

std::unique_ptr<Workbook> LoApplication::open(const QString &path, bool readOnly)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return load(absolute, preflightWorkbook(absolute, !readOnly), readOnly, {});
}

std::unique_ptr<Workbook> LoApplication::openWithPassword(const QString &path, const QString &password)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // An encrypted package is a compound file like an .xls; its stream names tell them apart.
    WorkbookKind kind = WorkbookKind::Xls;
    try {
        kind = preflightWorkbook(absolute, false);
    } catch (const EngineError &e) {
        if (e.code() != ErrorCode::PasswordRequired)
            throw;
        kind = QFileInfo(absolute).suffix().startsWith(QLatin1String("xlsx"), Qt::CaseInsensitive) ? WorkbookKind::Xlsx
                                                                                                   : WorkbookKind::Xls;
    }
    return load(absolute, kind, true, password);
}

std::unique_ptr<Workbook> LoApplication::load(const QString &absolute, WorkbookKind kind, bool readOnly, const QString &password)
{
    rtl::Reference<AbortingHandler> handler(new AbortingHandler);
    std::vector<css::beans::PropertyValue> properties{
        prop("Hidden", uno::Any(true)),
        prop("ReadOnly", uno::Any(readOnly)),
        prop("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
        prop("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
        prop("InteractionHandler", uno::Any(Reference<task::XInteractionHandler>(handler.get()))),
    };
    if (!password.isEmpty())
        properties.push_back(prop("Password", uno::Any(toOU(password))));
    const css::uno::Sequence<css::beans::PropertyValue> args(properties.data(), sal_Int32(properties.size()));

    Reference<lang::XComponent> document;
    LoWorkbook::Source source;
    source.path = absolute;
    source.kind = kind;
    source.readOnly = readOnly;
    // The engine writes the file's lock file early in the load: an engine stopped under the
    // load (a cancel, its watchdog) must take it away too, so the file counts as open from here.
    if (!readOnly)
        m_engine->documentOpened(absolute);
    try {
        document = m_engine->call(m_engine->limitForFile(QFileInfo(absolute).size()), ErrorCode::Damaged,
            [&] { return m_engine->desktop()->loadComponentFromURL(fileUrl(absolute), "_blank", 0, args); });
    } catch (const EngineError &e) {
        m_engine->documentClosed(absolute); // a load that failed in a running engine leaves no lock
        if (e.code() == ErrorCode::Damaged)
            throw EngineError(loadFailure(*handler, absolute), e.detail());
        throw;
    }
    if (!document.is()) {
        m_engine->documentClosed(absolute);
        throw EngineError(loadFailure(*handler, absolute), absolute);
    }
    m_engine->documentOpened(absolute);

    // From here the document is owned by the workbook object, which closes it on failure.
    auto workbook = std::make_unique<LoWorkbook>(m_engine, document, source);
    const auto [filter, lockedByOther] = m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        OUString name;
        for (const auto &arg : Reference<frame::XModel>(document, UNO_QUERY_THROW)->getArgs())
            if (arg.Name == "FilterName")
                arg.Value >>= name;
        return std::pair(toQ(name), Reference<frame::XStorable>(document, UNO_QUERY_THROW)->isReadonly());
    });
    if (!filterAccepted(filter, kind))
        throw EngineError(ErrorCode::NotAWorkbook, filter);
    if (!readOnly && lockedByOther)
        throw EngineError(lockRefusal(absolute), absolute);

    workbook->setImportDetails(filter, kind == WorkbookKind::Xls ? readBiff(absolute) : BiffSummary{});
    return workbook;
}

std::unique_ptr<Workbook> LoApplication::add()
{
    Reference<lang::XComponent> document = m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        return m_engine->desktop()->loadComponentFromURL(
            "private:factory/scalc", "_blank", 0, descriptor({prop("Hidden", uno::Any(true))}));
    });
    if (!document.is())
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("new workbook"));
    LoWorkbook::Source source;
    source.newName = QStringLiteral("Book%1").arg(++m_newBooks);
    source.filterName = QStringLiteral("Calc MS Excel 2007 XML");
    return std::make_unique<LoWorkbook>(m_engine, document, source);
}

} // namespace gm::lo
