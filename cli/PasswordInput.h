#pragma once

#include <QCommandLineOption>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace gm::cli {

// Where a command takes a password from. A password is never a plain argument, so that it does
// not show in the process list or the shell's history: it comes from the first line of a file
// (--password-file), from an environment variable, or from the terminal without echo. When standard
// input is not a terminal, its first line is read instead, so that scripts can pipe it in.
struct PasswordSource
{
    QCommandLineOption file{QStringLiteral("password-file"), QString(), QStringLiteral("file")};
    QString environmentVariable = QStringLiteral("GRIDMULE_PASSWORD");

    void addTo(QCommandLineParser &parser) const;

    // The password, or nothing with *error set. An empty password is a valid answer.
    std::optional<QString> read(const QCommandLineParser &parser, const QString &prompt, QString *error) const;
};

} // namespace gm::cli
