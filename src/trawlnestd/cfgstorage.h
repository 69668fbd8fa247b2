// The configuration store: every configuration record lives as its XML text in the table
// cfgstorage(key, id, cfg), keyed by its type's key and an id; cfgcounter(key, lastid) holds
// the last id that add handed out per type, so a removed id is never reused.
//
// Each record carries a version stamp, the CRC-32 of its stored text. set is a compare-and-set
// on it: a writer that read an older version is refused instead of overwriting unseen changes.
//
// Records are parsed once and shared (get_shared) until a write of any record: every write
// through the store, an import or a restore, and the end (commit or rollback) of a transaction
// that wrote, start a new generation of the cache. get_shared is for writers' transactions
// (the storage lock keeps a fill from overlapping a write); snapshot readers use get.
//
// The store holds no other data and takes no lock. Every operation takes the calling thread's
// connection; writers run it inside a storage_transaction, readers may run get and list in a
// storage_snapshot. Every SQLite failure is fatal (sqlite_fatal).
#pragma once

#include "api/acl.h"
#include "api/api-typeutils.h"
#include "api/archive.h"
#include "api/auth.h"
#include "api/collection.h"
#include "api/login.h"
#include "api/watch.h"
#include "trawlnestd/login-cache.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace lumbrake {

// Fixed ids of the singleton records (RootACL ids are ROOTACL_BROWSING and ROOTACL_CRAWLING).
inline constexpr int ROOT_RENDERER_PIPE_ID = 0;
inline constexpr int LOGIN_CONFIGURATION_ID = 0;

// The CRC-32 (zlib, seed 0) of a stored text.
std::uint32_t cfg_magic(std::string_view text);

// Per-type key, label of the export/import output lines, writer and reader. `addable` is false
// for the singleton types, which are only read, listed and overwritten.
template <class T> struct cfg_record_traits;

#define TN_CFG_TRAITS(Type, Key, Label, Addable, ToXml, FromXmlExpr)                               \
    template <> struct cfg_record_traits<Type> {                                                   \
        static constexpr const char* key = Key;                                                    \
        static constexpr const char* label = Label;                                                \
        static constexpr bool addable = Addable;                                                   \
        static bool to_xml(const Type& record, std::string& xml) { return ToXml(record, xml); }    \
        static bool from_xml(const std::string& text, Type& record) {                              \
            [[maybe_unused]] bool old_names = false;                                               \
            return FromXmlExpr;                                                                    \
        }                                                                                          \
    }

TN_CFG_TRAITS(SourceConfiguration, "SourceConfiguration", "Source", true, source_to_xml,
              source_from_xml(text.data(), text.size(), record, old_names));
