/* The plug-in interface of trawlnest: everything a plug-in shared object needs to be written
 * and built without the rest of the system.
 *
 * A plug-in is a shared object in DEPLOYDIR/plugins that exports
 *
 *     int lumbrake_plugin_registration(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
 *                                      const void* parameters, size_t parameters_length);
 *
 * The host zeroes *reg and calls it; the plug-in fills the record and returns 0, or any other
 * value as an error code. The strings it puts into the record must stay valid until its
 * unregister function has been called (string literals are the simple choice).
 *
 * Rules of the boundary:
 * - Plain C: nothing may be thrown across it, in either direction.
 * - Memory that crosses it is allocated and freed through the services table (entries alloc,
 *   free, strdup): strings put into elements, the results of the text and URL services.
 * - Every service takes the table itself as its first argument.
 * - Services refuse null pointers and bad positions with a logged error and a 0 result.
 */
#ifndef LUMBRAKE_PLUGIN_H
#define LUMBRAKE_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LUMBRAKE_PLUGIN_REGISTRATION_SYMBOL "lumbrake_plugin_registration"

/* Registration types. The worker's loader accepts the three FFF kinds; the API lists type 3
 * as an archive FFF plug-in and every other type as unknown. */
enum lumbrake_plugin_type {
    LUMBRAKE_PLUGIN_GLOBALFFF = 2,
    LUMBRAKE_PLUGIN_ARCHIVEFFF = 3,
    LUMBRAKE_PLUGIN_MULTIFORMFFF = 4
};

/* Element types of the index element stream. */
enum lumbrake_element_type {
    LUMBRAKE_EL_DOCINFO = 2,
    LUMBRAKE_EL_LINKINFO = 4,
    LUMBRAKE_EL_PARA_BEG = 6,
    LUMBRAKE_EL_PARA_END = 7,
    LUMBRAKE_EL_DICT_BEG = 8,
    LUMBRAKE_EL_DICT_END = 9,
    LUMBRAKE_EL_WORDBUF = 10,
    LUMBRAKE_EL_META_DOCUMENTWIDE = 12,
    LUMBRAKE_EL_META_POSITIONAL = 14,
    LUMBRAKE_EL_META_RANGED = 16
};

/* One element of the stream. Strings are NUL-terminated and owned by the element; they come
 * from the table's strdup or alloc, since the host frees them with its free. Unused fields are 0.
 *
 * On 32-bit targets the element is 32 bytes of 32-bit words. On LP64 the same fields keep their
 * order and types and sit at their natural alignment, so the element is 48 bytes (a docinfo
 * element alone holds three pointers, a word and a double). Offsets on LP64 (checked below):
 *
 *   all         +0 type (4)        +4 reserved (4)
 *   docinfo     +8 docid           +16 url           +24 mimetype      +32 0 (4)    +40 score
 *   linkinfo    +8 url             +16 0 (4)         +24 score         +32 0, 0 (4 + 4)
 *   dict_beg    +8 slice (4)       +16 url
 *   wordbuf     +8 words           +16 length (4)
 *   meta        +8 0 (4)           +12 slice (4)     +16 key           +24 value
 *               +32 pos (4)        +36 end (4)
 *
 * Pointers and scores are 8 bytes; scores are IEEE doubles from 0.0 to 1.0. */
typedef struct lumbrake_element {
    uint32_t type; /* a lumbrake_element_type */
    uint32_t reserved;
    union {
        struct { /* LUMBRAKE_EL_DOCINFO */
            char* docid;
            char* url;
            char* mimetype;
            uint32_t unused;
            double score; /* 0.0 to 1.0 */
        } docinfo;
        struct { /* LUMBRAKE_EL_LINKINFO */
            char* url;
            uint32_t unused;
            double score; /* 0.0 to 1.0 */
            uint32_t unused2[2];
        } linkinfo;
        struct {           /* LUMBRAKE_EL_DICT_BEG: the start of a run of words of one slice */
            int32_t slice; /* 1 to 31 */
            char* url;     /* slices 7 and 12: the link target, or null */
        } dict_beg;
        struct { /* LUMBRAKE_EL_WORDBUF: the words of a run, each followed by one NUL */
            char* words;
            uint32_t length; /* bytes, the NULs included */
        } wordbuf;
        struct { /* LUMBRAKE_EL_META_DOCUMENTWIDE, _POSITIONAL, _RANGED */
            uint32_t unused;
            int32_t slice;
            char* key;
            char* value;
            uint32_t pos; /* positional: the position; ranged: the first position */
            uint32_t end; /* ranged: the last position */
        } meta;
    } u;
} lumbrake_element;

