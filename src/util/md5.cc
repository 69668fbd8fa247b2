#include "util/md5.h"

#include "util/log.h"

#include <openssl/evp.h>

namespace lumbrake {

std::string md5_hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // One-shot digest: only an exhausted allocator makes it fail, and MD5 has no other answer.
    int ok = EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    TN_ASSERT(ok == 1 && length == 16);
    static const char hex[] = "0123456789abcdef";
    std::string out(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
    return out;
}

} // namespace lumbrake
