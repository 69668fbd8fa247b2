/* docmill's imports from the network, Word and digest libraries, bound when first called.
 *
 * docmill runs once per document. Mapping and relocating libcurl, c-client, libwv and
 * libcrypto with their dependencies (TLS, Kerberos, LDAP, GLib: some fifty shared objects)
 * cost more than parsing an ordinary page, and a local HTML file needs none of them. docmill
 * therefore defines every function it uses from these libraries here: the first call
 * dlopen()s the library (by the soname the build linked against) and later calls go straight
 * to it. The linker then finds nothing left to take from the libraries and, with --as-needed,
 * does not record them. The worker program (millhand) links the libraries as usual.
 *
 * The fetchers set their libraries up when they are constructed, before any URL is known.
 * Those set-up calls (curl_global_init; c-client's mail_link, auth_link, ssl_onceonlyinit and
 * the mail_parameters settings) are queued while the library is not loaded and replayed in
 * their order when it is, before the call that loads it. c-client's drivers and
 * authenticators are data: the fetcher passes the addresses of the stand-ins below, which
 * are exchanged for the library's own objects.
 */
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include <c-client/c-client.h>
#include <c-client/linkage.h>

#include <openssl/evp.h>

#include <glib-object.h>
#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <wv.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define HIDDEN __attribute__((visibility("hidden")))

struct lazy_lib {
    const char* soname;
    void (*on_load)(void* handle); /* replays the queued set-up calls; may be NULL */
    void* handle;                  /* read and written under load_mutex */
};

static pthread_mutex_t load_mutex = PTHREAD_MUTEX_INITIALIZER;

/* A library that cannot be loaded would have stopped the program at start before: the same
 * status as the dynamic loader's. */
static void lazy_fatal(const char* what) {
    fprintf(stderr, "docmill: %s\n", what ? what : "cannot load a library");
    _exit(127);
}

static void* lib_handle(struct lazy_lib* lib) {
    pthread_mutex_lock(&load_mutex);
    if (!lib->handle) {
        void* h = dlopen(lib->soname, RTLD_LAZY | RTLD_LOCAL);
        if (!h) lazy_fatal(dlerror());
        lib->handle = h;
        if (lib->on_load) lib->on_load(h);
    }
    void* h = lib->handle;
    pthread_mutex_unlock(&load_mutex);
    return h;
}

static void* symbol_in(void* handle, const char* name) {
    void* p = dlsym(handle, name);
    if (!p) lazy_fatal(dlerror());
    return p;
}

static void* lazy_symbol(struct lazy_lib* lib, const char* name) {
    return symbol_in(lib_handle(lib), name);
}

/* A function that forwards its arguments to the library's function of the same name; the
 * library's address is looked up once. */
