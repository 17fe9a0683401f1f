// Runs completion and routing over arbitrary 6,364-byte records: unterminated
// text fields, any Type, any History, any computer name and executable path.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <algorithm>
#include <cstdlib>

#include "delivery/event_completion.h"

namespace {

class FuzzPlatform : public qz45::CompletionPlatform {
public:
    std::string name, exe;
    int64_t ComputerName(char *buf, uint32_t capacity) const override {
        if (name.empty()) return -1;
        if (name.size() + 1 > capacity) return static_cast<int64_t>(name.size() + 1);
        std::memcpy(buf, name.c_str(), name.size() + 1);
        return static_cast<int64_t>(name.size());
    }
    uint32_t ExecutablePath(char *buf, uint32_t capacity) const override {
        std::size_t n = exe.size() < capacity ? exe.size() : capacity;
        std::memcpy(buf, exe.data(), n);  // not terminated when cut, like the real read
        return static_cast<uint32_t>(n);
    }
    int32_t Now() const override { return 1; }
};

template <std::size_t N>
bool Terminated(const char (&f)[N]) {
    return std::memchr(f, 0, N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // The record is a heap block of exactly its size, so a read past any
    // field at the end of it is caught.
    auto *r = static_cast<EventRecord *>(std::malloc(sizeof(EventRecord)));
    std::size_t n = size < sizeof(EventRecord) ? size : sizeof(EventRecord);
    std::memset(r, 0, sizeof *r);
    std::memcpy(r, data, n);
    FuzzPlatform platform;
    std::size_t rest = size - n;
    if (rest > 0) {
        std::size_t split = data[n] % (rest + 1);
        platform.name.assign(reinterpret_cast<const char *>(data + n), split);
        platform.name.erase(std::remove(platform.name.begin(), platform.name.end(), '\0'),
                            platform.name.end());
        platform.exe.assign(reinterpret_cast<const char *>(data + n + split), rest - split);
    }
    // Fields the library fills are those that were empty; a caller's own
    // unterminated text stays as it was.
    const bool pathEmpty = r->Path[0] == 0, keyEmpty = r->AppKey[0] == 0,
               typeEmpty = r->DescriptorType[0] == 0;
    EventStatus st{};
    st.hresult = 0x55;
    qz45::Submitter s = qz45::CompleteEvent(*r, st, platform);
    bool ok = st.hresult == 0x55 &&
              (st.status == EVT_SUCCESS) == (s != qz45::Submitter::None) &&
              (st.status == EVT_SUCCESS || st.status == EVT_E_INVALID ||
               st.status == EVT_E_BAD_TYPE);
    if (st.status == EVT_SUCCESS)
        ok = ok && (!pathEmpty || Terminated(r->Path)) && (!keyEmpty || Terminated(r->AppKey)) &&
             (!typeEmpty || Terminated(r->DescriptorType)) && Terminated(r->AppName) &&
             r->User[0] != 0 && r->Domain[0] != 0;
    std::free(r);
    if (!ok) __builtin_trap();
    return 0;
}
