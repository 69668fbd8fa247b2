// MD5 digests as hexadecimal text: password hashes, document ids, the platform identifier.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

// The MD5 digest of every byte of data (zero bytes included) as 32 lowercase hex digits.
std::string md5_hex(std::string_view data);

} // namespace lumbrake
