// Fuzz target: a string parameter is extracted from a buffer holding exactly the bytes
// MeasureStringParam says extraction reads, so any read past them is caught (ASan); what
// is extracted encodes back to the same bytes.
#include "FuzzCheck.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 17) {
        return 0;
    }
    int textLength = -1;
    const int measured =
        LxIpcMsgUtil::MeasureStringParam(data, static_cast<int>(size), &textLength);
    if (measured < 0) {
        return 0;
    }
    // The whole parameter, or only a length field that extraction refuses.
    ZAM_FUZZ_CHECK(measured <= static_cast<int>(size) && textLength >= 0);
    const bool whole = measured == textLength + LxIpcMsgUtil::StringParamOverhead;
    ZAM_FUZZ_CHECK(whole || (measured == LxIpcMsgUtil::IntegerSize && textLength == 0));

    const auto bytes = static_cast<size_t>(measured);
    const auto textBytes = static_cast<size_t>(textLength) + 1; // N and the NUL
    const std::unique_ptr<unsigned char[]> param(new unsigned char[bytes]);
    std::copy(data, data + bytes, param.get());
    const std::unique_ptr<unsigned char[]> text(new unsigned char[textBytes]);

    const unsigned char* cursor = param.get();
    unsigned char* out = text.get();
    const bool valid = LxIpcMsgUtil::ExtractStringParam(&cursor, &out, false) == 0;
    ZAM_FUZZ_CHECK(out == text.get());
    if (!valid) {
        ZAM_FUZZ_CHECK(cursor == param.get()); // a refusal moves nothing
    } else {
        ZAM_FUZZ_CHECK(whole && cursor == param.get() + measured);
        ZAM_FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(text.get())) ==
                       static_cast<size_t>(textLength));
        LxIpcMsgBuffer again(0);
        LxIpcMsgUtil::PutStringParam(&again, reinterpret_cast<const char*>(text.get()));
        ZAM_FUZZ_CHECK(again.GetLength() == measured &&
                       std::memcmp(again.GetBuf(), param.get(), bytes) == 0);
    }

    // The allocating form accepts and copies exactly the same.
    cursor = param.get();
    unsigned char* copy = nullptr;
    ZAM_FUZZ_CHECK((LxIpcMsgUtil::ExtractStringParam(&cursor, &copy, true) == 0) == valid);
    if (valid) {
        ZAM_FUZZ_CHECK(copy != nullptr && std::memcmp(copy, text.get(), textBytes) == 0);
        delete[] copy;
    } else {
        ZAM_FUZZ_CHECK(copy == nullptr);
    }
    return 0;
}