TN_CFG_TRAITS(ArchiveConfiguration, "ArchiveConfiguration", "Archive", true, archive_to_xml,
              archive_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(CollectionConfiguration, "CollectionConfiguration", "Collection", true,
              collection_to_xml, collection_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(WatchConfiguration, "WatchConfiguration", "Watch", true, watch_to_xml,
              watch_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(AuthConfiguration, "AuthConfiguration", "Auth", true, auth_to_xml,
              auth_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(Plugin, "Plugin", "Plugin", true, plugin_to_xml,
              plugin_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(DocFilter, "DocFilter", "DocFilter", true, docfilter_to_xml,
              docfilter_from_xml(text.data(), text.size(), record, old_names));
TN_CFG_TRAITS(RendererPluginPipe, "RendererPluginPipe", "RendererPluginPipe", false,
              renderer_pipe_to_xml,
              renderer_pipe_from_xml(text.data(), text.size(), record, old_names));
TN_CFG_TRAITS(RootACL, "RootACL", "RootACL", false, acl_to_xml,
              acl_from_xml(text.data(), text.size(), record));
TN_CFG_TRAITS(LoginConfiguration, "LoginConfiguration", "Login", false, login_to_xml,
              login_from_xml(text.data(), text.size(), record));

#undef TN_CFG_TRAITS

// The type-independent work of the store; the template below only adds the record forms.
namespace cfgstore_detail {
// Creates the tables and indexes when missing and the key's counter row (lastid 0) when
// missing; an existing counter is left as it is.
void ensure(sqlite3* db, const char* key);
// True with the stored text when the row exists.
bool fetch(sqlite3* db, const char* key, int id, std::string& text);
// As fetch, but hands the stored text to `piece` a block at a time without ever holding it
// whole (a source record of a million seeds is 45 MB), and its stamp to `magic`.
bool fetch_pieces(sqlite3* db, const char* key, int id,
                  const std::function<void(std::string_view)>& piece, std::uint32_t& magic);
void list(sqlite3* db, const char* key, std::vector<int>& ids);
// "insert or replace"; true when exactly one row changed.
bool store(sqlite3* db, const char* key, int id, const std::string& text);
// The next id from the counter, stored with the text; 0 (nothing written) when the counter
// has no id left.
int insert_new(sqlite3* db, const char* key, const std::string& text);
bool erase(sqlite3* db, const char* key, int id);

// Called on every write of the tables (also by the jobs that write them with their own
// statements): the records parsed so far are stale from now on, and once more when the
// connection's transaction ends, whichever way.
void written(sqlite3* db);
std::uint64_t generation();
// A record parsed in `generation`, or null for one that get answered false for then (a pick
// reads records that are often missing, such as the renderer pipe); kept only while no write
// came since.
void cache_put(const std::string& key, int id, std::uint64_t generation,
               std::shared_ptr<const void> record, std::uint32_t magic);
// True when the cache holds an answer: `record` (null: none to read) and, for a record, its
// stamp in `magic`.
bool cache_find(const std::string& key, int id, std::shared_ptr<const void>& record,
                std::uint32_t& magic);

// The cache's answer for `cache_key` and `id`, or what `read(record, stamp)` gives (false: no
// record), kept as the answer of the generation before the read.
template <class T, class Read>
std::shared_ptr<const T> shared_record(const std::string& cache_key, int id, std::uint32_t& magic,
                                       Read read) {
    std::shared_ptr<const void> hit;
    if (cache_find(cache_key, id, hit, magic)) return std::static_pointer_cast<const T>(hit);
    const std::uint64_t before = generation();
    auto record = std::make_shared<T>();
    std::uint32_t stamp = 0;
    if (!read(*record, stamp)) {
        cache_put(cache_key, id, before, nullptr, 0);
        return nullptr;
    }
    magic = stamp;
    cache_put(cache_key, id, before, record, stamp);
    return record;
}
} // namespace cfgstore_detail

template <class T> class cfgstorage {
public:
    using traits = cfg_record_traits<T>;

    // Makes sure that both tables exist and that the type has its counter row. Called once per
    // type at start-up, inside the start-up transaction.
    explicit cfgstorage(sqlite3* db) { cfgstore_detail::ensure(db, traits::key); }

    // Reads record `id`. False when there is no such row (record and magic untouched), or when
    // the stored text is not well-formed XML (magic is still set to its stamp).
    static bool get(sqlite3* db, int id, T& record, std::uint32_t& magic) {
        std::string text;
        if (!cfgstore_detail::fetch(db, traits::key, id, text)) return false;
        bool ok = traits::from_xml(text, record);
        magic = cfg_magic(text);
        return ok;
    }

    // As get, parsed once and shared until the next write (see above); null when get would
    // answer false (that answer is kept the same way). `shape`, when given, trims the record
    // before it is kept, for a reader that uses only some fields (each shape is kept apart, under
    // its `shape_name`).
    static std::shared_ptr<const T> get_shared(sqlite3* db, int id, std::uint32_t& magic,
                                               const char* shape_name = "",
                                               void (*shape)(T&) = nullptr) {
        return cfgstore_detail::shared_record<T>(std::string(traits::key) + "/" + shape_name, id,
                                                 magic,
                                                 [db, id, shape](T& record, std::uint32_t& stamp) {
                                                     if (!get(db, id, record, stamp)) return false;
                                                     if (shape) shape(record);
                                                     return true;
                                                 });
    }

    // All ids of the type in ascending order.
    static void list(sqlite3* db, std::vector<int>& ids) {
        cfgstore_detail::list(db, traits::key, ids);
    }

    // Writes the record under `id` when the stored version still has the caller's stamp (or is
    // missing or unreadable). On success `magic` becomes the new stamp. False, nothing written,
    // when the record cannot be serialised or the stamp is stale.
    static bool set(sqlite3* db, int id, const T& record, std::uint32_t& magic) {
        std::string text;
        if (!traits::to_xml(record, text)) return false;
        T scratch{};
        std::uint32_t stored = 0;
        if (get(db, id, scratch, stored) && stored != magic) return false;
        if (!cfgstore_detail::store(db, traits::key, id, text)) return false;
        magic = cfg_magic(text);
        if constexpr (std::is_same_v<T, LoginConfiguration>) {
            if (id == LOGIN_CONFIGURATION_ID) login_cache_store(db, record);
        }
        return true;
    }

    // Stores the record under a new id and returns it, with its stamp in `magic`. 0, nothing
    // written, when the record cannot be serialised.
    static int add(sqlite3* db, const T& record, std::uint32_t& magic) requires traits::addable {
        std::string text;
        if (!traits::to_xml(record, text)) return 0;
        int id = cfgstore_detail::insert_new(db, traits::key, text);
        if (id != 0) magic = cfg_magic(text);
        return id;
    }

    // Deletes record `id`; true when exactly one row was deleted. The counter stays.
    static bool remove(sqlite3* db, int id) requires traits::addable {
        return cfgstore_detail::erase(db, traits::key, id);
    }
};

// Sources may carry a million seeds; these two read the stored record a block at a time, so
// that neither its text nor its seeds are ever held whole. Both answer as cfgstorage::get.
//
// Source `id` with its seeds handed to `on_seed` in the record's order (Seeds stays empty). On
// a text that is not well-formed, false, and the seeds before the fault were handed out.
bool get_source_streamed(sqlite3* db, int id, SourceConfiguration& source, std::uint32_t& magic,
                         const source_stream_reader::seed_sink& on_seed);
// As cfgstorage::get_shared, for readers that do not use the seeds: kept without them.
std::shared_ptr<const SourceConfiguration> get_shared_source_without_seeds(sqlite3* db, int id,
                                                                           std::uint32_t& magic);

// The ten stores, constructed in the start-up order.
struct config_stores {
    explicit config_stores(sqlite3* db)
        : sources(db), archives(db), collections(db), watches(db), auths(db), plugins(db),
          docfilters(db), renderer_pipes(db), root_acls(db), logins(db) {}

    cfgstorage<SourceConfiguration> sources;
    cfgstorage<ArchiveConfiguration> archives;
    cfgstorage<CollectionConfiguration> collections;
    cfgstorage<WatchConfiguration> watches;
    cfgstorage<AuthConfiguration> auths;
    cfgstorage<Plugin> plugins;
    cfgstorage<DocFilter> docfilters;
    cfgstorage<RendererPluginPipe> renderer_pipes;
    cfgstorage<RootACL> root_acls;
    cfgstorage<LoginConfiguration> logins;
};

} // namespace lumbrake