#define LAZY_CALL(lib, ret, name, params, args)                                                    \
    typedef ret(*name##_fn) params;                                                                \
    static name##_fn name##_real;                                                                  \
    static name##_fn name##_get(void) {                                                            \
        name##_fn f = __atomic_load_n(&name##_real, __ATOMIC_ACQUIRE);                             \
        if (!f) {                                                                                  \
            f = (name##_fn)lazy_symbol(&lib, #name);                                               \
            __atomic_store_n(&name##_real, f, __ATOMIC_RELEASE);                                   \
        }                                                                                          \
        return f;                                                                                  \
    }
#define LAZY_FN(lib, ret, name, params, args)                                                      \
    LAZY_CALL(lib, ret, name, params, args)                                                        \
    ret(name) params {                                                                             \
        return name##_get() args;                                                                  \
    }
#define LAZY_VOID(lib, name, params, args)                                                         \
    LAZY_CALL(lib, void, name, params, args)                                                       \
    void(name) params {                                                                            \
        name##_get() args;                                                                         \
    }

/* ---- libcurl ---- */

static long curl_init_flags[8];
static int curl_inits;

static void curl_replay(void* h) {
    CURLcode (*init)(long) = (CURLcode(*)(long))symbol_in(h, "curl_global_init");
    for (int i = 0; i < curl_inits; ++i)
        init(curl_init_flags[i]);
    curl_inits = 0;
}

static struct lazy_lib curl_lib = {TN_SONAME_CURL, curl_replay, NULL};

LAZY_CALL(curl_lib, CURLcode, curl_global_init, (long flags), (flags))
CURLcode(curl_global_init)(long flags) {
    /* Initialisation without handles changes nothing anyone could observe: it waits for the
     * first handle. */
    pthread_mutex_lock(&load_mutex);
    const int queued = !curl_lib.handle && curl_inits < 8;
    if (queued) curl_init_flags[curl_inits++] = flags;
    pthread_mutex_unlock(&load_mutex);
    return queued ? CURLE_OK : curl_global_init_get()(flags);
}

LAZY_VOID(curl_lib, curl_easy_cleanup, (CURL * h), (h))
LAZY_FN(curl_lib, char*, curl_easy_escape, (CURL * h, const char* s, int n), (h, s, n))
LAZY_FN(curl_lib, CURL*, curl_easy_init, (void), ())
LAZY_FN(curl_lib, CURLcode, curl_easy_perform, (CURL * h), (h))
LAZY_VOID(curl_lib, curl_easy_reset, (CURL * h), (h))
LAZY_FN(curl_lib, const char*, curl_easy_strerror, (CURLcode c), (c))
LAZY_VOID(curl_lib, curl_free, (void* p), (p))
LAZY_FN(curl_lib, struct curl_slist*, curl_slist_append, (struct curl_slist * l, const char* s),
        (l, s))
LAZY_VOID(curl_lib, curl_slist_free_all, (struct curl_slist * l), (l))

/* The variadic two: the option's number says the type of its argument. */
typedef CURLcode (*curl_variadic_fn)(CURL*, int, ...);

static curl_variadic_fn curl_variadic(curl_variadic_fn* real, const char* name) {
    curl_variadic_fn f = __atomic_load_n(real, __ATOMIC_ACQUIRE);
    if (!f) {
        f = (curl_variadic_fn)lazy_symbol(&curl_lib, name);
        __atomic_store_n(real, f, __ATOMIC_RELEASE);
    }
    return f;
}

CURLcode(curl_easy_setopt)(CURL* h, CURLoption option, ...) {
    static curl_variadic_fn real;
    const curl_variadic_fn f = curl_variadic(&real, "curl_easy_setopt");
    va_list ap;
    va_start(ap, option);
    CURLcode rc;
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        const long v = va_arg(ap, long);
        rc = f(h, option, v);
    } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
        void* v = va_arg(ap, void*);
        rc = f(h, option, v);
    } else if (option < CURLOPTTYPE_OFF_T) {
        void (*v)(void) = va_arg(ap, void (*)(void));
        rc = f(h, option, v);
    } else if (option < CURLOPTTYPE_BLOB) {
        const curl_off_t v = va_arg(ap, curl_off_t);
        rc = f(h, option, v);
    } else {
        void* v = va_arg(ap, void*);
        rc = f(h, option, v);
    }
    va_end(ap);
    return rc;
}

CURLcode(curl_easy_getinfo)(CURL* h, CURLINFO info, ...) {
    static curl_variadic_fn real;
    const curl_variadic_fn f = curl_variadic(&real, "curl_easy_getinfo");
    va_list ap;
    va_start(ap, info);
    void* out = va_arg(ap, void*); /* every CURLINFO answers through a pointer */
    va_end(ap);
    return f(h, info, out);
}

/* ---- c-client ---- */

/* Stand-ins for the library's drivers and authenticators; hidden, so that the library, once
 * loaded, still finds its own. */
HIDDEN DRIVER imapdriver, nntpdriver, pop3driver;
HIDDEN AUTHENTICATOR auth_md5, auth_pla, auth_log;

static const struct {
    void* stand_in;
    const char* name;
} cclient_objects[] = {
    {&imapdriver, "imapdriver"}, {&nntpdriver, "nntpdriver"}, {&pop3driver, "pop3driver"},
    {&auth_md5, "auth_md5"},     {&auth_pla, "auth_pla"},     {&auth_log, "auth_log"},
};

static void* cclient_object(void* h, void* p) {
    for (size_t i = 0; i < sizeof cclient_objects / sizeof cclient_objects[0]; ++i)
        if (p == cclient_objects[i].stand_in) return symbol_in(h, cclient_objects[i].name);
    return p;
}

enum cclient_call { CC_MAIL_LINK, CC_AUTH_LINK, CC_SSL_INIT, CC_PARAMETER };

static struct {
    enum cclient_call call;
    void* pointer;
    long function;
} cclient_queue[32];
static int cclient_queued;

