// Runs completion and routing over arbitrary 6,364-byte records: unterminated
// text fields, any Type, any History, any computer name and executable path.
// Checks the routing against the type, that a caller's own fields are never
// changed, and composes the delivery-failure report from the record's Message
// as a failed send does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <algorithm>
#include <cstdlib>

#include "delivery/delivery_report.h"
#include "delivery/event_completion.h"
#include "event/record_text.h"

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

// A field the library never writes, or one it writes only when empty.
template <class T>
bool Same(const T &after, const T &before) {
    return std::memcmp(&after, &before, sizeof after) == 0;
}
template <std::size_t N>
bool KeptIfFilled(const char (&after)[N], const char (&before)[N]) {
    return before[0] == 0 || Same(after, before);
}

qz45::Submitter Route(int32_t type) {
    switch (type) {
    case 3: case 31: case 32: case 37: return qz45::Submitter::Change;
    case 38: return qz45::Submitter::HistoryChange;
    default: return qz45::Submitter::General;
    }
}

// The report of a failed send quotes the whole Message, whatever the record
// holds, and never runs past its buffer.
bool ReportQuotesMessage(const EventRecord &r, const std::string &exe, bool opensBreaker) {
    auto *report = new qz45::DeliveryReport;
    const std::string_view message = qz45::FieldText(r.Message);
    qz45::ComposeDeliveryReport(*report, exe, 4242, message, opensBreaker);
    const std::string_view text(report->text, report->length);
    const std::string quoted = "message=*" + std::string(message) + "*.";
    bool ok = report->length < sizeof report->text && report->text[report->length] == 0 &&
              text.find(quoted) != std::string_view::npos &&
              (!opensBreaker ||
               text.substr(text.size() - std::strlen(qz45::kBreakerSentence)) ==
                   qz45::kBreakerSentence);
    delete report;
    return ok;
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
    auto *before = static_cast<EventRecord *>(std::malloc(sizeof(EventRecord)));
    std::memcpy(before, r, sizeof *r);
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
    ok = ok && (st.status != EVT_SUCCESS || s == Route(r->Type));
    // Texts the caller filled stay as they were (AppName is always replaced);
    // everything completion has no business with is left alone.
    ok = ok && KeptIfFilled(r->Path, before->Path) && KeptIfFilled(r->AppKey, before->AppKey) &&
         KeptIfFilled(r->Descriptor, before->Descriptor) &&
         KeptIfFilled(r->DescriptorType, before->DescriptorType) &&
         KeptIfFilled(r->Property, before->Property) && Same(r->User, before->User) &&
         Same(r->Domain, before->Domain) && Same(r->Message, before->Message) &&
         Same(r->AuditTrail, before->AuditTrail) && Same(r->Type, before->Type) &&
         Same(r->RefId, before->RefId) && Same(r->Severity, before->Severity) &&
         Same(r->Area, before->Area) && Same(r->Unit, before->Unit) &&
         Same(r->History, before->History) && Same(r->OldValue, before->OldValue) &&
         Same(r->NewValue, before->NewValue) &&
         (before->EventTime.secs == 0 && before->EventTime.usecs == 0 ||
          Same(r->EventTime, before->EventTime));
    // The executable path as the send export reads it: at most 1,022 bytes.
    ok = ok && ReportQuotesMessage(*r, platform.exe.substr(0, 1022), (size & 1) != 0);
    std::free(before);
    std::free(r);
    if (!ok) __builtin_trap();
    return 0;
}
