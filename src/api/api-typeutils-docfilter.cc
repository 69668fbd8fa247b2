#include "api/api-typeutils.h"

#include "util/base64.h"
#include "util/log.h"

namespace lumbrake {

namespace {

class docfilter_reader : public xml_record_reader {
public:
    docfilter_reader(DocFilter& f, bool& old_names) : f_(f), old_names_(old_names) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "docfilter" || name == "plugin-config") {
            f_.Name = xml_attr(attrs, "name");
            if (name != "docfilter") old_names_ = true;
        } else if (name == "description") {
            f_.Description.clear();
            in_description_ = true;
        } else if (name == "plugin") {
            xml_decimal(xml_attr(attrs, "id"), f_.PluginID);
            buffer_.clear();
            in_config_ = true;
        } else if (name == "acl") {
            read_acl_entry(attrs, f_.ACL);
        }
    }

    void end_element(std::string_view name) override {
        if (name == "plugin") {
            in_config_ = false;
            f_.Config.clear();
            base64_decoder decoder;
            decoder.decode(f_.Config, buffer_);
            decoder.finish();
            buffer_.clear();
        } else if (name == "description") {
            in_description_ = false;
            f_.Description = buffer_;
            buffer_.clear();
        }
    }

    void character_data(const char* bytes, int length) override {
        if (in_description_ || in_config_) buffer_.append(bytes, static_cast<std::size_t>(length));
    }

private:
    DocFilter& f_;
    bool& old_names_;
    std::string buffer_;
    bool in_description_ = false;
    bool in_config_ = false;
};

} // namespace

bool docfilter_to_xml(const DocFilter& f, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "docfilter").text_attr("name", f.Name).open();
    w.start(1, "description").open_inline();
    w.text(f.Description);
    w.close(-1, "description");
    w.start(1, "plugin").int_attr("id", f.PluginID).open_inline();
    std::string encoded;
    base64_encoder encoder;
    encoder.encode(encoded, f.Config);
    encoder.finish(encoded);
    w.raw(encoded);
    w.close(-1, "plugin");
    w.acl(f.ACL);
    w.close(0, "docfilter");
    return w.finish("docfilter", error);
}

bool docfilter_from_xml(const char* text, std::size_t length, DocFilter& filter, bool& old_names) {
    filter = DocFilter{};
    old_names = false;
    docfilter_reader reader(filter, old_names);
    bool ok = reader.parse(text, length);
    filter.Type = UNKNOWN_PLUGINTYPE;
    return ok;
}

} // namespace lumbrake
