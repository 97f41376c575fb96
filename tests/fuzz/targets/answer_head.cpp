// The head of a camera's answer to an upload.
#include "transport/MultipartUpload.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TAnswerHead head;
    if (ParseAnswerHead(std::string(reinterpret_cast<const char*>(data), size), head) &&
        head.ContentLength < -1)
        std::abort();
    return 0;
}
