#include "cli/PasswordInput.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace gm::cli {

namespace {

QString firstLine(const QByteArray &bytes)
{
    QByteArray line = bytes;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0)
        line.truncate(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

std::optional<QString> readStandardInputLine()
{
    std::string line;
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(static_cast<char>(c));
    }
    if (!any)
        return std::nullopt;
    return firstLine(QByteArray::fromStdString(line));
}

} // namespace

void PasswordSource::addTo(QCommandLineParser &parser) const
{
    parser.addOption(file);
}

std::optional<QString> PasswordSource::read(const QCommandLineParser &parser, const QString &prompt,
                                            QString *error) const
{
    if (parser.isSet(file)) {
        QFile source(parser.value(file));
        if (!source.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("无法读取密码文件：%1").arg(parser.value(file));
            return std::nullopt;
        }
        return firstLine(source.read(64 * 1024));
    }
    if (qEnvironmentVariableIsSet(environmentVariable.toLocal8Bit().constData()))
        return qEnvironmentVariable(environmentVariable.toLocal8Bit().constData());

    if (!isatty(STDIN_FILENO)) {
        std::optional<QString> line = readStandardInputLine();
        if (!line)
            *error = QStringLiteral("没有给出密码（--password-file、环境变量 %1 或标准输入）。").arg(environmentVariable);
        return line;
    }

    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool canHide = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<QString> line = readStandardInputLine();
    if (canHide)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
    if (!line)
        *error = QStringLiteral("没有输入密码。");
    return line;
}

} // namespace gm::cli
