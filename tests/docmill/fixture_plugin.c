/* A plug-in for the docmill tests: adds one document-wide meta to every document. Its
 * docfilter configuration is the text "key=value". */
#include "lumbrake/plugin.h"

#include <string.h>

static void unregister_plugin(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg) {
    (void)api;
    (void)reg;
}

static int config_create(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, void** config,
                         const void* data, size_t length) {
    (void)reg;
    char* text = api->alloc(api, length + 1);
    if (!text) return 1;
    memcpy(text, data, length);
    text[length] = '\0';
    if (!strchr(text, '=')) {
        api->free(api, text);
        return 2;
    }
    *config = text;
    return 0;
}

static void config_destroy(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, void** config) {
    (void)reg;
    api->free(api, *config);
    *config = NULL;
}

static int add_meta(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg, void** config) {
    (void)reg;
    const char* text = *config;
    const char* eq = strchr(text, '=');
    lumbrake_element* e = api->new_element(api, LUMBRAKE_EL_META_DOCUMENTWIDE);
    if (!e) return 1;
    e->u.meta.slice = 2;
    e->u.meta.key = api->alloc(api, (size_t)(eq - text) + 1);
    memcpy(e->u.meta.key, text, (size_t)(eq - text));
    e->u.meta.key[eq - text] = '\0';
    e->u.meta.value = api->strdup(api, eq + 1);
    int ok = api->insert_after(api, 0, e);
    api->free_element(api, e);
    api->free(api, e);
    return ok ? 0 : 3;
}

int lumbrake_plugin_registration(lumbrake_plugins_api* api, lumbrake_plugin_regdata* reg,
                                 const void* parameters, size_t parameters_length) {
    (void)api;
    (void)parameters;
    (void)parameters_length;
    reg->type = LUMBRAKE_PLUGIN_ARCHIVEFFF;
    reg->name = "docmill-test-meta";
    reg->description = "adds a document-wide meta";
    reg->unregister = unregister_plugin;
    reg->config_create = config_create;
    reg->config_destroy = config_destroy;
    reg->fff_entry = add_meta;
    return 0;
}
