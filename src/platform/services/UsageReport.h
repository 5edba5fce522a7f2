#pragma once

namespace vornakel {

// Anonymous usage reporting and crash-issue collection. This build collects nothing and sends nothing; the calls
// exist so start-up reads the same on every platform.
namespace UsageReport {
void sendTrackingReport();
} // namespace UsageReport

namespace IssueReporter {
void setup(bool reportUnhandledIssues);
bool isSetUp();
} // namespace IssueReporter

} // namespace vornakel
