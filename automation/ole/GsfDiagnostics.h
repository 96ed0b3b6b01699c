#pragma once

#include <QString>
#include <QStringList>

#include <glib.h>

#include <mutex>
#include <vector>

namespace gm::ole {

// libgsf reports trouble in a damaged compound file with g_warning and g_critical, which would
// otherwise be printed on standard error. While an instance lives, those messages are collected
// instead, so that they can become the detail of an error or be dropped. It also makes sure
// libgsf is initialised. One holder at a time: the handlers are process-wide, so an instance
// holds a lock that other threads wait for.
class GsfDiagnostics
{
public:
    GsfDiagnostics();
    ~GsfDiagnostics();
    GsfDiagnostics(const GsfDiagnostics &) = delete;
    GsfDiagnostics &operator=(const GsfDiagnostics &) = delete;

    // `what`, followed by the message of `error` and the collected messages, ": "-separated.
    QString detail(const QString &what, GError *error = nullptr) const;
    const QStringList &messages() const { return m_messages; }

private:
    std::unique_lock<std::recursive_mutex> m_lock;
    std::vector<guint> m_handlers;
    QStringList m_messages;
};

} // namespace gm::ole
