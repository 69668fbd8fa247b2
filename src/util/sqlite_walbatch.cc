#include "util/sqlite_walbatch.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace lumbrake {

namespace {

constexpr int frame_header_size = 24;
// A large transaction (a source record of a million seeds) is written in parts of this size.
constexpr std::size_t max_gathered = std::size_t{1} << 20;
constexpr std::size_t kept_capacity = 256 * 1024;
// The default VFS writes at most 128 KiB - 1 bytes a call (it masks the length).
constexpr std::size_t max_write = 120 * 1024;

sqlite3_vfs* real_vfs = nullptr;

struct batch_file {
    sqlite3_file base{};
    sqlite3_file* real = nullptr; // the default VFS's file, in the same allocation
    bool wal = false;

    // The rest is the log's alone.
    std::mutex m;
    std::string gathered;
    sqlite3_int64 gathered_at = 0;
    // Offset of the page of a commit frame whose header was just written; -1 when none.
    sqlite3_int64 commit_page_at = -1;
    // After a commit frame, until the next transaction's first frame: SQLite may rewrite
    // checksums of the frames just committed, and those writes go straight to the file.
    bool after_commit = false;
    sqlite3_int64 committed_end = 0;
    // The barrier's write failed: the next write or sync reports it.
    int deferred = SQLITE_OK;
    std::atomic<bool> pending{false};
};

batch_file* self(sqlite3_file* f) {
    return reinterpret_cast<batch_file*>(f);
}
const sqlite3_io_methods& real_io(batch_file* f) {
    return *f->real->pMethods;
}

// Every open log, for the barrier; files are added and removed here without holding their own
// mutex, and the barrier takes this one before a file's, so the two never wait on each other.
std::mutex registry_mutex;
std::vector<batch_file*> open_logs;
// Logs holding gathered bytes. Every read transaction of every connection passes a barrier; with
// none gathered (nearly always: a commit writes its frames at once) it takes no lock.
std::atomic<int> logs_pending{0};

void set_pending(batch_file* f, bool pending) {
    if (f->pending.load(std::memory_order_relaxed) == pending) return;
    f->pending.store(pending, std::memory_order_relaxed);
    logs_pending.fetch_add(pending ? 1 : -1, std::memory_order_release);
}

int flush_locked(batch_file* f) {
    int rc = SQLITE_OK;
    for (std::size_t done = 0; done < f->gathered.size() && rc == SQLITE_OK; done += max_write) {
        const std::size_t n = std::min(max_write, f->gathered.size() - done);
        rc = real_io(f).xWrite(f->real, f->gathered.data() + done, static_cast<int>(n),
                               f->gathered_at + static_cast<sqlite3_int64>(done));
    }
    f->gathered.clear();
    // A crawl page's COMMIT gathers well under this; what a large transaction took is given
    // back, so that idle connections do not keep a megabyte each.
    if (f->gathered.capacity() > kept_capacity) f->gathered.shrink_to_fit();
    set_pending(f, false);
    return rc;
}

int take_deferred(batch_file* f) {
    const int rc = f->deferred;
    f->deferred = SQLITE_OK;
    return rc;
}

// What SQLite reads, sizes, syncs or truncates is in the file first.
int flush_before(batch_file* f) {
    if (!f->wal) return SQLITE_OK;
    std::lock_guard<std::mutex> lock(f->m);
    if (int rc = take_deferred(f); rc != SQLITE_OK) return rc;
    return flush_locked(f);
}

int wal_write(batch_file* f, const void* data, int n, sqlite3_int64 off) {
    std::lock_guard<std::mutex> lock(f->m);
    if (int rc = take_deferred(f); rc != SQLITE_OK) return rc;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (f->after_commit) {
        // The next transaction's frames follow the last commit, or begin the log again with
        // its header; anything else rewrites what was committed.
        if (off != f->committed_end && off != 0) return real_io(f).xWrite(f->real, data, n, off);
        f->after_commit = false;
    }
    const sqlite3_int64 end = f->gathered_at + static_cast<sqlite3_int64>(f->gathered.size());
    if (!f->gathered.empty() && off != end) {
        if (int rc = flush_locked(f); rc != SQLITE_OK) return rc;
    }
    if (f->gathered.empty()) {
        f->gathered_at = off;
        set_pending(f, true);
    }
    f->gathered.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));

    if (n == frame_header_size) {
        // Bytes 4-7 of a frame header: the database's size after the commit, 0 in other frames.
        const bool commit = bytes[4] | bytes[5] | bytes[6] | bytes[7];
        f->commit_page_at = commit ? off + frame_header_size : -1;
    } else if (off == f->commit_page_at) {
        // The commit frame is whole: written now, so that a failure fails the COMMIT.
        f->commit_page_at = -1;
        f->after_commit = true;
        f->committed_end = off + n;
        return flush_locked(f);
    }
    if (f->gathered.size() >= max_gathered) return flush_locked(f);
    return SQLITE_OK;
}

