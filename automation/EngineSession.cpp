#include "automation/EngineSession.h"

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/Interruption.h"
#include "automation/Preflight.h"
#include "automation/lo/EngineProcess.h"
#include "automation/lo/LoApplication.h"
#include "automation/ole/XlsPropertyWorkbook.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QFile>

namespace gm {

EngineSession::EngineSession(ApplicationFactory factory) : m_factory(factory ? std::move(factory) : defaultFactory()) { }

EngineSession::~EngineSession()
{
    quit();
}

void EngineSession::removeDeadEngineLeftovers()
{
    lo::EngineProcess::removeStaleFolders();
}

bool EngineSession::engineBound(const QString &path, WorkbookUse use)
{
    switch (use) {
    case WorkbookUse::Engine:
        return true;
    case WorkbookUse::GuardedEngine: {
        // Only a zip package can be a workbook the package editor opens; a zip that is none
        // still reaches the engine, on whichever thread opens it.
        QFile file(path);
        return !file.open(QIODevice::ReadOnly) || file.read(4) != QByteArray("PK\x03\x04", 4);
    }
    case WorkbookUse::PackageMembers:
    case WorkbookUse::CellValues: // the record editor's; what it cannot store is redone on an engine
    case WorkbookUse::DocumentProperties:
    case WorkbookUse::Protection:
    case WorkbookUse::DocumentPasswords:
        break;
    }
    return false;
}

ApplicationFactory EngineSession::defaultFactory()
{
    return [] { return std::make_unique<lo::LoApplication>(libreOfficeProgramDir()); };
}

Application &EngineSession::libreOffice()
{
    if (m_libreOffice && !m_libreOffice->isAlive()) {
        std::unique_ptr<Application> dead;
        std::lock_guard lock(m_mutex);
        dead = std::move(m_libreOffice); // died or killed by its watchdog: replace it
    }
    if (!m_libreOffice) {
        // An interrupted run starts no engine.
        if (interruptRequested())
            throw EngineError(ErrorCode::Interrupted);
        // After two failed starts in a row the engine is taken as unavailable for the rest
        // of the run, so that a long list does not wait for every start to fail again.
        if (m_failedStarts >= 2)
            throw EngineError(ErrorCode::EngineUnavailable, m_startFailure);
        try {
            std::unique_ptr<Application> started = m_factory();
            started->setDisplayAlerts(false);
            started->setAlertBeforeOverwriting(false);
            std::lock_guard lock(m_mutex);
            m_libreOffice = std::move(started);
            m_failedStarts = 0;
        } catch (const EngineError &e) {
            ++m_failedStarts;
            m_startFailure = e.detail();
            throw EngineError(ErrorCode::EngineUnavailable, e.detail());
        }
    }
    return *m_libreOffice;
}

std::unique_ptr<Workbook> EngineSession::open(const QString &path, WorkbookUse use, bool readOnly)
{
    if (use != WorkbookUse::Engine) {
        // The package editor checks every entry itself while reading the package.
        const WorkbookKind kind = preflightWorkbook(path, !readOnly, false);
        if (kind == WorkbookKind::Xlsx && xlsx::isXlsxPackage(path))
            return xlsx::openPackage(path);
        if (use == WorkbookUse::Protection) {
            if (kind != WorkbookKind::Xls)
                throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("no SpreadsheetML package: %1").arg(path));
            try {
                return xls::openXlsRecords(path, readOnly);
            } catch (const EngineError &e) {
                if (e.code() == ErrorCode::UnsupportedFormat)
                    throw EngineError(ErrorCode::ProtectionNeedsBiff8, e.detail());
                throw;
            }
        }
        // Document properties of an .xls live in its own property streams.
        if (kind == WorkbookKind::Xls && use == WorkbookUse::DocumentProperties)
            return ole::openXlsProperties(path);
        // Sheets and page setup of an .xls are changed record by record. An Excel 5.0/95
        // workbook goes to the engine, which reads it and refuses to save it.
        if (kind == WorkbookKind::Xls && (use == WorkbookUse::PackageMembers || use == WorkbookUse::CellValues)) {
            try {
                return xls::openXlsRecords(path, readOnly);
            } catch (const EngineError &e) {
                if (e.code() != ErrorCode::UnsupportedFormat)
                    throw;
            }
        }
        if (kind == WorkbookKind::Xls && use == WorkbookUse::DocumentPasswords)
            return xls::openXlsRecords(path, readOnly);
        if (use == WorkbookUse::DocumentPasswords)
            throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("no editor writes passwords into %1").arg(path));
    }
    return libreOffice().open(path, readOnly);
}

std::unique_ptr<Workbook> EngineSession::add()
{
    return libreOffice().add();
}

void EngineSession::quit()
{
    if (m_libreOffice) {
        try {
            m_libreOffice->quit();
        } catch (const EngineError &) { }
        std::unique_ptr<Application> ended;
        std::lock_guard lock(m_mutex);
        ended = std::move(m_libreOffice);
    }
}

void EngineSession::abort()
{
    std::lock_guard lock(m_mutex);
    if (m_libreOffice)
        m_libreOffice->abort();
}

} // namespace gm
