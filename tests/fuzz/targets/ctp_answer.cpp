// A CTP answer as one read brings it.
#include "transport/CtpSession.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TCtpAnswer a = ParseCtpAnswer(std::string_view(reinterpret_cast<const char*>(data), size));
    if ((!a.Rest.empty() && a.Rest.size() >= size) || (a.Interim && a.Code != 0)) std::abort();
    return 0;
}