typedef struct lumbrake_plugins_api lumbrake_plugins_api;
typedef struct lumbrake_plugin_regdata lumbrake_plugin_regdata;

/* Called once when the host lets go of the plug-in. */
typedef void (*lumbrake_unregister_fn)(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg);
/* Makes a configuration from the docfilter's configuration bytes and stores its handle in
 * *config (null before the call); 0 on success. The same cell is handed to the entry point and
 * to config_destroy, which is called also after a failed config_create: it must cope with
 * whatever *config then holds. */
typedef int (*lumbrake_config_create_fn)(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                         void** config, const void* data, size_t length);
typedef void (*lumbrake_config_destroy_fn)(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                           void** config);
/* FFF plug-ins: called once per document with the element stream filled; the result is only
 * logged. */
typedef int (*lumbrake_fff_entry_fn)(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                     void** config);

/* The registration record: zeroed by the host, filled by the plug-in. */
struct lumbrake_plugin_regdata {
    int type; /* a lumbrake_plugin_type */
    const char* name;
    const char* description;
    lumbrake_unregister_fn unregister;
    lumbrake_config_create_fn config_create;
    lumbrake_config_destroy_fn config_destroy;
    lumbrake_fff_entry_fn fff_entry;
};

typedef int (*lumbrake_registration_fn)(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                        const void* parameters, size_t parameters_length);

/* The one export of a plug-in. Build plug-ins with hidden visibility if you like: this
 * declaration keeps the export visible. */
#if defined(__GNUC__)
#define LUMBRAKE_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define LUMBRAKE_PLUGIN_EXPORT
#endif
LUMBRAKE_PLUGIN_EXPORT int lumbrake_plugin_registration(lumbrake_plugins_api* api,
                                                        lumbrake_plugin_regdata* reg,
                                                        const void* parameters,
                                                        size_t parameters_length);

/* The host services table. The element-stream entries (count to bad_operation) are set only
 * while an FFF plug-in runs on a document; elsewhere they are null. */
struct lumbrake_plugins_api {
    void* host; /* opaque */
    void* (*alloc)(lumbrake_plugins_api* api, size_t size);
    void (*free)(lumbrake_plugins_api* api, void* memory);
    char* (*strdup)(lumbrake_plugins_api* api, const char* text);
    void (*log_error)(lumbrake_plugins_api* api, const lumbrake_plugin_regdata* reg,
                      const char* text);
    void (*log_info)(lumbrake_plugins_api* api, const lumbrake_plugin_regdata* reg,
                     const char* text);
    void (*log_debug)(lumbrake_plugins_api* api, const lumbrake_plugin_regdata* reg,
                      const char* text);

    /* Element stream. Positions run from 0 to count - 1. */
    uint32_t (*count)(lumbrake_plugins_api* api);
    /* A pointer into the stream, valid until the next insertion; null for a bad position. */
    lumbrake_element* (*get)(lumbrake_plugins_api* api, uint32_t pos);
    /* A zeroed element of the type, from alloc: free its contents with free_element and the
     * element itself with free. */
    lumbrake_element* (*new_element)(lumbrake_plugins_api* api, uint32_t type);
    int (*init_element)(lumbrake_plugins_api* api, uint32_t type, lumbrake_element* element);
    /* Deep copy: fresh copies of the source's strings and word buffer. */
    void (*copy_element)(lumbrake_plugins_api* api, lumbrake_element* destination,
                         const lumbrake_element* source);
    /* Frees the strings and buffer the element owns (not the element). */
    void (*free_element)(lumbrake_plugins_api* api, lumbrake_element* element);
    /* Replaces the docinfo element at pos with a copy of element; 1 on success, else 0. */
    int (*replace)(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element);
    /* Inserts a copy of a meta element (or of a type the host does not know) before or after
     * pos; 1 on success, else 0. */
    int (*insert_before)(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element);
    int (*insert_after)(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element);
    int (*bad_operation)(lumbrake_plugins_api* api);