static void cclient_replay(void* h) {
    void (*mail_link_real)(DRIVER*) = (void (*)(DRIVER*))symbol_in(h, "mail_link");
    void (*auth_link_real)(AUTHENTICATOR*) = (void (*)(AUTHENTICATOR*))symbol_in(h, "auth_link");
    void (*ssl_init_real)(void) = (void (*)(void))symbol_in(h, "ssl_onceonlyinit");
    void* (*parameters_real)(MAILSTREAM*, long, void*) =
        (void* (*)(MAILSTREAM*, long, void*))symbol_in(h, "mail_parameters");
    for (int i = 0; i < cclient_queued; ++i) {
        switch (cclient_queue[i].call) {
        case CC_MAIL_LINK:
            mail_link_real(cclient_object(h, cclient_queue[i].pointer));
            break;
        case CC_AUTH_LINK:
            auth_link_real(cclient_object(h, cclient_queue[i].pointer));
            break;
        case CC_SSL_INIT:
            ssl_init_real();
            break;
        case CC_PARAMETER:
            parameters_real(NIL, cclient_queue[i].function, cclient_queue[i].pointer);
            break;
        }
    }
    cclient_queued = 0;
}

static struct lazy_lib cclient_lib = {TN_SONAME_CCLIENT, cclient_replay, NULL};

/* True when the call was queued for the library's loading. */
static int cclient_defer(enum cclient_call call, void* pointer, long function) {
    pthread_mutex_lock(&load_mutex);
    const int queued = !cclient_lib.handle && cclient_queued < 32;
    if (queued) {
        cclient_queue[cclient_queued].call = call;
        cclient_queue[cclient_queued].pointer = pointer;
        cclient_queue[cclient_queued].function = function;
        ++cclient_queued;
    }
    pthread_mutex_unlock(&load_mutex);
    return queued;
}

LAZY_CALL(cclient_lib, void, mail_link, (DRIVER * d), (d))
void(mail_link)(DRIVER* d) {
    if (!cclient_defer(CC_MAIL_LINK, d, 0))
        mail_link_get()(cclient_object(lib_handle(&cclient_lib), d));
}

LAZY_CALL(cclient_lib, void, auth_link, (AUTHENTICATOR * a), (a))
void(auth_link)(AUTHENTICATOR* a) {
    if (!cclient_defer(CC_AUTH_LINK, a, 0))
        auth_link_get()(cclient_object(lib_handle(&cclient_lib), a));
}

LAZY_CALL(cclient_lib, void, ssl_onceonlyinit, (void), ())
void(ssl_onceonlyinit)(void) {
    if (!cclient_defer(CC_SSL_INIT, NULL, 0)) ssl_onceonlyinit_get()();
}

LAZY_CALL(cclient_lib, void*, mail_parameters, (MAILSTREAM * s, long function, void* value),
          (s, function, value))
void*(mail_parameters)(MAILSTREAM* s, long function, void* value) {
    /* Global settings are queued (a setting answers with the value it set); anything that
     * reads one, or concerns a stream, needs the library. */
    switch (function) {
    case SET_RSHTIMEOUT:
    case SET_SSHTIMEOUT:
    case SET_TIMEOUT:
    case SET_NNTPRANGE:
    case SET_OPENTIMEOUT:
    case SET_READTIMEOUT:
        if (!s && cclient_defer(CC_PARAMETER, value, function)) return value;
        break;
    default:
        break;
    }
    return mail_parameters_get()(s, function, value);
}

LAZY_FN(cclient_lib, MAILSTREAM*, mail_close_full, (MAILSTREAM * s, long options), (s, options))
LAZY_FN(cclient_lib, char*, mail_fetch_header,
        (MAILSTREAM * s, unsigned long msgno, char* section, STRINGLIST* lines, unsigned long* len,
         long flags),
        (s, msgno, section, lines, len, flags))
LAZY_FN(cclient_lib, char*, mail_fetch_text,
        (MAILSTREAM * s, unsigned long msgno, char* section, unsigned long* len, long flags),
        (s, msgno, section, len, flags))
LAZY_FN(cclient_lib, unsigned long, mail_msgno, (MAILSTREAM * s, unsigned long uid), (s, uid))
LAZY_FN(cclient_lib, MAILSTREAM*, mail_open, (MAILSTREAM * s, char* name, long options),
        (s, name, options))
LAZY_FN(cclient_lib, unsigned long, mail_uid, (MAILSTREAM * s, unsigned long msgno), (s, msgno))

/* ---- libwv, libgsf and GObject (the Word reader) ---- */

static struct lazy_lib wv_lib = {TN_SONAME_WV, NULL, NULL};
static struct lazy_lib gsf_lib = {TN_SONAME_GSF, NULL, NULL};
static struct lazy_lib gobject_lib = {TN_SONAME_GOBJECT, NULL, NULL};
static struct lazy_lib glib_lib = {TN_SONAME_GLIB, NULL, NULL};

