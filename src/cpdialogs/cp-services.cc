#include "cpdialogs/cp-services.h"

#include "client/string-conv.h"
#include "cpmodel/settings-model.h"

#include <atomic>

#include <wx/intl.h>

namespace lumbrake {

namespace {
// Installed once on the GUI thread; the updater thread only reads it.
std::atomic<cp_services*> installed{nullptr};
} // namespace

std::string cp_services::GetPrivateBaseURL() {
    const cp_connection_settings s = GetConnectionSettings();
    const wxLocale* locale = wxGetLocale();
    return private_base_url(wx_to_utf8(s.host), wx_to_utf8(s.port),
                            locale != nullptr ? wx_to_utf8(locale->GetCanonicalName()) : "");
}

void cp_services::OpenCachedDocument(const std::string& document_id) {
    OpenURL(GetPrivateBaseURL() + "/cache?doc=" + url_encode_all(document_id));
}

cp_services* get_cp_services() { return installed.load(); }
void set_cp_services(cp_services* services) { installed.store(services); }

} // namespace lumbrake
