#pragma once
// Who holds a device: the lock table of the running system names the process
// that holds a lock on a file (the library takes one on every port it opens),
// and that process's name. Used to say "in use by pid N (program)" instead of
// a bare "busy", by the library when an open is refused and by the tools that
// list ports. Reads nothing but the lock table and one name file, so asking
// never disturbs the device.
#include <cstddef>
#include <cstdint>

// Looks for a lock on the file `caminho` (followed through symbolic links, so
// a stable alias names the same device) in `<raizProc>/locks` (`raizProc` is
// "/proc" on a running system; tests pass a fixture folder). Waiters queued
// behind a lock are not holders.
//
// Returns 1 when the file is locked: `*pid` is the holder's process id and
// `programa` its name from `<raizProc>/<pid>/comm` (terminated, cut to
// `capacidade` - 1 characters); the pid is 0 and the name empty when the lock
// table does not show the holder (a process of another pid namespace), the
// name alone is empty when the process ended meanwhile. Returns 0 when no lock
// is held, -1 when the file or the lock table cannot be read. `pid` and
// `programa` may be null.
int32_t DonoPorta(const char* caminho, const char* raizProc, int32_t* pid, char* programa, size_t capacidade);
