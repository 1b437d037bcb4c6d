#include "resolverdnsquery.h"

#include <algorithm>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

bool ResolverDnsQuery::QuerySrv(const std::string& name, std::vector<unsigned char>* answer)
{
    answer->clear();
    struct __res_state state = {};
    if (res_ninit(&state) != 0)
        return false;
    state.retrans = kTimeoutSeconds;
    state.retry = 1;
    std::vector<unsigned char> buffer(65536);
    const int length = res_nquery(&state, name.c_str(), ns_c_in, ns_t_srv, buffer.data(),
                                  static_cast<int>(buffer.size()));
    const int herror = state.res_h_errno;
    res_nclose(&state);
    if (length < 0) {
        // res_nquery hides the answer of a name error; it is still an answer: "no records".
        if (herror == HOST_NOT_FOUND || herror == NO_DATA)
            return true;
        return false;
    }
    // A truncated answer reports the full length; only the bytes in the buffer are there.
    buffer.resize(std::min(static_cast<size_t>(length), buffer.size()));
    *answer = std::move(buffer);
    return true;
}
