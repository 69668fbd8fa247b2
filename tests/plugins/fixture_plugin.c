/* A plug-in for the tests, written in plain C against the public header only. Compile-time
 * definitions choose its registration; it reports what the host calls through the host's own
 * log service, so a test reads its behaviour from the log.
 *
 * Its docfilter configuration is a list of commands separated by ';' that the FFF entry runs
 * over the element stream:
 *   meta:K=V   insert a document-wide meta K=V (slice 15) after the docinfo element
 *   score:X    replace the docinfo element by a copy with the score X (strtod: "nan" works)
 *   types      log the element types of the stream
 *   badpos     try bad positions
 *   badtype    try element types the host must refuse
 *   nulls      hand null pointers to the services
 *   lastafter  insert a meta after the last element
 *   fail       (first command only) make config_create fail
 */
#include "lumbrake/plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Some variants leave a function out of their registration. */
#define FIX_UNUSED __attribute__((unused))

#ifndef FIX_NAME
#define FIX_NAME "fixture"
#endif
#ifndef FIX_TYPE
#define FIX_TYPE LUMBRAKE_PLUGIN_ARCHIVEFFF
#endif
#ifndef FIX_RESULT
#define FIX_RESULT 0
#endif
#ifndef FIX_DESCRIPTION
#define FIX_DESCRIPTION "A test plug-in"
#endif

static void say(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, const char* text) {
    api->log_info(api, reg, text);
}

static void sayi(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, const char* what,
                 long value) {
    char line[200];
    snprintf(line, sizeof line, "%s %ld", what, value);
    say(api, reg, line);
}

FIX_UNUSED static void unregister(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg) {
    say(api, reg, "unregister called");
}

FIX_UNUSED static int config_create(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                    void** config, const void* data, size_t length) {
    char* text;
    char line[300];
    if (length == 0) {
        /* nothing to keep: the configuration stays null */
        say(api, reg, "config_create (none)");
        return 0;
    }
    text = (char*)api->alloc(api, length + 1);
    if (!text) return 1;
    memcpy(text, data, length);
    text[length] = 0;
    *config = text;
    snprintf(line, sizeof line, "config_create %s", text);
    say(api, reg, line);
    return strncmp(text, "fail", 4) == 0 ? 7 : 0;
}

FIX_UNUSED static void config_destroy(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                      void** config) {
    char line[300];
    snprintf(line, sizeof line, "config_destroy %s", *config ? (char*)*config : "(none)");
    say(api, reg, line);
    api->free(api, *config);
    *config = NULL;
}

static lumbrake_element* new_meta(lumbrake_plugins_api* api, const char* key, const char* value) {
    lumbrake_element* e = api->new_element(api, LUMBRAKE_EL_META_DOCUMENTWIDE);
    e->u.meta.slice = 15;
    e->u.meta.key = api->strdup(api, key);
    e->u.meta.value = api->strdup(api, value);
    return e;
}

static void drop(lumbrake_plugins_api* api, lumbrake_element* e) {
    api->free_element(api, e);
    api->free(api, e);
}