int x_close(sqlite3_file* file) {
    batch_file* f = self(file);
    int rc = SQLITE_OK;
    if (f->wal) {
        {
            std::lock_guard<std::mutex> lock(registry_mutex);
            auto it = std::find(open_logs.begin(), open_logs.end(), f);
            if (it != open_logs.end()) open_logs.erase(it);
        }
        rc = flush_before(f);
    }
    const int closed = real_io(f).xClose(f->real);
    f->~batch_file();
    return rc != SQLITE_OK ? rc : closed;
}

int x_read(sqlite3_file* file, void* data, int n, sqlite3_int64 off) {
    batch_file* f = self(file);
    if (f->wal && f->pending.load(std::memory_order_relaxed)) {
        if (int rc = flush_before(f); rc != SQLITE_OK) return rc;
    }
    return real_io(f).xRead(f->real, data, n, off);
}

int x_write(sqlite3_file* file, const void* data, int n, sqlite3_int64 off) {
    batch_file* f = self(file);
    if (!f->wal) return real_io(f).xWrite(f->real, data, n, off);
    return wal_write(f, data, n, off);
}

int x_truncate(sqlite3_file* file, sqlite3_int64 size) {
    batch_file* f = self(file);
    if (int rc = flush_before(f); rc != SQLITE_OK) return rc;
    return real_io(f).xTruncate(f->real, size);
}

int x_sync(sqlite3_file* file, int flags) {
    batch_file* f = self(file);
    if (int rc = flush_before(f); rc != SQLITE_OK) return rc;
    return real_io(f).xSync(f->real, flags);
}

int x_file_size(sqlite3_file* file, sqlite3_int64* size) {
    batch_file* f = self(file);
    if (int rc = flush_before(f); rc != SQLITE_OK) return rc;
    return real_io(f).xFileSize(f->real, size);
}

int x_lock(sqlite3_file* file, int level) {
    return real_io(self(file)).xLock(self(file)->real, level);
}
int x_unlock(sqlite3_file* file, int level) {
    return real_io(self(file)).xUnlock(self(file)->real, level);
}
int x_check_reserved(sqlite3_file* file, int* out) {
    return real_io(self(file)).xCheckReservedLock(self(file)->real, out);
}

int x_file_control(sqlite3_file* file, int op, void* arg) {
    batch_file* f = self(file);
    if (f->wal && f->pending.load(std::memory_order_relaxed)) {
        if (int rc = flush_before(f); rc != SQLITE_OK) return rc;
    }
    return real_io(f).xFileControl(f->real, op, arg);
}

int x_sector_size(sqlite3_file* file) {
    return real_io(self(file)).xSectorSize(self(file)->real);
}
int x_device_characteristics(sqlite3_file* file) {
    return real_io(self(file)).xDeviceCharacteristics(self(file)->real);
}

int x_shm_map(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
    return real_io(self(file)).xShmMap(self(file)->real, page, size, extend, out);
}

// Writes what any log holds; a failure is reported by that log's next write or sync.
void flush_pending_logs() {
    if (logs_pending.load(std::memory_order_acquire) == 0) return;
    std::lock_guard<std::mutex> lock(registry_mutex);
    for (batch_file* log : open_logs) {
        if (!log->pending.load(std::memory_order_relaxed)) continue;
        std::lock_guard<std::mutex> log_lock(log->m);
        if (int rc = flush_locked(log); rc != SQLITE_OK) log->deferred = rc;
    }
}

// A transaction rolled back after spilling frames leaves them gathered; they go to the log
// before its lock is given up, as SQLite's own VFS had written them already. Another process
// that takes the log next appends where they lie, and writing them later would overwrite its
// commit.
int x_shm_lock(sqlite3_file* file, int offset, int n, int flags) {
    if (flags & SQLITE_SHM_UNLOCK) flush_pending_logs();
    return real_io(self(file)).xShmLock(self(file)->real, offset, n, flags);
}

// SQLite publishes a commit to other connections between two barriers; whatever a log still
// holds is written first (a commit frame was written at once already, so this only covers a
// way of writing frames that the commit test above does not know).
void x_shm_barrier(sqlite3_file* file) {
    real_io(self(file)).xShmBarrier(self(file)->real);
    flush_pending_logs();
}

int x_shm_unmap(sqlite3_file* file, int delete_flag) {
    return real_io(self(file)).xShmUnmap(self(file)->real, delete_flag);
}
int x_fetch(sqlite3_file* file, sqlite3_int64 off, int n, void** out) {
    return real_io(self(file)).xFetch(self(file)->real, off, n, out);
}
int x_unfetch(sqlite3_file* file, sqlite3_int64 off, void* p) {
    return real_io(self(file)).xUnfetch(self(file)->real, off, p);
}

// One table per version of the default VFS's files, so SQLite calls only what they have.
sqlite3_io_methods io_methods[3];

