// A SQLite VFS over the default one that writes a transaction's WAL frames with one system call
// instead of two per page. SQLite appends each frame as two writes (its 24-byte header, then
// the page), so a crawl page's COMMIT made about 37 pwrite calls under the storage lock. The
// frames are gathered in memory and written together when the commit frame is complete, so
// a failed write (a full volume) still fails that COMMIT; anything else that must see the log
// (a read, its size, a sync, a truncation, closing, and the shared-memory barrier by which a
// commit is published to other connections) writes what is gathered first. Nothing is kept
// across a COMMIT: a committed transaction is in the file when COMMIT returns, as without it.
//
// Only for connections in WAL mode with the wal-index in shared memory (the default); a
// connection in exclusive locking mode publishes without a barrier and must not use it.
#pragma once

namespace lumbrake {

// The VFS's name for sqlite3_open_v2, registered (not as the default) on the first call.
const char* wal_batching_vfs();

} // namespace lumbrake