LAZY_FN(wv_lib, U16, wvHandleCodePage, (U16 c, U16 lid), (c, lid))
LAZY_FN(wv_lib, int, wvInit, (void), ())
LAZY_FN(wv_lib, int, wvInitParser_gsf, (wvParseStruct * ps, GsfInput* in), (ps, in))
LAZY_VOID(wv_lib, wvOLEFree, (wvParseStruct * ps), (ps))
LAZY_FN(wv_lib, int, wvText, (wvParseStruct * ps), (ps))
LAZY_FN(wv_lib, void*, wvMalloc, (U32 size), (size))
LAZY_VOID(wv_lib, _wvFree, (void* ptr), (ptr))
LAZY_FN(wv_lib, wvVersion, wvQuerySupported, (FIB * fib, int* reason), (fib, reason))
LAZY_VOID(wv_lib, wvSetCharHandler, (wvParseStruct * ps, int (*h)(wvParseStruct*, U16, U8, U16)),
          (ps, h))
LAZY_VOID(wv_lib, wvSetSpecialCharHandler,
          (wvParseStruct * ps, int (*h)(wvParseStruct*, U16, CHP*)), (ps, h))
LAZY_VOID(wv_lib, wvSetElementHandler,
          (wvParseStruct * ps, int (*h)(wvParseStruct*, wvTag, void*, int)), (ps, h))
LAZY_VOID(wv_lib, wvSetDocumentHandler, (wvParseStruct * ps, int (*h)(wvParseStruct*, wvTag)),
          (ps, h))

LAZY_FN(gsf_lib, GsfDocProp*, gsf_doc_meta_data_lookup,
        (GsfDocMetaData const* meta, char const* name), (meta, name))
LAZY_FN(gsf_lib, GsfDocMetaData*, gsf_doc_meta_data_new, (void), ())
LAZY_FN(gsf_lib, GError*, gsf_doc_meta_data_read_from_msole, (GsfDocMetaData * meta, GsfInput* in),
        (meta, in))
LAZY_FN(gsf_lib, GValue const*, gsf_doc_prop_get_val, (GsfDocProp const* prop), (prop))
LAZY_FN(gsf_lib, GsfInput*, gsf_infile_child_by_name, (GsfInfile * infile, char const* name),
        (infile, name))
LAZY_FN(gsf_lib, GsfInfile*, gsf_infile_msole_new, (GsfInput * source, GError** err), (source, err))
LAZY_FN(gsf_lib, GsfInput*, gsf_input_memory_new,
        (guint8 const* buf, gsf_off_t length, gboolean needs_free), (buf, length, needs_free))
LAZY_FN(gsf_lib, guint8 const*, gsf_input_read, (GsfInput * input, size_t n, guint8* optional),
        (input, n, optional))
LAZY_FN(gsf_lib, gsf_off_t, gsf_input_size, (GsfInput * input), (input))
LAZY_FN(gsf_lib, gboolean, gsf_input_seek, (GsfInput * input, gsf_off_t offset, GSeekType whence),
        (input, offset, whence))
LAZY_FN(gsf_lib, gsf_off_t, gsf_input_tell, (GsfInput * input), (input))

LAZY_VOID(gobject_lib, g_object_unref, (gpointer object), (object))
LAZY_FN(gobject_lib, gboolean, g_type_check_value_holds, (const GValue* value, GType type),
        (value, type))
LAZY_FN(gobject_lib, const gchar*, g_value_get_string, (const GValue* value), (value))

LAZY_VOID(glib_lib, g_error_free, (GError * error), (error))

/* ---- libcrypto (MD5, for encrypted PDF documents) ---- */

static struct lazy_lib crypto_lib = {TN_SONAME_CRYPTO, NULL, NULL};

LAZY_FN(crypto_lib, EVP_MD_CTX*, EVP_MD_CTX_new, (void), ())
LAZY_VOID(crypto_lib, EVP_MD_CTX_free, (EVP_MD_CTX * ctx), (ctx))
LAZY_FN(crypto_lib, const EVP_MD*, EVP_md5, (void), ())
LAZY_FN(crypto_lib, int, EVP_DigestInit_ex, (EVP_MD_CTX * ctx, const EVP_MD* type, ENGINE* e),
        (ctx, type, e))
LAZY_FN(crypto_lib, int, EVP_DigestUpdate, (EVP_MD_CTX * ctx, const void* d, size_t n), (ctx, d, n))
LAZY_FN(crypto_lib, int, EVP_DigestFinal_ex, (EVP_MD_CTX * ctx, unsigned char* md, unsigned int* s),
        (ctx, md, s))
LAZY_FN(crypto_lib, int, EVP_Digest,
        (const void* data, size_t count, unsigned char* md, unsigned int* size, const EVP_MD* type,
         ENGINE* impl),
        (data, count, md, size, type, impl))
