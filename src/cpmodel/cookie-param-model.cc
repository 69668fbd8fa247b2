#include "cpmodel/cookie-param-model.h"

namespace lumbrake {

const char* cookie_param_type_label(int type) {
    switch (type) {
    case COOKIE_USERNAME: return "Username";
    case COOKIE_PASSWORD: return "Password";
    case COOKIE_OTHER: return "Other";
    default: return "";
    }
}

void cookie_param_to_fields(const CookieParam& param, cookie_param_fields& fields) {
    fields.name = param.Name;
    switch (param.Type) {
    case COOKIE_USERNAME:
    case COOKIE_PASSWORD:
        fields.choice = param.Type;
        fields.value.clear();
        break;
    case COOKIE_OTHER:
        fields.choice = COOKIE_OTHER;
        fields.value = param.Value;
        break;
    default: break;
    }
}

void cookie_param_from_fields(const cookie_param_fields& fields, CookieParam& param) {
    param.Name = fields.name;
    switch (fields.choice) {
    case COOKIE_USERNAME:
    case COOKIE_PASSWORD:
        param.Type = static_cast<CookieParamType>(fields.choice);
        param.Value.clear();
        break;
    case COOKIE_OTHER:
        param.Type = COOKIE_OTHER;
        param.Value = fields.value;
        break;
    default: break;
    }
}

} // namespace lumbrake
