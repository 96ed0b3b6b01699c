#include "automation/lo/LoEngine.h"

#include "automation/EngineError.h"
#include "automation/Preflight.h"
#include "automation/lo/UnoSupport.h"

#include <QFile>
#include <QFileInfo>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <osl/file.hxx>

#include <cstdlib>
#include <mutex>
#include <thread>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

OUString fileUrl(const QString &path)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(toOU(QFileInfo(path).absoluteFilePath()), url);
    return url;
}

namespace {

// The local UNO runtime of this process, bootstrapped once from the engine's own
// fundamentalrc. Deliberately never destroyed: UNO's statics outlive ours at exit.
Reference<uno::XComponentContext> localContext(const QString &programDir)
{
    static std::mutex mutex;
    static Reference<uno::XComponentContext> *context = nullptr;
    std::lock_guard lock(mutex);
    if (!context) {
        const QByteArray ini = "vnd.sun.star.pathname:" + QFile::encodeName(programDir) + "/fundamentalrc";
        ::setenv("URE_BOOTSTRAP", ini.constData(), 1);
        context = new Reference<uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
    }
    return *context;
}

} // namespace

// ---------------------------------------------------------------- LoEngine

LoEngine::LoEngine(const QString &programDir, EngineLimits limits)
    : m_limits(limits),
      m_process(programDir),
      m_watchdog([this] { m_process.kill(); }, [this] { return m_process.runQueueWaits(); }, limits.maxStretch)
{
    Reference<uno::XComponentContext> local;
    try {
        local = localContext(programDir);
    } catch (const uno::Exception &e) {
        throw EngineError(ErrorCode::EngineUnavailable, toQ(e.Message));
    }
    // A start that fails is tried once more from a fresh profile, so that an engine that died
    // while starting, or a profile it left damaged, does not fail the file.
    for (int attempt = 1;; ++attempt) {
        try {
            start(local);
            return;
        } catch (const EngineError &e) {
            m_process.kill();
            m_process.waitOrKill(0);
            if (attempt == 2 || e.code() == ErrorCode::Interrupted)
                throw;
        }
        m_desktop.clear();
        m_context.clear();
        m_dead = false;
        m_watchdog.reset();
        m_process.resetProfile();
    }
}

void LoEngine::start(const Reference<uno::XComponentContext> &local)
{
    m_process.start();

    // Connect while the child is alive, until the start limit. Time the engine waited for a
    // CPU counts as it does for the watchdog, so that a busy machine does not fail the start.
    const OUString url = toOU(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(m_process.pipeName()));
    const auto begin = std::chrono::steady_clock::now();
    std::chrono::nanoseconds waitedEarlier{0}; // by processes that ended asking for a restart
    std::chrono::nanoseconds waited{0};
    try {
        Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        for (;;) {
            try {
                m_context.set(resolver->resolve(url), UNO_QUERY_THROW);
                break;
            } catch (const connection::NoConnectException &) { }
            if (!m_process.isRunning() && m_process.exitCode() == EngineProcess::kRestartRequested) {
                waitedEarlier += waited;
                waited = {};
                m_process.start();
                continue;
            }
            if (!m_process.isRunning())
                throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("soffice ended while starting"));
            waited = std::chrono::nanoseconds(EngineProcess::longestWaitSince(m_process.runQueueWaits(), {}));
            const auto elapsed = std::chrono::steady_clock::now() - begin;
            if (elapsed > m_limits.start + waitedEarlier + waited || elapsed > m_limits.start * m_limits.maxStretch)
                throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("no connection to soffice"));
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    } catch (const uno::Exception &e) {
        throw EngineError(ErrorCode::EngineUnavailable, toQ(e.Message));
    }
    m_process.started();

    call(m_limits.start, ErrorCode::EngineUnavailable, [&] {
        m_desktop = frame::Desktop::create(m_context);
        Reference<lang::XMultiServiceFactory> config = configuration::theDefaultProvider::get(m_context);
        auto access = [&](const char *node, bool update) {
            const uno::Any arg = uno::Any(prop("nodepath", uno::Any(OUString::createFromAscii(node))));
            return config->createInstanceWithArguments(update ? OUString("com.sun.star.configuration.ConfigurationUpdateAccess")
                                                              : OUString("com.sun.star.configuration.ConfigurationAccess"),
                uno::Sequence<uno::Any>(&arg, 1));
        };
        Reference<container::XNameAccess> product(access("/org.openoffice.Setup/Product", false), UNO_QUERY_THROW);
        OUString name, version;
        product->getByName("ooName") >>= name;
        product->getByName("ooSetupVersionAboutBox") >>= version;
        m_info.productName = toQ(name);
        m_info.version = toQ(version);
        m_info.xlsxReadWrite = true; // the Excel 2007 XML import and export filters ship with Calc
        m_info.maxRows = 1048576;
        // No backup copies in the profile: files with the same name from different folders
        // would overwrite each other's.
        Reference<beans::XPropertySet> save(access("/org.openoffice.Office.Common/Save/Document", true), UNO_QUERY);
        if (save.is()) {
            save->setPropertyValue("CreateBackup", uno::Any(false));
            Reference<util::XChangesBatch>(save, UNO_QUERY_THROW)->commitChanges();
        }
    });
}

