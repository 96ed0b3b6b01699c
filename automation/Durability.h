#pragma once

#include <QString>

namespace gm {

// Every file a save writes is flushed to disk before it replaces the original, and the folder
// after the rename. A batch run opens a DeferredDurability: inside it, the writers only note
// the file systems they wrote to, and one flush of each at the end of the run makes every
// change durable before the run reports its end. Replacement by rename keeps each file whole
// meanwhile (old or new content, never a mix), and the per-file flushes, which cost far more
// than the change itself, are paid once.

// Flushes an open file now, or notes its file system for the end of the run.
bool flushFile(int fd);
// Flushes a folder (after a rename into it) now, or notes its file system.
void flushFolder(const QString &folder);

class DeferredDurability
{
public:
    DeferredDurability();
    ~DeferredDurability(); // flushes every file system written to during its lifetime
    DeferredDurability(const DeferredDurability &) = delete;
    DeferredDurability &operator=(const DeferredDurability &) = delete;

private:
    bool m_owner = false; // nested scopes leave the flush to the outermost one
};

} // namespace gm
