#pragma once

namespace gm {

// A run allocates and frees the same large buffers for every file: the file's bytes, its
// records or parsed parts, the new file. By default the C library hands freed memory back to
// the system as soon as a megabyte or so is free at the top of the heap, and serves blocks
// above 128 KiB from fresh mappings, so every file pays a page fault for each 4 KiB it touches
// again, which costs more than the editing itself on a virtual machine. Once this is called,
// blocks up to 32 MiB come from the heap and up to 64 MiB of free memory is kept for reuse.
// Affects the whole process; calling it again does nothing more.
void keepFreedMemoryForReuse();

} // namespace gm