LoEngine::~LoEngine()
{
    terminate();
}

void LoEngine::terminate()
{
    if (!m_dead && m_desktop.is()) {
        try {
            call(std::chrono::milliseconds(5000), ErrorCode::EngineDied, [&] { m_desktop->terminate(); });
        } catch (const EngineError &) { }
        m_desktop.clear();
        m_context.clear();
        m_process.waitOrKill(5000);
    } else {
        m_process.kill();
        m_process.waitOrKill(0);
    }
    m_dead = true;
    removeLockFiles();
}

std::chrono::milliseconds LoEngine::limitForFile(qint64 bytes) const
{
    return m_limits.fileBase + m_limits.perMegabyte * (bytes / (1024 * 1024));
}

bool LoEngine::isAlive()
{
    return !m_dead && m_process.isRunning();
}

EngineInfo LoEngine::info()
{
    return m_info;
}

void LoEngine::documentOpened(const QString &path)
{
    std::lock_guard lock(m_docsMutex);
    m_openDocuments.insert(path);
}

void LoEngine::documentClosed(const QString &path)
{
    std::lock_guard lock(m_docsMutex);
    m_openDocuments.remove(path);
}

void LoEngine::removeLockFiles()
{
    // The lock files this engine wrote beside the documents it had open.
    std::lock_guard lock(m_docsMutex);
    for (const QString &path : std::as_const(m_openDocuments))
        QFile::remove(lockFilePath(path));
    m_openDocuments.clear();
}

void LoEngine::markDead()
{
    if (m_dead)
        return;
    // Leave nothing of this engine behind: its process group, and the lock files it held.
    m_process.kill();
    m_process.waitOrKill(0);
    m_dead = true;
    m_desktop.clear();
    m_context.clear();
    removeLockFiles();
}

void LoEngine::rethrowAsEngineError(ErrorCode fallback)
{
    try {
        throw;
    } catch (const EngineError &) {
        throw;
    } catch (const lang::DisposedException &e) {
        markDead();
        throw EngineError(m_watchdog.fired() ? ErrorCode::TimedOut : ErrorCode::EngineDied, toQ(e.Message));
    } catch (const uno::RuntimeException &e) {
        if (m_watchdog.fired() || !m_process.isRunning()) {
            markDead();
            throw EngineError(m_watchdog.fired() ? ErrorCode::TimedOut : ErrorCode::EngineDied, toQ(e.Message));
        }
        throw EngineError(fallback, toQ(e.Message));
    } catch (const uno::Exception &e) {
        if (m_watchdog.fired()) {
            markDead();
            throw EngineError(ErrorCode::TimedOut, toQ(e.Message));
        }
        throw EngineError(fallback, toQ(e.Message));
    } catch (const std::exception &e) {
        throw EngineError(fallback, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace gm::lo
