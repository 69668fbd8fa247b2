// The cookie parameter dialog's fields and the record they edit: a user-name or password
// parameter carries no value of its own (the credentials record holds it).
#pragma once

#include "api/api-types.h"

#include <string>

namespace lumbrake {

struct cookie_param_fields {
    std::string name;
    std::string value;
    int choice = -1; // the type choice's selection (= the type); -1 for none
    bool operator==(const cookie_param_fields&) const = default;
};

// "Username", "Password", "Other" for the three types, empty for any other value
// (untranslated; the caller translates).
const char* cookie_param_type_label(int type);

// Fills the fields from the record; a type outside the three leaves choice and value alone.
void cookie_param_to_fields(const CookieParam& param, cookie_param_fields& fields);

// Reads the record back; no selection leaves type and value as they were.
void cookie_param_from_fields(const cookie_param_fields& fields, CookieParam& param);

// The value field is editable only for a parameter of type "Other".
inline bool cookie_param_value_enabled(int choice) { return choice == COOKIE_OTHER; }

} // namespace lumbrake
