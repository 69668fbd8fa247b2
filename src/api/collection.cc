#include "api/collection.h"

#include "api/api-typeutils.h"
#include "util/log.h"

namespace lumbrake {

namespace {

class collection_reader : public xml_record_reader {
public:
    explicit collection_reader(CollectionConfiguration& c) : c_(c) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "collection") {
            c_.Name = xml_attr(attrs, "name");
            c_.Description = xml_attr(attrs, "description");
        } else if (name == "archive") {
            c_.Archives.push_back(xml_atoi(xml_attr(attrs, "id")));
        } else if (name == "acl") {
            read_acl_entry(attrs, c_.ACL);
        }
    }

private:
    CollectionConfiguration& c_;
};

} // namespace

bool collection_to_xml(const CollectionConfiguration& c, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "collection")
        .text_attr("name", c.Name)
        .text_attr("description", c.Description)
        .open();
    for (int32_t id : c.Archives)
        w.start(1, "archive").int_attr("id", id).empty();
    w.acl(c.ACL);
    w.close(0, "collection");
    return w.finish("collection", error);
}

bool collection_from_xml(const char* text, std::size_t length,
                         CollectionConfiguration& collection) {
    collection = CollectionConfiguration{};
    collection_reader reader(collection);
    return reader.parse(text, length);
}

} // namespace lumbrake
