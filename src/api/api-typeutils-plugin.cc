#include "api/api-typeutils.h"

#include "util/base64.h"
#include "util/log.h"

namespace lumbrake {

namespace {

class plugin_reader : public xml_record_reader {
public:
    explicit plugin_reader(Plugin& p) : p_(p) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "plugin") {
            p_.Name = xml_attr(attrs, "name");
        } else if (name == "description") {
            p_.Description.clear();
            in_description_ = true;
        } else if (name == "dll") {
            p_.DLLName = xml_attr(attrs, "name");
            buffer_.clear();
            in_parameters_ = true;
        } else if (name == "acl") {
            read_acl_entry(attrs, p_.ACL);
        }
    }

    void end_element(std::string_view name) override {
        if (name == "dll") {
            in_parameters_ = false;
            p_.DLLParameters.clear();
            base64_decoder decoder;
            decoder.decode(p_.DLLParameters, buffer_);
            decoder.finish();
            buffer_.clear();
        } else if (name == "description") {
            in_description_ = false;
            p_.Description = buffer_;
            buffer_.clear();
        }
    }

    void character_data(const char* bytes, int length) override {
        if (in_description_ || in_parameters_)
            buffer_.append(bytes, static_cast<std::size_t>(length));
    }

private:
    Plugin& p_;
    std::string buffer_;
    bool in_description_ = false;
    bool in_parameters_ = false;
};

class renderer_pipe_reader : public xml_record_reader {
public:
    renderer_pipe_reader(RendererPluginPipe& p, bool& old_names) : p_(p), old_names_(old_names) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "renderer-pipe" || name == "docfilters" || name == "plugins-configs") {
            p_.DocFilterIDs.clear();
            if (name == "plugins-configs") old_names_ = true;
        } else if (name == "docfilter" || name == "plugin-config") {
            int32_t id = 0; // an id that is not a number is kept as 0
            xml_decimal(xml_attr(attrs, "id"), id);
            p_.DocFilterIDs.push_back(id);
            if (name == "plugin-config") old_names_ = true;
        }
    }

private:
    RendererPluginPipe& p_;
    bool& old_names_;
};

} // namespace

bool plugin_to_xml(const Plugin& p, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "plugin").text_attr("name", p.Name).open();
    w.start(1, "description").open_inline();
    w.text(p.Description);
    w.close(-1, "description");
    w.start(1, "dll").text_attr("name", p.DLLName).open_inline();
    std::string encoded;
    base64_encoder encoder;
    encoder.encode(encoded, p.DLLParameters);
    encoder.finish(encoded);
    w.raw(encoded);
    w.close(-1, "dll");
    w.acl(p.ACL);
    w.close(0, "plugin");
    return w.finish("plugin", error);
}

bool plugin_from_xml(const char* text, std::size_t length, Plugin& plugin) {
    plugin = Plugin{};
    plugin_reader reader(plugin);
    bool ok = reader.parse(text, length);
    plugin.Type = UNKNOWN_PLUGINTYPE;
    return ok;
}

bool renderer_pipe_to_xml(const RendererPluginPipe& pipe, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "renderer-pipe").open();
    w.start(1, "docfilters").open();
    for (int32_t id : pipe.DocFilterIDs)
        w.start(2, "docfilter").int_attr("id", id).empty();
    w.close(1, "docfilters");
    w.close(0, "renderer-pipe");
    return w.finish("renderer pipe", error);
}

bool renderer_pipe_from_xml(const char* text, std::size_t length, RendererPluginPipe& pipe,
                            bool& old_names) {
    pipe = RendererPluginPipe{};
    old_names = false;
    renderer_pipe_reader reader(pipe, old_names);
    return reader.parse(text, length);
}

} // namespace lumbrake