int x_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
    auto* f = new (file) batch_file;
    f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + sizeof(batch_file));
    const int rc = real_vfs->xOpen(real_vfs, name, f->real, flags, out_flags);
    if (rc != SQLITE_OK || f->real->pMethods == nullptr) {
        if (f->real->pMethods) f->real->pMethods->xClose(f->real);
        f->~batch_file();
        file->pMethods = nullptr;
        return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
    }
    f->wal = (flags & SQLITE_OPEN_WAL) != 0;
    const int version = std::clamp(f->real->pMethods->iVersion, 1, 3);
    file->pMethods = &io_methods[version - 1];
    if (f->wal) {
        std::lock_guard<std::mutex> lock(registry_mutex);
        open_logs.push_back(f);
    }
    return SQLITE_OK;
}

sqlite3_vfs batch_vfs;

void register_vfs() {
    real_vfs = sqlite3_vfs_find(nullptr);
    for (int v = 1; v <= 3; ++v) {
        sqlite3_io_methods& m = io_methods[v - 1];
        m = sqlite3_io_methods{};
        m.iVersion = v;
        m.xClose = x_close;
        m.xRead = x_read;
        m.xWrite = x_write;
        m.xTruncate = x_truncate;
        m.xSync = x_sync;
        m.xFileSize = x_file_size;
        m.xLock = x_lock;
        m.xUnlock = x_unlock;
        m.xCheckReservedLock = x_check_reserved;
        m.xFileControl = x_file_control;
        m.xSectorSize = x_sector_size;
        m.xDeviceCharacteristics = x_device_characteristics;
        if (v >= 2) {
            m.xShmMap = x_shm_map;
            m.xShmLock = x_shm_lock;
            m.xShmBarrier = x_shm_barrier;
            m.xShmUnmap = x_shm_unmap;
        }
        if (v >= 3) {
            m.xFetch = x_fetch;
            m.xUnfetch = x_unfetch;
        }
    }
    // The rest of the VFS is the default one's; its methods get the default VFS back.
    batch_vfs = *real_vfs;
    batch_vfs.szOsFile = static_cast<int>(sizeof(batch_file)) + real_vfs->szOsFile;
    batch_vfs.zName = "walbatch";
    batch_vfs.pNext = nullptr;
    batch_vfs.pAppData = nullptr;
    batch_vfs.xOpen = x_open;
    batch_vfs.xDelete = [](sqlite3_vfs*, const char* name, int sync) {
        return real_vfs->xDelete(real_vfs, name, sync);
    };
    batch_vfs.xAccess = [](sqlite3_vfs*, const char* name, int flags, int* out) {
        return real_vfs->xAccess(real_vfs, name, flags, out);
    };
    batch_vfs.xFullPathname = [](sqlite3_vfs*, const char* name, int n, char* out) {
        return real_vfs->xFullPathname(real_vfs, name, n, out);
    };
    batch_vfs.xDlOpen = [](sqlite3_vfs*, const char* name) {
        return real_vfs->xDlOpen(real_vfs, name);
    };
    batch_vfs.xDlError = [](sqlite3_vfs*, int n, char* out) {
        real_vfs->xDlError(real_vfs, n, out);
    };
    batch_vfs.xDlSym = [](sqlite3_vfs*, void* h, const char* sym) {
        return real_vfs->xDlSym(real_vfs, h, sym);
    };
    batch_vfs.xDlClose = [](sqlite3_vfs*, void* h) { real_vfs->xDlClose(real_vfs, h); };
    batch_vfs.xRandomness = [](sqlite3_vfs*, int n, char* out) {
        return real_vfs->xRandomness(real_vfs, n, out);
    };
    batch_vfs.xSleep = [](sqlite3_vfs*, int us) { return real_vfs->xSleep(real_vfs, us); };
    batch_vfs.xCurrentTime = [](sqlite3_vfs*, double* out) {
        return real_vfs->xCurrentTime(real_vfs, out);
    };
    batch_vfs.xGetLastError = [](sqlite3_vfs*, int n, char* out) {
        return real_vfs->xGetLastError(real_vfs, n, out);
    };
    if (real_vfs->iVersion >= 2 && real_vfs->xCurrentTimeInt64)
        batch_vfs.xCurrentTimeInt64 = [](sqlite3_vfs*, sqlite3_int64* out) {
            return real_vfs->xCurrentTimeInt64(real_vfs, out);
        };
    if (real_vfs->iVersion >= 3) {
        batch_vfs.xSetSystemCall = [](sqlite3_vfs*, const char* name, sqlite3_syscall_ptr p) {
            return real_vfs->xSetSystemCall(real_vfs, name, p);
        };
        batch_vfs.xGetSystemCall = [](sqlite3_vfs*, const char* name) {
            return real_vfs->xGetSystemCall(real_vfs, name);
        };
        batch_vfs.xNextSystemCall = [](sqlite3_vfs*, const char* name) {
            return real_vfs->xNextSystemCall(real_vfs, name);
        };
    }
    sqlite3_vfs_register(&batch_vfs, 0);
}

} // namespace

const char* wal_batching_vfs() {
    static std::once_flag once;
    std::call_once(once, register_vfs);
    return batch_vfs.zName;
}

} // namespace lumbrake
