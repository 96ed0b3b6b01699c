#include "automation/Durability.h"

#include <QFile>
#include <QMap>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gm {

namespace {

// File systems (by device) written to in the current thread's run, with one folder on each.
thread_local QMap<dev_t, QByteArray> *t_pending = nullptr;

} // namespace

bool flushFile(int fd)
{
    if (!t_pending)
        return ::fsync(fd) == 0;
    return true; // the folder the file is renamed into is noted by flushFolder
}

void flushFolder(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (t_pending) {
        struct stat st
        {
        };
        if (::stat(name.constData(), &st) == 0 && !t_pending->contains(st.st_dev))
            t_pending->insert(st.st_dev, name);
        return;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

DeferredDurability::DeferredDurability()
{
    if (!t_pending) {
        t_pending = new QMap<dev_t, QByteArray>;
        m_owner = true;
    }
}

DeferredDurability::~DeferredDurability()
{
    if (!m_owner)
        return;
    QMap<dev_t, QByteArray> *pending = t_pending;
    t_pending = nullptr;
    for (const QByteArray &folder : std::as_const(*pending)) {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }
    delete pending;
}

} // namespace gm
