// The plug-in host: finds the plug-in shared objects of DEPLOYDIR/plugins, lets them register,
// offers them the services table, and (in the worker) keeps plug-ins and docfilters registered
// and runs the index plug-ins over documents.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/plugintypes.h"
#include "lumbrake/plugin.h"
#include "util/config.h"

namespace FFF {
class DocumentData;
}

namespace lumbrake {

class p_dlext;
struct Plugin;
struct DocFilter;

// One registered plug-in.
struct plugin_entry {
    std::string dll; // the library's path
    bool ok = false; // registered and its record passed the checks
    lumbrake_plugin_regdata regdata{};
};

// One configured docfilter: a plug-in and the configuration cell its config_create filled.
struct docfilter_entry {
    int plugin_id = 0;
    void** config = nullptr; // a pointer-sized cell from the table's alloc
};

class plugins_loader_base {
public:
    static constexpr const char* registration_symbol = LUMBRAKE_PLUGIN_REGISTRATION_SYMBOL;

    plugins_loader_base(bool flag, const config& cfg);
    virtual ~plugins_loader_base();
    plugins_loader_base(const plugins_loader_base&) = delete;
    plugins_loader_base& operator=(const plugins_loader_base&) = delete;

    // Fills the services table.
    virtual void fill_api();
    virtual bool accepts_type(int type) const;
    // Checks the functions a plug-in must provide; logs the first one missing.
    virtual bool check_regdata(const plugin_entry& entry) const;
    // out := the ids of in that has_plugin knows, in order; false when one was unknown.
    virtual bool resolve_ids(std::vector<int>& out, const std::vector<int>& in) const = 0;
    virtual bool has_plugin(int id) const = 0;
    virtual bool has_docfilter(int id) const = 0;

    // Creates the services table and loads the libraries of DEPLOYDIR/plugins. Without
    // DEPLOYDIR it logs the error and loads nothing. Returns true.
    bool load_plugins();
    // Registers every loaded library once, lists the valid ones and unregisters them again.
    void activate_plugins(std::vector<PluginDLLInfo>& out);

    // True once load_plugins found the plug-in folder's name.
    bool ready() const { return ready_; }
    bool flag() const { return flag_; }
    const std::string& plugin_directory() const { return directory_; }
    lumbrake_plugins_api* api() const { return api_.get(); }
    const std::map<int, plugin_entry>& plugins() const { return plugins_; }
    const std::map<int, docfilter_entry>& docfilters() const { return docfilters_; }

protected:
    // Destroys the docfilter's configuration through its plug-in and forgets it. False when
    // the docfilter or its plug-in is unknown (the docfilter then stays).
    bool remove_docfilter(int id);
    // Frees a configuration cell (its handle belongs to the plug-in).
    void free_cell(void** cell);

    bool ready_ = false;
    std::string dir_name_ = "plugins";
    std::string directory_;
    config cfg_;
    bool flag_;
    std::unique_ptr<p_dlext> libraries_;
    std::unique_ptr<lumbrake_plugins_api> api_;
    std::map<int, plugin_entry> plugins_;
    std::map<int, docfilter_entry> docfilters_;
};

// Keeps plug-ins registered and docfilters configured for the loader's life.
class pipelined_plugins_loader_base : public plugins_loader_base {
public:
    using plugins_loader_base::plugins_loader_base;

    bool check_regdata(const plugin_entry& entry) const override;
    bool resolve_ids(std::vector<int>& out, const std::vector<int>& in) const override;
    bool has_plugin(int id) const override;
    bool has_docfilter(int id) const override;

    // The path of the first library (in path order) whose plug-in is called name.
    bool find_plugin_dll(const std::string& name, std::string& dll_path);
    // Registers the plug-in called dll_name (the record's DLLName) under id, handing it the
    // parameter bytes.
    bool register_plugin(int id, const std::string& dll_name, const std::string& parameters);
    bool register_plugin(int id, const Plugin& record);
    // With with_docfilters, the docfilters of the plug-in are removed first.
    bool unregister_plugin(int id, bool with_docfilters);
    // (Re)configures docfilter id as an instance of plugin_id with the configuration bytes.
    bool configure_docfilter(int id, int plugin_id, const std::string& config_bytes);
    bool configure_docfilter(int id, const DocFilter& record);
};

// The loader of FFF plug-ins (registration types 2, 3 and 4), with the element stream.
class fff_plugins_loader : public pipelined_plugins_loader_base {
public:
    fff_plugins_loader(bool flag, const config& cfg);
    ~fff_plugins_loader() override;

    void fill_api() override;
    bool accepts_type(int type) const override;
    bool check_regdata(const plugin_entry& entry) const override;

    // Runs the docfilters of the pipeline over the document, which is replaced by the document
    // rebuilt from the element stream. An empty pipeline or a null document changes nothing.
    // Returns true.
    bool apply_index_plugins(const std::vector<int>& pipeline, const std::string& docid,
                             const std::string& url, const std::string& mimetype,
                             FFF::DocumentData*& document);

    // The element stream of the application in progress (for the services table).
    std::vector<lumbrake_element>& elements() { return elements_; }
    const std::vector<std::string>& link_urls() const { return link_urls_; }

private:
    void clear_elements();

    std::vector<lumbrake_element> elements_;
    std::vector<std::string> link_urls_;
};

// The services table entries the host offers; the element-stream entries are in
// element_stream.h.
void fill_base_services(lumbrake_plugins_api& api);
void fill_text_services(lumbrake_plugins_api& api);
void fill_element_services(lumbrake_plugins_api& api);

} // namespace lumbrake