    /* Text services over UTF-8; 0 for text that is not valid UTF-8 (or a null argument). */
    int (*case_fold)(lumbrake_plugins_api* api, const char* text, char** folded);
    /* *result := -1, 0 or 1 as a sorts before, equal to or after b, without regard to case. */
    int (*compare_nocase)(lumbrake_plugins_api* api, int* result, const char* a, const char* b);
    /* The canonical form of a URL (default scheme http); 1, or 0 for a null argument. */
    int (*normalize_url)(lumbrake_plugins_api* api, const char* url, char** canonical);
    /* The reference resolved against the base, in canonical form; 1, or 0 for a null argument. */
    int (*resolve_url)(lumbrake_plugins_api* api, const char* base, const char* reference,
                       char** resolved);
    /* 1 when no byte of the text is a separator, control, mark, symbol or punctuation
     * character; bytes from 0x80 never match; the empty text gives 1. */
    int (*test_chars)(lumbrake_plugins_api* api, const char* text);
};

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout is an ABI: keep it fixed. */
#ifdef __cplusplus
#define LUMBRAKE_STATIC_ASSERT static_assert
#else
#define LUMBRAKE_STATIC_ASSERT _Static_assert
#endif
LUMBRAKE_STATIC_ASSERT(sizeof(struct lumbrake_plugins_api) == 22 * sizeof(void*),
                       "the services table has 22 pointer-sized entries");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_plugins_api, test_chars) == 21 * sizeof(void*),
                       "test_chars is entry 21");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_plugins_api, count) == 7 * sizeof(void*),
                       "the element stream starts at entry 7");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_plugin_regdata, fff_entry) == 6 * sizeof(void*),
                       "the registration record has pointer-sized fields");
#if defined(__LP64__) || defined(_LP64)
LUMBRAKE_STATIC_ASSERT(sizeof(struct lumbrake_element) == 48, "LP64 element size");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u) == 8, "payload at +8");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.docid) == 8, "docinfo docid");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.url) == 16, "docinfo url");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.mimetype) == 24,
                       "docinfo mimetype");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.unused) == 32, "docinfo 0");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.score) == 40, "docinfo score");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.linkinfo.score) == 24, "linkinfo score");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.dict_beg.url) == 16, "dict_beg url");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.wordbuf.length) == 16, "wordbuf length");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.slice) == 12, "meta slice");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.key) == 16, "meta key");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.value) == 24, "meta value");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.pos) == 32, "meta pos");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.end) == 36, "meta end");
#elif UINTPTR_MAX == 0xFFFFFFFFu
LUMBRAKE_STATIC_ASSERT(sizeof(struct lumbrake_element) == 32, "32-bit element size");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.score) == 24, "docinfo score");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.linkinfo.score) == 16, "linkinfo score");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.docinfo.mimetype) == 16,
                       "docinfo mimetype");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.dict_beg.url) == 12, "dict_beg url");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.wordbuf.length) == 12, "wordbuf length");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.key) == 16, "meta key");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.value) == 20, "meta value");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.pos) == 24, "meta pos");
LUMBRAKE_STATIC_ASSERT(offsetof(struct lumbrake_element, u.meta.end) == 28, "meta end");
#endif
#undef LUMBRAKE_STATIC_ASSERT

#endif /* LUMBRAKE_PLUGIN_H */
