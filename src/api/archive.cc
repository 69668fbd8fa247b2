#include "api/archive.h"

#include "api/api-typeutils.h"
#include "util/log.h"

namespace lumbrake {

namespace {

const char* const frequency_tokens[] = {"disabled", "hourly", "daily", "weekly", "monthly"};
const char* const cache_tokens[] = {"full", "context", "none"};

class archive_reader : public xml_record_reader {
public:
    explicit archive_reader(ArchiveConfiguration& a) : a_(a) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        auto attr = [&](std::string_view n) -> const std::string& { return xml_attr(attrs, n); };
        if (name == "archive") {
            a_.Name = attr("name");
            a_.Historicize = attr("historicize") == "true";
        } else if (name == "contact") {
            if (attr("type") == "admin") a_.AdministrativeContact = attr("email");
        } else if (name == "source") {
            a_.Source = xml_atoi(attr("sourceid"));
            a_.Auth = xml_atoi(attr("authid"));
        } else if (name == "scheduling") {
            const std::string& frequency = attr("frequency");
            if (!frequency_from_token(frequency, a_.SchedulingFrequency)) {
                // Unlike other tokens, an unknown frequency disables the schedule.
                TN_LOG(LF_API, LL_ERROR, "Unknown scheduling frequency " << frequency);
                a_.SchedulingFrequency = DISABLED;
            }
            a_.SchedulingAttribute = xml_atoi(attr("attribute"));
            a_.AccessTime = xml_atoi(attr("accesstime"));
        } else if (name == "limit") {
            a_.PagesLimit = xml_atoi(attr("pages"));
        } else if (name == "garbage") {
            a_.GarbageLimit = xml_atoi(attr("limit"));
        } else if (name == "cache") {
            const std::string& document = attr("document");
            a_.DocumentCache = FULLCACHE; // an unknown mode falls back to the full cache
            bool known = false;
            for (int i = 0; i < 3; ++i)
                if (document == cache_tokens[i]) {
                    a_.DocumentCache = Cache(i);
                    known = true;
                }
            if (!known) TN_LOG(LF_API, LL_ERROR, "Unknown cache type " << document);
        } else if (name == "acl") {
            read_acl_entry(attrs, a_.ACL);
        }
    }

private:
    ArchiveConfiguration& a_;
};

// A record that holds an enum value outside its table is refused rather than written with an
// empty token, which would read back as a different value.
bool refuse(const std::string& message, std::string& xml, std::string* error) {
    TN_LOG(LF_API, LL_ERROR, message);
    if (error) *error = message;
    xml.clear();
    return false;
}

} // namespace

const char* frequency_token(int frequency) {
    return frequency >= 0 && frequency <= 4 ? frequency_tokens[frequency] : nullptr;
}

bool frequency_from_token(std::string_view token, Frequency& frequency) {
    for (int i = 0; i <= 4; ++i) {
        if (token == frequency_tokens[i]) {
            frequency = Frequency(i);
            return true;
        }
    }
    return false;
}

bool archive_to_xml(const ArchiveConfiguration& a, std::string& xml, std::string* error) {
    const char* frequency = frequency_token(a.SchedulingFrequency);
    if (!frequency)
        return refuse("Cannot write archive record: scheduling frequency " +
                          std::to_string(int(a.SchedulingFrequency)) + " is out of range",
                      xml, error);
    if (a.DocumentCache < 0 || a.DocumentCache > 2)
        return refuse("Cannot write archive record: cache mode " +
                          std::to_string(int(a.DocumentCache)) + " is out of range",
                      xml, error);
    xml_record_writer w(xml);
    w.start(0, "archive").text_attr("name", a.Name).bool_attr("historicize", a.Historicize).open();
    w.start(1, "contact")
        .token("type", "admin")
        .text_attr("email", a.AdministrativeContact)
        .empty();
    w.start(1, "source").int_attr("sourceid", a.Source).int_attr("authid", a.Auth).empty();
    w.start(1, "scheduling")
        .token("frequency", frequency)
        .int_attr("attribute", a.SchedulingAttribute)
        .int_attr("accesstime", a.AccessTime)
        .empty();
    w.start(1, "limit").int_attr("pages", a.PagesLimit).empty();
    w.start(1, "garbage").int_attr("limit", a.GarbageLimit).empty();
    w.start(1, "cache").token("document", cache_tokens[a.DocumentCache]).empty();
    w.acl(a.ACL);
    w.close(0, "archive");
    return w.finish("archive", error);
}

bool archive_from_xml(const char* text, std::size_t length, ArchiveConfiguration& archive) {
    archive = ArchiveConfiguration{};
    archive_reader reader(archive);
    return reader.parse(text, length);
}

} // namespace lumbrake
