#include <gtest/gtest.h>

#include "ErrorReport.h"

TEST(ErrorReport, ComposesSentencesAndCodes) {
    ErrorReport empty;
    EXPECT_FALSE(empty.HasErrors());
    EXPECT_EQ(empty.ComposeText(), "No errors occurred");

    ErrorReport report;
    report.AddMessage("Upload stopped unexpectedly");
    report.AddMessage("The upload was incomplete");
    EXPECT_EQ(report.ComposeText(), "Upload stopped unexpectedly. The upload was incomplete.\n");
    EXPECT_EQ(report.FinalResult(), 0);  // messages alone: DISP_E_EXCEPTION at ReportError

    ErrorReport dots;
    dots.AddMessage("Already ends.");
    dots.AddMessage("");
    dots.AddMessage("x");
    EXPECT_EQ(dots.Messages(), "Already ends.  x.");
    EXPECT_EQ(dots.MessageCount(), 3);

    ErrorReport path;
    path.SetWin32Error(3);
    EXPECT_EQ(path.ComposeText(),
              "A Windows error occurred that indicates that a file path could not be found (0x00000003).\n");
    EXPECT_EQ(static_cast<uint32_t>(path.FinalResult()), 0x80040003u);

    ErrorReport denied;
    denied.SetResultCode(static_cast<HRESULT>(0x80070005));
    denied.SetWin32Error(5);
    EXPECT_EQ(static_cast<uint32_t>(denied.FinalResult()), 0x80070005u);  // the result code wins
    denied.Reset();
    EXPECT_FALSE(denied.HasErrors());
    EXPECT_EQ(denied.Text(), "");
}

TEST(ErrorReport, DescribesWindowsErrors) {
    EXPECT_EQ(DescribeWindowsError(0), "");
    EXPECT_EQ(DescribeWindowsError(2),
              "A Windows error occurred that indicates that a file could not be found (0x00000002).\n");
    EXPECT_EQ(DescribeWindowsError(8), DescribeWindowsError(8));
    EXPECT_NE(DescribeWindowsError(14).find("there was not enough memory (0x0000000e)"), std::string::npos);
    EXPECT_NE(DescribeWindowsError(15).find("the drive did not exist"), std::string::npos);
    EXPECT_EQ(DescribeWindowsError(0x80070005), "A Windows error - Access is denied.\r\n - (0x80070005) occurred.\n");
    EXPECT_EQ(DescribeWindowsError(1326),
              "A Windows error - The user name or password is incorrect.\r\n - (0x0000052e) occurred.\n");
    // No system text: the frame is still written.
    EXPECT_EQ(DescribeWindowsError(0x20001234), "A Windows error -  - (0x20001234) occurred.\n");
}
