// Fuzz target: a string parameter is extracted from a buffer holding the input (zero-filled
// to at least a length field) and one NUL byte after it, in a heap block of exactly that
// size, as DeSerialize's zero-filled copy holds one: extraction must read nothing beyond
// (ASan), and what it accepts encodes back to the bytes it consumed. Its length field, like
// every integer, is 4 big-endian bytes that ExtractInteger reads and PutInteger writes back.
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
    const size_t held = std::max<size_t>(size, LxIpcMsgUtil::IntegerSize) + 1;
    const std::unique_ptr<unsigned char[]> param(new unsigned char[held]());
    std::copy(data, data + size, param.get());
    const std::unique_ptr<unsigned char[]> text(new unsigned char[held]);

    const unsigned char* word = param.get();
    const auto value = static_cast<int>(static_cast<unsigned int>(word[0]) << 24 | word[1] << 16 |
                                        word[2] << 8 | word[3]);
    ZAM_FUZZ_CHECK(LxIpcMsgUtil::ExtractInteger(word) == value);
    LxIpcMsgBuffer integer(0);
    LxIpcMsgUtil::PutInteger(&integer, value);
    ZAM_FUZZ_CHECK(integer.GetLength() == 4 && std::memcmp(integer.GetBuf(), word, 4) == 0);

    const unsigned char* cursor = param.get();
    unsigned char* out = text.get();
    const bool valid = LxIpcMsgUtil::ExtractStringParam(&cursor, &out, false) == 0;
    ZAM_FUZZ_CHECK(out == text.get());
    const auto consumed = static_cast<size_t>(cursor - param.get());
    if (!valid) {
        ZAM_FUZZ_CHECK(consumed == 0); // a refusal moves nothing
    } else {
        const size_t length = std::strlen(reinterpret_cast<const char*>(text.get()));
        ZAM_FUZZ_CHECK(consumed == length + LxIpcMsgUtil::StringParamOverhead);
        LxIpcMsgBuffer again(0);
        LxIpcMsgUtil::PutStringParam(&again, reinterpret_cast<const char*>(text.get()));
        ZAM_FUZZ_CHECK(static_cast<size_t>(again.GetLength()) == consumed &&
                       std::memcmp(again.GetBuf(), param.get(), consumed) == 0);
    }

    // The allocating form accepts and copies exactly the same.
    cursor = param.get();
    unsigned char* copy = nullptr;
    ZAM_FUZZ_CHECK((LxIpcMsgUtil::ExtractStringParam(&cursor, &copy, true) == 0) == valid);
    if (valid) {
        ZAM_FUZZ_CHECK(copy != nullptr && std::memcmp(copy, text.get(), consumed - 4) == 0);
        delete[] copy;
    } else {
        ZAM_FUZZ_CHECK(copy == nullptr);
    }
    return 0;
}
