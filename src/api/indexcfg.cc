#include "api/indexcfg.h"

#include "api/api-typeutils.h"
#include "util/log.h"

namespace lumbrake {

namespace {

class index_reader : public xml_record_reader {
public:
    explicit index_reader(IndexConfiguration& i) : i_(i) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        auto attr = [&](std::string_view n) -> const std::string& { return xml_attr(attrs, n); };
        if (name == "index") {
            i_.Name = attr("name");
            i_.Historicize = attr("historicize") == "true";
        } else if (name == "contact") {
            if (attr("type") == "admin") i_.AdministrativeContact = attr("email");
        } else if (name == "seed") {
            i_.Seeds.push_back(attr("url"));
        } else if (name == "filter") {
            const std::string& type = attr("type");
            if (type == "include")
                i_.IncludeFilters.push_back(attr("url"));
            else if (type == "exclude")
                i_.ExcludeFilters.push_back(attr("url"));
        } else if (name == "scheduling") {
            const std::string& frequency = attr("frequency");
            if (!frequency_from_token(frequency, i_.SchedulingFrequency)) {
                TN_LOG(LF_API, LL_ERROR, "Unknown scheduling frequency " << frequency);
                i_.SchedulingFrequency = DISABLED;
            }
            i_.SchedulingAttribute = xml_atoi(attr("attribute"));
            i_.AccessTime = xml_atoi(attr("accesstime"));
        } else if (name == "limit") {
            i_.PagesLimit = xml_atoi(attr("pages"));
            i_.DepthLimit = xml_atoi(attr("depth"));
        } else if (name == "garbage") {
            i_.GarbageLimit = xml_atoi(attr("limit"));
        }
    }

private:
    IndexConfiguration& i_;
};

} // namespace

bool index_from_xml(const char* text, std::size_t length, IndexConfiguration& index) {
    index = IndexConfiguration{};
    index_reader reader(index);
    return reader.parse(text, length);
}

} // namespace lumbrake
