#include "platform/services/UsageReport.h"

namespace vornakel {
namespace {
bool gIssueReporterSetUp = false;
} // namespace

void UsageReport::sendTrackingReport() {}

void IssueReporter::setup(bool)
{
    gIssueReporterSetUp = true;
}

bool IssueReporter::isSetUp()
{
    return gIssueReporterSetUp;
}

} // namespace vornakel