static void run_command(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, char* cmd) {
    if (strncmp(cmd, "meta:", 5) == 0) {
        char* eq = strchr(cmd + 5, '=');
        lumbrake_element* e;
        if (!eq) return;
        *eq = 0;
        e = new_meta(api, cmd + 5, eq + 1);
        sayi(api, reg, "insert_after", api->insert_after(api, 0, e));
        drop(api, e);
    } else if (strncmp(cmd, "score:", 6) == 0) {
        lumbrake_element copy;
        lumbrake_element* info = api->get(api, 0);
        api->copy_element(api, &copy, info);
        copy.u.docinfo.score = strtod(cmd + 6, NULL);
        sayi(api, reg, "replace", api->replace(api, 0, &copy));
        api->free_element(api, &copy);
    } else if (strcmp(cmd, "types") == 0) {
        char line[1000] = "types";
        uint32_t i, n = api->count(api);
        for (i = 0; i < n && strlen(line) < sizeof line - 12; ++i)
            snprintf(line + strlen(line), sizeof line - strlen(line), " %u",
                     (unsigned)api->get(api, i)->type);
        say(api, reg, line);
    } else if (strcmp(cmd, "badpos") == 0) {
        uint32_t n = api->count(api);
        lumbrake_element* e = new_meta(api, "k", "v");
        sayi(api, reg, "insert_before at count", api->insert_before(api, n, e));
        sayi(api, reg, "insert_after at huge", api->insert_after(api, 0xFFFFFFFFu, e));
        sayi(api, reg, "get at count is null", api->get(api, n) == NULL);
        drop(api, e);
        e = api->new_element(api, LUMBRAKE_EL_DOCINFO);
        sayi(api, reg, "replace at count", api->replace(api, n, e));
        drop(api, e);
        sayi(api, reg, "count unchanged", api->count(api) == n);
    } else if (strcmp(cmd, "badtype") == 0) {
        lumbrake_element* w = api->new_element(api, LUMBRAKE_EL_WORDBUF);
        lumbrake_element* m = new_meta(api, "k", "v");
        lumbrake_element* d = api->new_element(api, LUMBRAKE_EL_DOCINFO);
        sayi(api, reg, "insert wordbuf", api->insert_before(api, 0, w));
        sayi(api, reg, "insert docinfo", api->insert_after(api, 0, d));
        sayi(api, reg, "replace with meta", api->replace(api, 0, m));
        sayi(api, reg, "replace non-docinfo", api->replace(api, api->count(api) - 1, d));
        sayi(api, reg, "bad_operation", api->bad_operation(api));
        drop(api, w);
        drop(api, m);
        drop(api, d);
    } else if (strcmp(cmd, "nulls") == 0) {
        char* out = (char*)1;
        int r = 5;
        sayi(api, reg, "insert null", api->insert_before(api, 0, NULL));
        sayi(api, reg, "replace null", api->replace(api, 0, NULL));
        sayi(api, reg, "init null", api->init_element(api, 6, NULL));
        api->copy_element(api, NULL, NULL);
        api->free_element(api, NULL);
        sayi(api, reg, "case_fold null", api->case_fold(api, NULL, &out));
        sayi(api, reg, "compare null", api->compare_nocase(api, &r, NULL, "a"));
        sayi(api, reg, "normalize null", api->normalize_url(api, NULL, &out));
        sayi(api, reg, "test_chars null", api->test_chars(api, NULL));
    } else if (strcmp(cmd, "lastafter") == 0) {
        lumbrake_element* e = new_meta(api, "last", "one");
        uint32_t n = api->count(api);
        sayi(api, reg, "insert_after last", api->insert_after(api, n - 1, e));
        sayi(api, reg, "appended",
             api->count(api) == n + 1 && api->get(api, n)->type == LUMBRAKE_EL_META_DOCUMENTWIDE);
        drop(api, e);
    }
}

FIX_UNUSED static int fff_entry(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                void** config) {
    char* commands = api->strdup(api, *config ? (const char*)*config : "");
    char* cursor = commands;
    char* cmd;
    say(api, reg, "entry called");
    while ((cmd = strsep(&cursor, ";")) != NULL)
        run_command(api, reg, cmd);
    api->free(api, commands);
    return 42;
}

int lumbrake_plugin_registration(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                 const void* parameters, size_t parameters_length) {
    reg->type = FIX_TYPE;
    reg->name = FIX_NAME;
    reg->description = FIX_DESCRIPTION;
#ifndef FIX_NO_UNREGISTER
    reg->unregister = unregister;
#endif
#ifndef FIX_NO_CONFIG_CREATE
    reg->config_create = config_create;
#endif
#ifndef FIX_NO_CONFIG_DESTROY
    reg->config_destroy = config_destroy;
#endif
#ifndef FIX_NO_ENTRY
    reg->fff_entry = fff_entry;
#endif
    if (parameters_length > 0) {
        char line[300];
        snprintf(line, sizeof line, "parameters %.*s", (int)parameters_length,
                 (const char*)parameters);
        say(api, reg, line);
    }
    return FIX_RESULT;
}
