#include "delivery/delivery_report.h"

#include <cstdio>

namespace qz45 {

const char kBreakerSentence[] =
    " Audit trail logging will be disabled for this process until it is restarted.";

void ComposeDeliveryReport(DeliveryReport &out, std::string_view executablePath,
                           uint32_t processId, std::string_view message, bool opensBreaker) {
    const std::size_t slash = executablePath.rfind('\\');
    const int msgLen = static_cast<int>(message.size());
    int n;
    if (slash != std::string_view::npos) {
        std::string_view file = executablePath.substr(slash + 1);
        n = std::snprintf(out.text, sizeof out.text,
                          "Process %.*s with id %lu failed to log audit trail messages with "
                          "message=*%.*s*.",
                          static_cast<int>(file.size()), file.data(),
                          static_cast<unsigned long>(processId), msgLen, message.data());
    } else {
        n = std::snprintf(out.text, sizeof out.text,
                          "Process id %lu failed to log audit trail messages with message=*%.*s*.",
                          static_cast<unsigned long>(processId), msgLen, message.data());
    }
    std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (len >= sizeof out.text) len = sizeof out.text - 1;
    if (opensBreaker) {
        int m = std::snprintf(out.text + len, sizeof out.text - len, "%s", kBreakerSentence);
        if (m > 0) len += static_cast<std::size_t>(m);
        if (len >= sizeof out.text) len = sizeof out.text - 1;
    }
    out.length = len;
}

}  // namespace qz45
