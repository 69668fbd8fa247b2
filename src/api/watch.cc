#include "api/watch.h"

#include "api/api-typeutils.h"
#include "util/log.h"

namespace lumbrake {

namespace {

const char* const parser_tokens[] = {"none", "rpn", "alg", "net"};

class watch_reader : public xml_record_reader {
public:
    explicit watch_reader(WatchConfiguration& w) : w_(w) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        auto attr = [&](std::string_view n) -> const std::string& { return xml_attr(attrs, n); };
        if (name == "watch") {
            w_.Name = attr("name");
            w_.Description = attr("description");
        } else if (name == "query") {
            const std::string& parser = attr("parser");
            for (int i = 0; i < 4; ++i)
                if (parser == parser_tokens[i]) w_.Parser = QueryParser(i);
            if (parser == "soa") // the older name of the algebraic syntax
                w_.Parser = ALGPARSER;
            w_.Query = attr("text");
            w_.Freshness = xml_atoi(attr("freshness"));
            w_.Collection = xml_atoi(attr("collection"));
        } else if (name == "acl") {
            read_acl_entry(attrs, w_.ACL);
        }
    }

private:
    WatchConfiguration& w_;
};

} // namespace

bool watch_to_xml(const WatchConfiguration& w, std::string& xml, std::string* error) {
    if (w.Parser < 0 || w.Parser > 3) {
        // An empty token would read back as the default parser: refuse instead.
        std::string message = "Cannot write watch record: query parser " +
                              std::to_string(int(w.Parser)) + " is out of range";
        TN_LOG(LF_API, LL_ERROR, message);
        if (error) *error = message;
        xml.clear();
        return false;
    }
    xml_record_writer out(xml);
    out.start(0, "watch").text_attr("name", w.Name).text_attr("description", w.Description).open();
    out.start(1, "query")
        .text_attr("text", w.Query)
        .token("parser", parser_tokens[w.Parser])
        .int_attr("freshness", w.Freshness)
        .int_attr("collection", w.Collection)
        .empty();
    out.acl(w.ACL);
    out.close(0, "watch");
    return out.finish("watch", error);
}

bool watch_from_xml(const char* text, std::size_t length, WatchConfiguration& watch) {
    watch = WatchConfiguration{};
    watch_reader reader(watch);
    return reader.parse(text, length);
}

} // namespace lumbrake
