// What the tests compare against: the core's own report of a log, and UTF-8 literals as bytes.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "log_report.h"

// The report BuildLogReport gives for the log at `path`; a failed build fails the test.
inline std::string ReportOf(const std::string& path)
{
    LogReport report;
    EXPECT_EQ(REPORT_OK, BuildLogReport(path.c_str(), &report)) << path;
    std::string text(report.text ? report.text : "", static_cast<size_t>(report.length));
    ReleaseLogReport(&report);
    return text;
}

// A u8 literal as the bytes a std::string compares.
inline std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}
