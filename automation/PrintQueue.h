#pragma once

// The system's print service (CUPS), through its command-line clients: which printers there
// are, which one is the default, and queuing a PDF file on one of them.

#include <QString>
#include <QStringList>

namespace gm {

// The destinations the print service knows; empty when it has none, is not running or is
// not installed.
QStringList systemPrinters();

// The destination jobs go to when none is named (the user's choice, else the system's);
// "" when there is none.
QString defaultPrinter();

// The printer a run sends its jobs to: `named` when the print service knows it, the default
// printer when no name is given; "" when there is no such printer.
QString resolvePrinter(const QString &named);

// Queues a PDF file on `printer` for `copies` collated copies, under the job title `title`,
// and returns the job's id ("Office-12"). The file is spooled when this returns, so it may
// be removed. Throws EngineError: PrinterUnavailable when the printer does not exist or
// takes no jobs, PrintJobFailed otherwise.
QString submitPrintJob(const QString &pdf, int copies, const QString &printer, const QString &title);

} // namespace gm
