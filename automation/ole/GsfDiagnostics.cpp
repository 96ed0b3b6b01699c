#include "automation/ole/GsfDiagnostics.h"

#include <gsf/gsf-utils.h>

namespace gm::ole {

namespace {

constexpr const char *kDomains[] = {nullptr, "libgsf", "libgsf:msole", "GLib", "GLib-GObject"};

std::recursive_mutex &handlerMutex()
{
    static std::recursive_mutex instance;
    return instance;
}

void collect(const gchar *, GLogLevelFlags, const gchar *message, gpointer data)
{
    auto *messages = static_cast<QStringList *>(data);
    if (messages->size() < 8)
        messages->append(QString::fromUtf8(message));
}

} // namespace

GsfDiagnostics::GsfDiagnostics() : m_lock(handlerMutex())
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
    for (const char *domain : kDomains)
        m_handlers.push_back(g_log_set_handler(
            domain, GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION), collect, &m_messages));
}

GsfDiagnostics::~GsfDiagnostics()
{
    for (size_t i = 0; i < m_handlers.size(); ++i)
        g_log_remove_handler(kDomains[i], m_handlers[i]);
}

QString GsfDiagnostics::detail(const QString &what, GError *error) const
{
    QStringList parts{what};
    if (error && error->message)
        parts << QString::fromUtf8(error->message);
    parts << m_messages;
    return parts.join(QStringLiteral(": "));
}

} // namespace gm::ole
