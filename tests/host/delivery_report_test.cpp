#include <gtest/gtest.h>

#include <string>

#include "delivery/delivery_report.h"

namespace {

std::string Compose(std::string_view exe, uint32_t pid, std::string_view msg, bool opens) {
    qz45::DeliveryReport report;
    qz45::ComposeDeliveryReport(report, exe, pid, msg, opens);
    EXPECT_EQ(report.text[report.length], '\0');
    return std::string(report.text, report.length);
}

}  // namespace

TEST(DeliveryReport, BothFormsAndTheBreakerSentence) {
    EXPECT_EQ(Compose("C:\\Plant\\bin\\dbserver.exe", 4242, "tank 3 high", false),
              "Process dbserver.exe with id 4242 failed to log audit trail messages with "
              "message=*tank 3 high*.");
    EXPECT_EQ(Compose("dbserver.exe", 7, "", false),
              "Process id 7 failed to log audit trail messages with message=**.");
    EXPECT_EQ(Compose("", 7, "m", true),
              "Process id 7 failed to log audit trail messages with message=*m*. Audit trail "
              "logging will be disabled for this process until it is restarted.");
    std::string third = Compose("C:\\a.exe", 1, "x", true);
    EXPECT_NE(third.find("*x*. Audit trail logging"), std::string::npos);
}

TEST(DeliveryReport, LongestMessageAndPathAreNeverCut) {
    std::string msg(2047, 'm');
    std::string exe = "C:\\" + std::string(1019, 'e');
    std::string text = Compose(exe, 4294967295u, msg, true);
    EXPECT_NE(text.find("*" + msg + "*."), std::string::npos);
    EXPECT_NE(text.find(std::string(1019, 'e') + " with id 4294967295"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 22), "until it is restarted.");
}
